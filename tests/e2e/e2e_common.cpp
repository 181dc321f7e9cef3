// The helpers that every subject's cases share (tests/e2e/e2e.h).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

// ---- registry ------------------------------------------------------------------------

bool KeyExists(HKEY root, const std::string& key, REGSAM view)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | view, &k) != 0)
        return false;
    RegCloseKey(k);
    return true;
}

void DeleteValue(HKEY root, const char* key, const char* name, REGSAM view)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS | view, &k) == 0) {
        RegDeleteValueA(k, name);
        RegCloseKey(k);
    }
}

std::string GetString(HKEY root, const char* key, const char* name, REGSAM view)
{
    HKEY k;
    char data[1024] = "";
    DWORD size = sizeof data - 1;
    std::string result = "(none)";
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE | view, &k) == 0) {
        if (RegQueryValueExA(k, name, NULL, NULL, reinterpret_cast<BYTE*>(data), &size) == 0)
            result.assign(data, strnlen(data, size));
        RegCloseKey(k);
    }
    return result;
}


// ---- the install folder and the runs -------------------------------------------------

void LayOut(const std::string& folder)
{
    LayOutInstallFolder(folder, gLauncher, gTools + "standin.exe");
}

double Milliseconds(long long from, long long to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to - from) / static_cast<double>(frequency.QuadPart);
}



// Starts a program from a folder, which is also its working directory, and waits for it and
// for every process it started. The folder may be one whose name the ANSI code page cannot
// show.
Run RunProgramFrom(const std::wstring& program, const std::wstring& from, const char* arguments)
{
    PROCESS_INFORMATION process = {};
    Run run = {0xDEADBEEF, 0, 0, 0, FileTimeNow()};
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    run.started = now.QuadPart;
    HANDLE job = StartInJob(program, L"\"" + program + L"\"" + Widen(arguments), from, &process);
    if (!job) {
        printf("cannot start %ls: %lu\n", program.c_str(), GetLastError());
        return run;
    }
    WaitForSingleObject(process.hProcess, kRunTimeoutMs);
    QueryPerformanceCounter(&now);
    run.ended = now.QuadPart;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    run.exited = FileTimeValue(exited);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CHECK(WaitForJob(job, kChildrenTimeoutMs), "what %ls started still runs after %lu ms",
          program.c_str(), kChildrenTimeoutMs);
    return run;
}

// The launcher, from the start folder: the install folder unless a case says otherwise.
Run RunLauncherFrom(const std::wstring& from, const char* arguments)
{
    return RunProgramFrom(from + L"launcher.exe", from, arguments);
}

Run RunLauncher(const std::string& folder, const char* arguments, const std::string& startFolder)
{
    return RunLauncherFrom(Widen(startFolder.empty() ? folder : startFolder), arguments);
}

// Wine gives a child started with an empty command line its own quoted path instead, and
// gives the same for no command line at all: this cannot tell the two apart. The host tests
// check that the launcher hands CreateProcessA an empty, writable buffer.
bool EmptyCommandLine(const ChildStart& child)
{
    return child.commandLine.empty() || child.commandLine == "\"" + child.self + "\"";
}

// Starts the launcher in `folder` and returns the one child it started, checking the exit
// code and the 100 ms that the launcher stays after the start.
ChildStart RunAndExpectChild(const std::string& folder, const char* arguments, const char* child,
                             Run* run, const std::string& startFolder)
{
    Run local = RunLauncher(folder, arguments, startFolder);
    if (run)
        *run = local;
    CHECK(local.exitCode == 1, "exit code %lu", local.exitCode);
    std::vector<ChildStart> starts = ChildStarts(folder + child);
    CHECK(starts.size() == 1, "%s started %zu times", child, starts.size());
    const char* other = strcmp(child, kDriverChild) == 0 ? kSetupChild : kDriverChild;
    CHECK(ChildStarts(folder + other).empty(), "%s started too", other);
    if (starts.empty())
        return ChildStart{0, "", "", ""};
    const ChildStart& start = starts[0];
    // The launcher pauses 100 ms after the start. Both times are stamped by one clock, the
    // system time that Windows records a process's creation and exit in; it advances in
    // ticks of up to 15.625 ms (Windows' default timer interval), so two stamps 100 ms apart
    // may read up to one tick less.
    const double kPauseMs = 100.0, kSystemTimeTickMs = 15.625;
    double after = static_cast<double>(static_cast<long long>(local.exited - start.created)) / 1e4;
    CHECK(after >= kPauseMs - kSystemTimeTickMs, "launcher ended %.1f ms after it started the child",
          after);
    gAfterStartMargin = Fastest(gAfterStartMargin, after - (kPauseMs - kSystemTimeTickMs));
    ++gAfterStartRuns;
    return start;
}

void CheckTime(int line, const char* what, double measured, TimeBound bound, double limit)
{
    double margin = bound == kAtLeast ? measured - limit : limit - measured;
    if (std::isnan(margin))
        return;
    const char* relation = bound == kAtLeast ? "at least" : "at most";
    printf("timing: %s: %s %.0f ms, %s %.0f ms: margin %.0f ms\n", gCase, what, measured,
           relation, limit, margin);
    if (margin >= 0) {
        ++gPassed;
        return;
    }
    ++gFailed;
    printf("FAIL %s (line %d): %s %.0f ms, not %s %.0f ms\n", gCase, line, what, measured,
           relation, limit);
}

// From the launcher's start call to its child's creation; not a number where no child
// started (which fails a check of its own), so that no timing check judges it.
double ChildDelay(const Run& run, const ChildStart& start)
{
    if (start.created == 0)
        return NAN;
    return static_cast<double>(static_cast<long long>(start.created - run.startedAt)) / 1e4;
}

// The smaller of two delays, where either may be not a number (no child, or none yet).
double Fastest(double a, double b)
{
    return std::isnan(a) || b < a ? b : a;
}

// The fastest of several starts of the driver installer's stand-in by the floor program,
// from the install folder: what starting the child costs here without any wait, measured in
// the same run as the launcher's starts that are judged against it.
double FloorChildDelay(const std::string& folder)
{
    LayOut(folder);
    CopyFileA((gTools + "starter.exe").c_str(), (folder + "starter.exe").c_str(), FALSE);
    double fastest = NAN;
    for (int i = 0; i < kRunsPerTimingCase; ++i) {
        DeleteFileA((folder + kDriverChild + ".log").c_str());
        Run run = RunProgramFrom(Widen(folder + "starter.exe"), Widen(folder), "");
        std::vector<ChildStart> starts = ChildStarts(folder + kDriverChild);
        CHECK(starts.size() == 1, "the floor started the driver installer %zu times",
              starts.size());
        if (!starts.empty())
            fastest = Fastest(fastest, ChildDelay(run, starts[0]));
    }
    return fastest;
}

// The lines that the tests' DLL (tests/e2e/planted.cpp) wrote into "<its path>.log": the
// programs it was loaded into, and its detaches.
std::vector<std::string> DllLog(const std::string& dll)
{
    std::vector<std::string> lines;
    FILE* f = fopen((dll + ".log").c_str(), "r");
    char line[1024];
    while (f && fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = '\0';
        lines.push_back(line);
    }
    if (f)
        fclose(f);
    return lines;
}
