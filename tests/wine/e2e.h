// What the end-to-end cases share: the check that counts and says what it got, the keys
// and titles of the suite, the launcher and the folders it is given, the registry helpers,
// the Windows version a case sets, and how a case runs the launcher and times its child.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/wine/wine_tools.h"

inline int gPassed, gFailed;
inline const char* gCase = "";

#define CHECK(condition, ...)                                                   \
    do {                                                                        \
        if (condition) {                                                        \
            ++gPassed;                                                          \
        } else {                                                                \
            ++gFailed;                                                          \
            printf("FAIL %s (line %d): %s: ", gCase, __LINE__, #condition);     \
            printf(__VA_ARGS__);                                                \
            printf("\n");                                                       \
        }                                                                       \
    } while (0)

inline const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\launcher.exe";
inline const char kShellTitle[] = "Launcher Test Shell";  // string 1 of the tests' progman.exe
inline const char kDesktopTitle[] = "Program Manager";   // the desktop's window, Vista to 11

// The launcher to run, the 32-bit launcher.exe, the tools' folder, the work and root drives
// and where the splash picture goes: the driver's arguments.
inline std::string gLauncher, gLauncher32, gTools, gWork, gRoot, gPicture;
inline HWND gShellWindow;  // the shell's window: up, unless a case says not

// ---- registry and the Windows version (e2e_common.cpp) ---------------------------------
void DeleteValue(HKEY root, const char* key, const char* name, REGSAM view = 0);
std::string GetString(HKEY root, const char* key, const char* name, REGSAM view = 0);
void SetWindowsVersion(const char* version);

// ---- the install folder and the runs (e2e_common.cpp) ----------------------------------
struct Run {
    DWORD exitCode;
    long long started, ended;
    unsigned long long exited;  // FILETIME units
    unsigned long long startedAt;
};

void LayOut(const std::string& folder);
double Milliseconds(long long from, long long to);
Run RunLauncherFrom(const std::wstring& from, const char* arguments);
Run RunLauncher(const std::string& folder, const char* arguments,
                const std::string& startFolder = "");
bool EmptyCommandLine(const ChildStart& child);
HWND TopLevelWindow(const char* title);
ChildStart RunAndExpectChild(const std::string& folder, const char* arguments,
                             const char* child, Run* run = NULL,
                             const std::string& startFolder = "");
double ChildDelay(const Run& run, const ChildStart& start);
double Fastest(double a, double b);
std::vector<std::string> DllLog(const std::string& dll);

// A check on a time in ms: `measured` at least, or at most, `bound`. Its margin, how far the
// time stands from failing, goes to the log whatever the outcome, so that a log shows how
// near each check came. Skipped where there is no time to judge: no child started (which
// fails a check of its own), so a sum or difference with its time is not a number either.
// How long a child takes to start varies with the machine: a few hundred ms natively, up to
// a second on an emulated CPU, and one run differs from the next by up to 150 ms there. So
// each timing case takes the fastest of several runs, and a start is judged against the
// pauses the launcher must make, or against other starts measured in the same run.
inline const int kRunsPerTimingCase = 3;
enum TimeBound { kAtLeast, kAtMost };
void CheckTime(int line, const char* what, double measured, TimeBound bound, double limit);
#define CHECK_TIME(what, measured, bound, limit) CheckTime(__LINE__, what, measured, bound, limit)
// The smallest margin of the 100 ms after each start that RunAndExpectChild checks, and over
// how many runs: printed once, at the end.
inline double gAfterStartMargin = NAN;
inline int gAfterStartRuns;

// ---- the cases, by subject -------------------------------------------------------------
// e2e_branches.cpp: both branches, their children and the RunOnce record
void BothBranchesStartTheirChild();
void AMissingChildStillEndsTheRun();
void TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon();
void UnderWow64EachValueIsInThe32BitView();
// e2e_shell_wait.cpp: the shell wait and the window searches
void TheShellWaitDependsOnTheVersion();
void ADirectXWindowEndsTheDirectXPollEarly();
// e2e_first_run.cpp: a first run and its record
void AFirstRunRecordsItsFolder();
void AFirstRunStartsNothingFromAFolderItCannotRecord();
void AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator();
// e2e_trust.cpp: hostile registries and folders, planted modules
void HostileInputs();
void NothingPlantedInItsFoldersLoadsIntoTheLauncher();
// e2e_stack_cookie.cpp
void AnOverrunStackEndsTheProcess();
// e2e_resources.cpp: the resources, the splash as Windows draws it, the version
void TheResourcesAreAsWindowsSeesThem(HMODULE module);
void TheSplashShowsTheLogoCentred(HMODULE module);
int PrintVersionInfo(const char* path);
