// The shell wait on each Windows version, a desktop window that comes up late, and the
// DirectX poll that a matching window ends early.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e.h"


// The fastest of several runs, from the launcher's start call to its child's creation.
static double FastestChildDelay(const std::string& folder, const char* child, int runs)
{
    double fastest = NAN;
    for (int i = 0; i < runs; ++i) {
        LayOut(folder);
        Run run;
        ChildStart start = RunAndExpectChild(folder, " 2", child, &run);
        fastest = Fastest(fastest, ChildDelay(run, start));
    }
    return fastest;
}

// A desktop window that comes up some time after the launcher's start, from a thread of its
// own, and stays until the run is over.
struct LateWindow {
    DWORD afterMs;
    HANDLE runOver;
    unsigned long long createdAt;
};

static DWORD WINAPI ShowLateDesktopWindow(LPVOID parameter)
{
    LateWindow* late = static_cast<LateWindow*>(parameter);
    Sleep(late->afterMs);
    HWND window = TopLevelWindow(ShellTitle().c_str());
    late->createdAt = FileTimeNow();
    WaitForSingleObject(late->runOver, kRunTimeoutMs + kChildrenTimeoutMs);
    DestroyWindow(window);
    return 0;
}

// One run with a desktop window that comes up `afterMs` after the launcher's start: the
// child must start after the window is up. Returns the child's delay, and when the window
// came up in `windowAt`, both from the launcher's start (not numbers where none started).
static double RunWithALateWindow(const std::string& folder, DWORD afterMs, double* windowAt)
{
    LateWindow late = {afterMs, CreateEventA(NULL, TRUE, FALSE, NULL), 0};
    LayOut(folder);
    HANDLE thread = CreateThread(NULL, 0, ShowLateDesktopWindow, &late, 0, NULL);
    Run run;
    ChildStart start = RunAndExpectChild(folder, " 2", kDriverChild, &run);
    SetEvent(late.runOver);
    WaitForSingleObject(thread, kRunTimeoutMs);
    CloseHandle(thread);
    CloseHandle(late.runOver);
    double delay = ChildDelay(run, start);
    *windowAt = late.createdAt == 0 ? NAN
                                    : static_cast<double>(static_cast<long long>(
                                          late.createdAt - run.startedAt)) / 1e4;
    // An order, not a time: no load can make the launcher see a window before it is up.
    CHECK(late.createdAt != 0 && start.created >= late.createdAt,
          "child started %.0f ms after the launcher, before the window came up at %lu ms", delay,
          afterMs);
    return delay;
}

// The shell wait makes 100 searches and 99 pauses of 10 ms when the shell's window is not
// there: a start after it comes at least that much later than one without it, and a start
// without it within half of that after the floor's (a start of the same child with no wait at
// all, measured here). Without a progman.exe (Windows 7 and 10) the wait looks for "Program
// Manager": a desktop window that comes up 300 ms after the fastest start without a wait is
// waited for, the child starting after it, and within half of what a whole wait adds after it
// came up (a launcher that waited on would start its child a whole wait less 300 ms after
// it). That is judged from when the window actually came up, since load delays the window as
// much as the child. Every case is judged by the fastest of its runs, as its baselines are,
// so that a slow spell under load falls on no one run alone.
void TheShellWaitDependsOnTheVersion()
{
    const double kShellWaitPausesMs = 99 * 10, kLateMs = 300;
    struct {
        const char* version;
        ShellWindow shell;
    } cases[] = {  // the waits first, then the starts without one: the baselines of the rest
        {"winxp", kAbsent},  {"win7", kAbsent},  {"win10", kAbsent},  {"win95", kAbsent},
        {"nt40", kAbsent},   {"win2k", kAbsent}, {"winxp", kPresent}, {"win7", kPresent},
        {"win10", kPresent}, {"win7", kLate},    {"win10", kLate},
    };
    const char* shellStates[] = {"absent", "present", "up late"};
    std::string folder = gWork + "shell\\";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, folder);
    double floor = NAN, fastestAfterAWait = NAN, fastestWithout = NAN;
    for (const auto& c : cases) {
        char name[64];
        snprintf(name, sizeof name, "shell wait on %s, shell window %s", c.version,
                 shellStates[c.shell]);
        gCase = name;
        std::string why = UseWindowsVersion(c.version);
        if (why.empty())
            why = UseShellWindow(c.shell);
        if (!why.empty()) {
            SkipRow(name, why);
            continue;
        }
        if (c.shell == kLate) {
            if (std::isnan(fastestWithout) || std::isnan(fastestAfterAWait))
                continue;  // no start to time it by: those runs failed their own checks
            DWORD afterMs = static_cast<DWORD>(fastestWithout + kLateMs);
            double afterTheWindow = NAN;
            for (int i = 0; i < kRunsPerTimingCase; ++i) {
                double windowAt = NAN, run = RunWithALateWindow(folder, afterMs, &windowAt);
                printf("%s: window up %.0f ms after the launcher, child started %.0f ms after "
                       "it\n", name, windowAt, run);
                afterTheWindow = Fastest(afterTheWindow, run - windowAt);
            }
            CHECK_TIME("child's start after the window came up", afterTheWindow, kAtMost,
                       (fastestAfterAWait - fastestWithout) / 2);
            continue;
        }
        double delay = FastestChildDelay(folder, kDriverChild, kRunsPerTimingCase);
        printf("%s: child started %.0f ms after the launcher (fastest of %d)\n", name, delay,
               kRunsPerTimingCase);
        if (c.shell == kAbsent && ShellWaitExpected()) {
            CHECK_TIME("child's start", delay, kAtLeast, 950.0);
            fastestAfterAWait = Fastest(fastestAfterAWait, delay);
        } else {
            if (std::isnan(floor)) {
                floor = FloorChildDelay(folder);
                printf("floor: the child started %.0f ms after a program that waits for nothing "
                       "(fastest of %d)\n", floor, kRunsPerTimingCase);
            }
            CHECK_TIME("child's start", delay, kAtMost, floor + kShellWaitPausesMs / 2);
            fastestWithout = Fastest(fastestWithout, delay);
        }
    }
    UseWindowsVersion(NULL);
}

// A matching window ends the poll at its first search; one in lower case leaves it to run
// 100 searches with a pause of at least 1 ms after each. The window's title alternates
// from run to run, so that a slow spell of the machine falls on both alike.
void ADirectXWindowEndsTheDirectXPollEarly()
{
    const int kRuns = 11;
    std::string folder = gWork + "poll\\";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, folder);
    const char* titles[2] = {"Setup - Microsoft(R) DirectX(R) 9.0c", "setup microsoft(r) directx(r)"};
    double fastest[2] = {NAN, NAN};
    HWND window = TopLevelWindow(titles[0]);
    for (int run = 0; run < 2 * kRuns; ++run) {
        gCase = titles[run % 2];
        SetWindowTextA(window, titles[run % 2]);
        fastest[run % 2] = Fastest(fastest[run % 2], FastestChildDelay(folder, kSetupChild, 1));
    }
    DestroyWindow(window);
    for (int i = 0; i < 2; ++i)
        printf("DirectX poll with a window \"%s\": child created %.0f ms after the start "
               "(fastest of %d)\n", titles[i], fastest[i], kRuns);
    gCase = "DirectX poll";
    CHECK_TIME("what 100 polls of 1 ms cost more", fastest[1] - fastest[0], kAtLeast, 60.0);
}
