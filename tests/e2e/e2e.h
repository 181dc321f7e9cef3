// What the end-to-end cases share: the check that counts and says what it got, a row skipped
// with its reason, the launcher and the folders it is given, the registry helpers, the system
// the cases run on (the Windows version, the shell's window), and how a case runs the launcher
// and times its child.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/e2e/e2e_tools.h"
#include "tests/e2e/shell_titles.h"

inline int gPassed, gFailed, gSkipped;
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

// A row that this system cannot show, with why: "skipped: <row>: <why>".
void SkipRow(const std::string& row, const std::string& why);

inline const char kDesktopTitle[] = "Program Manager";  // the desktop's window, Vista to 11

// The launcher to run, the 32-bit launcher.exe whose resources are read, the tools' folder,
// stack_smash.exe, the work and root drives (the root empty where there is none) and where
// the splash picture goes.
inline std::string gLauncher, gLauncher32, gTools, gStackSmash, gWork, gRoot, gPicture;

// ---- the system the cases run on (e2e_system.cpp) --------------------------------------
// A Wine suite plays each Windows version, installs the tests' shell module, and may change
// the security of keys or delete them: the prefix is its own and is thrown away. Elsewhere
// (the kit, on Windows or under Wine) the cases take the system as it is, and change only the
// values that the kit's journal puts back.
inline bool gWineSuite;
const char* WineVersion();  // NULL where this is no Wine
bool UnderWine();
bool UnderWow64();
OSVERSIONINFOEXW SystemVersion();  // as the system reports itself: no compatibility value
// "" where the launcher now runs as that version (Wine's name for it: "win95" ... "win10"),
// or why not; NULL is the system's own.
std::string UseWindowsVersion(const char* version);
bool ShellWaitExpected();  // on the version in use
enum ShellWindow { kAbsent, kPresent, kLate };
// "" where the shell's window can be made present or absent as asked, or why not.
std::string UseShellWindow(ShellWindow state);
const std::string& ShellTitle();  // what the launcher looks for, on the version in use
HWND TopLevelWindow(const char* title);
// What only a Wine suite does, in its own prefix (e2e_wine.cpp): the version the launcher
// sees, with the tests' shell module or none; a DLL of the program's folder preferred to
// Wine's own, as Windows does for a module that is not a known DLL; the prefix's restart,
// which runs the RunOnce records; a key's security.
void WineSetVersion(const char* version, bool progman);
void WinePreferNativeModule(const char* module, bool prefer);
void WineRestart();
void WineSetKeyAccess(const char* key, const char* sddl);

// A call that a module may lack (newer Windows have it, Wine alone has some), or NULL.
template <typename Function>
Function CallOf(const char* module, const char* name)
{
    HMODULE found = GetModuleHandleA(module);
    return found ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(found, name)))
                 : NULL;
}

// ---- registry (e2e_common.cpp) ---------------------------------------------------------
bool KeyExists(HKEY root, const std::string& key, REGSAM view = 0);
void DeleteValue(HKEY root, const char* key, const char* name, REGSAM view = 0);
std::string GetString(HKEY root, const char* key, const char* name, REGSAM view = 0);

// ---- the install folder and the runs (e2e_common.cpp) ----------------------------------
struct Run {
    DWORD exitCode;
    long long started, ended;
    unsigned long long exited;  // FILETIME units
    unsigned long long startedAt;
};

void LayOut(const std::string& folder);
double Milliseconds(long long from, long long to);
Run RunProgramFrom(const std::wstring& program, const std::wstring& from, const char* arguments);
Run RunLauncherFrom(const std::wstring& from, const char* arguments);
Run RunLauncher(const std::string& folder, const char* arguments,
                const std::string& startFolder = "");
bool EmptyCommandLine(const ChildStart& child);
ChildStart RunAndExpectChild(const std::string& folder, const char* arguments,
                             const char* child, Run* run = NULL,
                             const std::string& startFolder = "");
double ChildDelay(const Run& run, const ChildStart& start);
double Fastest(double a, double b);
double FloorChildDelay(const std::string& folder);
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
// e2e_resources.cpp: the resources, the splash as Windows draws it, the version, the signature
void TheResourcesAreAsWindowsSeesThem();
void TheSplashShowsTheLogoCentred(HMODULE module);
void TheVersionIsAsWindowsReadsIt();
void WindowsTrustsTheSignature();
int PrintVersionInfo(const char* path);
// What Windows says of a file's signature: the WinVerifyTrust result, and the signer's name
// where there is a signature ("" otherwise).
long VerifySignature(const std::wstring& path, std::string* signer);

// Every case, by the key that names it on the command line, and in the kit's report.
struct Case {
    const char* key;
    const char* title;
    void (*run)();
    bool changesTheSystem;  // it sets HKLM's values (the kit puts them back)
};
extern const Case kCases[];
extern const size_t kCaseCount;

// ---- the kit: every case on the system as it is, with a report (e2e_kit.cpp) -----------
int RunKit(const std::wstring& kit, const std::wstring& results, bool yes);
int WriteSandboxConfiguration(const std::wstring& kit);
