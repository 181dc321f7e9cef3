// Processes, threads, windows and the modal dialog: what the launcher starts, the windows it
// searches, the splash's modal loop, and how the process ends.
#include "tests/win32/machine.h"

#include <string.h>

#include <algorithm>

static HWND const kDialog = reinterpret_cast<HWND>(uintptr_t{0xD1A});
static HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(~uintptr_t{0});  // as Windows has it

static bool Deliver(DLGPROC procedure, UINT message, WPARAM wParam)
{
    procedure(kDialog, message, wParam, 0);
    return gSim.dialogEnded || gSim.quitPosted;
}

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, void*, void*, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID, LPCSTR currentDirectory, STARTUPINFOA* startup,
                    PROCESS_INFORMATION* process)
{
    SimLog(std::string("CreateProcessA ") + (application ? application : "(null)"));
    SimProcess started = {application ? application : "",
                          commandLine ? commandLine : "(null)",
                          currentDirectory ? currentDirectory : "(null)",
                          gSim.currentDirectory,
                          *startup,
                          inheritHandles != FALSE,
                          creationFlags,
                          false};
    started.started = !SimFails("CreateProcessA") && gSim.createProcessError == 0;
    gSim.processes.push_back(started);
    if (!started.started) {
        gSim.lastError = gSim.createProcessError ? gSim.createProcessError : ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    process->hProcess = reinterpret_cast<HANDLE>(uintptr_t{0x70});
    process->hThread = reinterpret_cast<HANDLE>(uintptr_t{0x74});
    return TRUE;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD,
                    DWORD* threadId)
{
    SimLog("CreateThread");
    if (SimFails("CreateThread") || !gSim.threadsCanStart || threadId == nullptr)
        return nullptr;
    *threadId = 0x77;
    gSim.threads.emplace_back(routine, parameter);
    return reinterpret_cast<HANDLE>(uintptr_t{0x78});
}

void Sleep(DWORD milliseconds)
{
    SimLog("Sleep " + std::to_string(milliseconds));
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM extra)
{
    SimLog("EnumWindows");
    if (SimFails("EnumWindows"))
        return FALSE;
    ++gSim.searches;
    for (const auto& window : gSim.windows) {
        if (window.fromSearch <= gSim.searches && !callback(window.handle, extra))
            return FALSE;
    }
    return TRUE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int capacity)
{
    if (capacity > 0)
        buffer[0] = '\0';
    if (SimFails("GetWindowTextA") || capacity <= 0)
        return 0;
    for (const auto& window : gSim.windows) {
        if (window.handle != handle)
            continue;
        size_t count = std::min(window.title.size(), static_cast<size_t>(capacity - 1));
        memcpy(buffer, window.title.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    }
    return 0;
}

// A modal loop without real threads: the dialog is initialised, the messages a test sends
// while the worker is still busy are delivered, then the worker runs to its end and what it
// posted is delivered. A dialog that nothing ends would hang on Windows; here it is logged.
INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam)
{
    SimLog("DialogBoxParamA " +
                       std::to_string(reinterpret_cast<uintptr_t>(templateName)));
    if (SimFails("DialogBoxParamA") || owner != nullptr)
        return -1;
    gSim.dialogShown = true;
    SimLoadByName("uxtheme.dll");
    if (Deliver(procedure, WM_INITDIALOG, static_cast<WPARAM>(initParam)))
        return gSim.dialogResult;
    for (const auto& message : gSim.messagesBeforeWorker) {
        if (Deliver(procedure, message.first, message.second))
            return gSim.dialogResult;
    }
    for (const auto& thread : gSim.threads)
        thread.first(thread.second);
    gSim.threads.clear();
    if (gSim.afterWorker)
        gSim.afterWorker();
    while (!gSim.posted.empty()) {
        UINT message = gSim.posted.front();
        gSim.posted.pop_front();
        if (Deliver(procedure, message, 0))
            return gSim.dialogResult;
    }
    SimLog("DialogBoxParamA hung");
    return -1;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    SimLog("EndDialog " + std::to_string(result));
    if (dialog != kDialog)
        return FALSE;
    gSim.dialogEnded = true;
    gSim.dialogResult = result;
    return TRUE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SimLog("PostMessageA " + std::to_string(message));
    if (window != kDialog || wParam != 0 || lParam != 0)
        return FALSE;
    gSim.posted.push_back(message);
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    SimLog("PostQuitMessage " + std::to_string(exitCode));
    gSim.quitPosted = true;
}

LPSTR GetCommandLineA(void)
{
    return &gSim.commandLine[0];
}

void ExitProcess(UINT exitCode)
{
    SimLog("ExitProcess " + std::to_string(exitCode));
    gSim.exited = true;
    gSim.exitCode = exitCode;
    gSim.dllsToldOfEnd = true;
    throw SimProcessEnded{};
}

HANDLE GetCurrentProcess(void)
{
    return kCurrentProcess;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode)
{
    SimLog(std::string("TerminateProcess ") + (process == kCurrentProcess ? "itself " : "another ") +
        std::to_string(exitCode));
    if (process != kCurrentProcess)
        return FALSE;
    gSim.exited = true;
    gSim.exitCode = exitCode;
    throw SimProcessEnded{};
}

DWORD GetCurrentProcessId(void)
{
    return gSim.processId;
}

DWORD GetCurrentThreadId(void)
{
    return gSim.threadId;
}

DWORD GetTickCount(void)
{
    return gSim.tickCount;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter)
{
    counter->QuadPart = gSim.performanceCounter;
    return TRUE;
}

