// What the programs that run beside the launcher (on Windows or under Wine) share: the registry values they
// set, the install folder they lay out, how they start the launcher and wait for what it
// started, and the record each stand-in child leaves of how it was started
// ("<created>|<own path>|<folder>|<command line>" per start, in "<path>.log").
#pragma once

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/contract.h"
#include "tests/e2e/shell_titles.h"

inline unsigned long long FileTimeValue(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline unsigned long long FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
}

// `view` is 0 for this program's own registry view, or KEY_WOW64_64KEY or KEY_WOW64_32KEY.
inline void SetValue(HKEY root, const char* key, const char* name, DWORD type,
                     const std::string& bytes, REGSAM view = 0)
{
    HKEY k;
    if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_ALL_ACCESS | view, NULL, &k, NULL) == 0) {
        RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
        RegCloseKey(k);
    }
}

inline void SetString(HKEY root, const char* key, const char* name, const std::string& value,
                      REGSAM view = 0)
{
    SetValue(root, key, name, REG_SZ, std::string(value.c_str(), value.size() + 1), view);
}

// Every folder along a path that ends in a backslash.
inline void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
}

// An install folder as the driver package lays it out, with stand-ins for both children and
// the launcher.
inline void LayOutInstallFolder(const std::string& folder, const std::string& launcher,
                                const std::string& standin)
{
    for (const char* sub : {kDriverFolder, kSetupFolder})
        MakeFolders(folder + sub);
    for (const char* child : {kDriverChild, kSetupChild}) {
        CopyFileA(standin.c_str(), (folder + child).c_str(), FALSE);
        DeleteFileA((folder + child + ".log").c_str());
    }
    CopyFileA(launcher.c_str(), (folder + "launcher.exe").c_str(), FALSE);
}

// The launcher reads the shell's title from progman.exe in the system folder, else the
// Windows folder: the tests' own goes in both (Wine's has no string 1). Given no module, both
// lose their progman.exe, Wine's own too, as on Windows Vista to 11. This program is built
// for the launcher's architecture, so these are the folders the launcher sees.
inline void InstallShellModule(const std::string& shellModule)
{
    char folder[MAX_PATH];
    for (UINT (WINAPI* folderOf)(LPSTR, UINT) : {GetSystemDirectoryA, GetWindowsDirectoryA}) {
        UINT length = folderOf(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            continue;
        std::string installed = std::string(folder) + "\\progman.exe";
        if (shellModule.empty())
            DeleteFileA(installed.c_str());
        else
            CopyFileA(shellModule.c_str(), installed.c_str(), FALSE);
    }
}

// Generous bounds for a launcher run and for the processes it started, on a slow or
// emulated CPU.
static const DWORD kRunTimeoutMs = 30000, kChildrenTimeoutMs = 60000;

inline std::wstring Widen(const std::string& text)
{
    wchar_t wide[4096];
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 4096);
    return length > 0 ? std::wstring(wide) : std::wstring();
}

// Starts a program in a job of its own: every process it starts joins the job, so that
// WaitForJob can wait for them all, and all end when the job is closed (this program too
// may be ended at any moment, and nothing of a run may outlive it). No crash dialog waits
// for an answer. Returns the job, or NULL when nothing started. The folder may be one whose
// name the ANSI code page cannot show.
inline HANDLE StartInJob(const std::wstring& program, std::wstring commandLine,
                         const std::wstring& folder, PROCESS_INFORMATION* process)
{
    HANDLE job = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (job)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (job && CreateProcessW(program.c_str(), &commandLine[0], NULL, NULL, FALSE,
                              CREATE_SUSPENDED, NULL, folder.c_str(), &startup, process)) {
        AssignProcessToJobObject(job, process->hProcess);
        ResumeThread(process->hThread);
        return job;
    }
    if (job)
        CloseHandle(job);
    return NULL;
}

inline HANDLE StartInJob(const std::string& program, const std::string& commandLine,
                         const std::string& folder, PROCESS_INFORMATION* process)
{
    return StartInJob(Widen(program), Widen(commandLine), Widen(folder), process);
}

// Waits until no process of the job is left, at most `timeoutMs`, and closes the job.
// A child records how it was started only after its own start-up, which can end long after
// the launcher has (seconds on a loaded or emulated CPU): read no record before this.
inline bool WaitForJob(HANDLE job, DWORD timeoutMs)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    info.ActiveProcesses = 1;
    for (DWORD waited = 0; waited <= timeoutMs; waited += 10, Sleep(10)) {
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                       sizeof info, NULL) ||
            info.ActiveProcesses == 0)
            break;
    }
    CloseHandle(job);
    return info.ActiveProcesses == 0;
}

struct ChildStart {
    unsigned long long created;  // FILETIME units: when the start call made the process
    std::string self, folder, commandLine;
};

inline std::vector<ChildStart> ChildStarts(const std::string& program)
{
    std::vector<ChildStart> starts;
    FILE* f = fopen((program + ".log").c_str(), "r");
    char line[2048];
    while (f && fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = '\0';
        std::vector<std::string> fields;
        std::string text = line;
        for (size_t at = 0; fields.size() < 3;) {  // the command line may hold bars itself
            size_t bar = text.find('|', at);
            if (bar == std::string::npos)
                break;
            fields.push_back(text.substr(at, bar - at));
            at = bar + 1;
            if (fields.size() == 3)
                fields.push_back(text.substr(at));
        }
        if (fields.size() == 4)
            starts.push_back({strtoull(fields[0].c_str(), NULL, 10), fields[1], fields[2], fields[3]});
    }
    if (f)
        fclose(f);
    return starts;
}
