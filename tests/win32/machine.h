// The simulated machine behind tests/win32/windows.h: registry, folders and the ANSI code page,
// processes, threads, windows and the modal dialog, module files and the shell, all in memory.
// A test sets the machine up in gSim, runs the launcher, and reads what the run did: what
// started, from where, with what command line; what the registry holds; which pauses were
// taken; the exit code. Every call goes into one record, gSim.log; any call that can fail can
// be made to fail: gSim.failAt names the Nth fallible call of a run.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

struct SimProcess {  // a CreateProcessA call
    std::string application;
    std::string commandLine;
    std::string currentDirectory;
    std::string launcherDirectory;  // the launcher's own current directory at the call
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

struct SimWorld {
    // The registry.
    std::vector<SimKey> keys;
    std::vector<SimValue> values;
    std::vector<std::pair<HKEY, std::string>> handles;  // every key opened, by handle
    int openKeys = 0;
    std::function<void()> afterFirstRead;  // another process's doing, once a value was read

    // The process and its system.
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
    // once SetDefaultDllDirectories has asked for it. The dialog manager loads the theme
    // library by name, as Windows XP and later do.
    std::string programFolder = "C:\\Start";
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string windowsDirectory = "C:\\WINDOWS";
    std::vector<SimModule> modules = {
        {"C:\\WINDOWS\\system32\\progman.exe", "Program Manager"},
        {"C:\\WINDOWS\\system32\\shell32.dll", ""},
        {"C:\\WINDOWS\\system32\\uxtheme.dll", ""},
    };
    bool hasDefaultDllDirectories = true;  // kernel32 exports SetDefaultDllDirectories
    DWORD defaultDllDirectories = 0;       // what it was called with; 0: never
    std::vector<std::string> modulesRun;   // loaded as code: their code runs in the process
    std::vector<std::string> modulesRead;  // loaded as data only
    int loadedModules = 0;                 // loaded and not yet freed

    // Windows, dialogs and threads.
    std::vector<SimWindow> windows;
    unsigned searches = 0;
    bool threadsCanStart = true;
    std::vector<std::pair<UINT, WPARAM>> messagesBeforeWorker;  // sent while the worker waits
    std::function<void()> afterWorker;  // another process's doing, once the worker is done
    bool dialogShown = false, dialogEnded = false, quitPosted = false;
    INT_PTR dialogResult = 0;
    std::vector<std::pair<LPTHREAD_START_ROUTINE, LPVOID>> threads;  // started, not yet run
    std::deque<UINT> posted;  // messages posted to the dialog

    // What the run did.
    std::vector<SimProcess> processes;
    std::vector<SimShellStart> shellStarts;
    DWORD lastError = 0;
    std::vector<std::string> log;
    bool exited = false;
    UINT exitCode = 0;
    bool dllsToldOfEnd = false;  // ExitProcess tells every DLL; TerminateProcess none

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
void SimUseCodePage932();  // Japanese, whose lead bytes are 0x81-0x9F and 0xE0-0xFC
void SimAddKey(HKEY root, const std::string& path, bool readOnly = false);
void SimSetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                 const std::string& bytes);
const SimValue* SimFindValue(HKEY root, const std::string& key, const std::string& name);
bool SimKeyExists(HKEY root, const std::string& path);
HWND SimAddWindow(const std::string& title, unsigned fromSearch = 1);
// Starts a program at its entry with this command line, as Windows does; its exit code once
// it has ended as a process ends.
UINT SimRunProgram(void (*entry)(void), const std::string& commandLine);
// The index of the first log entry that is `start` or goes on from it after a blank, or npos.
size_t SimLogIndex(const std::string& start);

// For the services' own files.
void SimLog(const std::string& entry);
bool SimFails(const char* call);  // counts a fallible call; true for the one to fail
bool SimSameText(const std::string& a, const std::string& b);
void SimLoadByName(const std::string& name);  // a load of the system's own, as code
