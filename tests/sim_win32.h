// A small simulated Win32 for the host tests: registry, current directory, windows with
// titles, started processes, threads, the modal dialog, OS version, module strings and the
// ANSI code page, all in memory. Every call is logged, and any call that can fail can be
// made to fail: SimWorld::failAt names the Nth fallible call of a run.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/win32.h"

struct SimValue {
    HKEY root;
    std::string key;
    std::string name;
    DWORD type;
    std::string bytes;
};

struct SimKey {
    HKEY root;
    std::string path;
    bool readOnly;  // opening it with write access is denied, as for a standard user
};

struct SimWindow {
    HWND handle;
    std::string title;
    unsigned fromSearch;  // seen by the EnumWindows calls from this one on (counting from 1)
};

struct SimProcess {
    std::string application;
    std::string commandLine;
    std::string currentDirectory;
    std::string launcherDirectory;  // the launcher's own current directory at the start call
    STARTUPINFOA startup;
    bool inheritHandles;
    DWORD creationFlags;
    bool started;
};

struct SimShellStart {  // a ShellExecuteExA call
    SHELLEXECUTEINFOA info;
    std::string file, parameters, directory;
};

struct SimModule {  // a module file on disk, and its string 1
    std::string path;
    std::string string1;
};

struct SimRegCall {
    std::string op;  // "open", "create", "query", "set"
    HKEY root;
    std::string key;
    REGSAM access;
    std::string name;
    DWORD type;
    std::string bytes;
    DWORD size;
};

struct SimWorld {
    // The registry.
    std::vector<SimKey> keys;
    std::vector<SimValue> values;
    std::vector<SimRegCall> regCalls;
    int openKeys = 0;

    // The process.
    std::string commandLine;
    std::string currentDirectory = "C:\\Start";
    // The current directory as NT keeps it, when a test names it in Unicode; empty: the
    // characters of currentDirectory. GetCurrentDirectoryA gives its best-fit conversion.
    std::u16string wideDirectory;
    bool refusesNoBestFit = false;  // NT 4: WideCharToMultiByte knows no WC_NO_BEST_FIT_CHARS
    UINT codePage = 1252;
    std::vector<BYTE> leadBytes;  // pairs of first and last lead byte
    DWORD platformId = VER_PLATFORM_WIN32_NT, major = 5, minor = 1;
    bool extendedVersionKnown = true;

    // Modules. A bare name is searched for as Windows does by default: the program's folder,
    // the system folder, the Windows folder, the current directory; only the system folder
    // once SetDefaultDllDirectories has asked for it.
    std::string programFolder = "C:\\Start";
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string windowsDirectory = "C:\\WINDOWS";
    std::vector<SimModule> modules = {
        {"C:\\WINDOWS\\system32\\progman.exe", "Program Manager"},
        {"C:\\WINDOWS\\system32\\shell32.dll", ""},
    };
    bool hasDefaultDllDirectories = true;  // kernel32 exports SetDefaultDllDirectories
    DWORD defaultDllDirectories = 0;       // what it was called with; 0: never
    std::vector<std::string> modulesRead;  // the file of every module loaded
    int loadedModules = 0;                 // loaded and not yet freed

    // Windows, dialogs and threads.
    std::vector<SimWindow> windows;
    unsigned searches = 0;
    bool threadsCanStart = true;
    std::vector<std::pair<UINT, WPARAM>> messagesBeforeWorker;  // sent while the worker waits
    std::function<void()> afterWorker;  // another process's doing, once the worker is done
    bool dialogShown = false, dialogEnded = false, quitPosted = false, workerRan = false;
    INT_PTR dialogResult = 0;

    // What the run did.
    std::vector<SimProcess> processes;
    std::vector<SimShellStart> shellStarts;
    DWORD lastError = 0;
    std::vector<DWORD> sleeps;
    std::vector<std::string> log;
    bool exited = false;
    UINT exitCode = 0;

    // What the stack cookie is made from, and what it was when the run's first call was
    // logged.
    DWORD processId = 0x1A4, threadId = 0x1B8, tickCount = 0x00C0FFEE;
    uintptr_t imageBase = 0x400000;  // where the image was loaded: GetModuleHandleA(NULL)
    long long performanceCounter = 0x0123456789ABLL;
    UINT_PTR cookieAtFirstCall = 0;

    // Fault injection.
    DWORD createProcessError = 0;  // not 0: every CreateProcessA fails with it
    unsigned failAt = 0;  // 0: nothing fails
    unsigned fallibleCalls = 0;
    std::set<std::string> fallibleCallsMade;  // the kinds of fallible call the run made
};

extern SimWorld gSim;

// ExitProcess, and TerminateProcess of the process itself, never return: they throw this,
// which the tests catch where the process would have ended.
struct SimProcessEnded {};

void SimReset();
void SimAddKey(HKEY root, const std::string& path, bool readOnly = false);
void SimSetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                 const std::string& bytes);
const SimValue* SimFindValue(HKEY root, const std::string& key, const std::string& name);
bool SimKeyExists(HKEY root, const std::string& path);
HWND SimAddWindow(const std::string& title, unsigned fromSearch = 1);
// Log entries that are `start` or go on from it after a blank; the first one's index, or npos.
unsigned SimCount(const std::string& start);
size_t SimLogIndex(const std::string& start);
