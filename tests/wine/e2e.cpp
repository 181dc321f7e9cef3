// Runs the real launcher under Wine and checks from outside what it did: its exit code, the
// registry afterwards, which stand-in child started, from where, with what command line and
// when; and the 32-bit program's resources as Windows sees them.
//
//   e2e [--wow64 | --code-page-932 | --first-run] <launcher to run> <32-bit launcher.exe>
//       <tools folder> <work drive> <root drive> <picture>
//   e2e --splash-picture <32-bit launcher.exe> <picture>
//   e2e --version-info <launcher.exe>
//
// It is built for the launcher's architecture, so its registry view is the launcher's.
// --wow64: the 32-bit launcher in a 64-bit prefix; the registry views are checked too.
// --code-page-932: only the first run from a folder ending in a double-byte character.
// --first-run: only the first runs, from a folder and from a drive's root (a signed build).
#include <windows.h>
#include <sddl.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/wine/wine_tools.h"

static int gPassed, gFailed;
static const char* gCase = "";

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

static const char kDirectXKey[] = "Software\\Microsoft\\DirectX";
static const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kInstallKey[] = "SOFTWARE\\Orvalent";
static const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\launcher.exe";
static const char kShellTitle[] = "Launcher Test Shell";  // string 1 of the tests' progman.exe
static const char kDesktopTitle[] = "Program Manager";   // the desktop's window, Vista to 11

static std::string gLauncher, gLauncher32, gTools, gWork, gRoot, gPicture;

// ---- registry ------------------------------------------------------------------------

static void DeleteValue(HKEY root, const char* key, const char* name, REGSAM view = 0)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS | view, &k) == 0) {
        RegDeleteValueA(k, name);
        RegCloseKey(k);
    }
}

static std::string GetString(HKEY root, const char* key, const char* name, REGSAM view = 0)
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

static HWND gShellWindow;  // the shell's window: up, unless a case says not

// Windows Vista to 11 have no progman.exe, and their desktop's window is titled "Program
// Manager". Earlier ones, and the version this Wine gives by default, have the tests' own
// progman.exe, whose string 1 titles the shell's window.
static bool WithoutProgman(const char* version)
{
    return version && (strcmp(version, "win7") == 0 || strcmp(version, "win10") == 0);
}

static const char* ShellTitle(const char* version)
{
    return WithoutProgman(version) ? kDesktopTitle : kShellTitle;
}

// The Windows version the launcher sees, with the shell module and the shell's window title
// that go with it.
static void SetWindowsVersion(const char* version)
{
    if (version)
        SetString(HKEY_CURRENT_USER, kAppDefaults, "Version", version);
    else
        DeleteValue(HKEY_CURRENT_USER, kAppDefaults, "Version");
    InstallShellModule(WithoutProgman(version) ? "" : gTools + "progman.exe");
    SetWindowTextA(gShellWindow, ShellTitle(version));
}

// ---- the install folder and the runs -------------------------------------------------

static void LayOut(const std::string& folder)
{
    LayOutInstallFolder(folder, gLauncher, gTools + "standin.exe");
}

static double Milliseconds(long long from, long long to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to - from) / static_cast<double>(frequency.QuadPart);
}

struct Run {
    DWORD exitCode;
    long long started, ended;
    unsigned long long exited;  // FILETIME units
    unsigned long long startedAt;
};



// Starts the launcher and waits for it and for every process it started. It runs from the
// start folder, which is also its working directory: the install folder unless a case says
// otherwise.
static Run RunLauncherFrom(const std::wstring& from, const char* arguments)
{
    std::wstring program = from + L"launcher.exe";
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
    CHECK(WaitForJob(job, kChildrenTimeoutMs), "what the launcher started still runs after %lu ms",
          kChildrenTimeoutMs);
    return run;
}

static Run RunLauncher(const std::string& folder, const char* arguments,
                       const std::string& startFolder = "")
{
    return RunLauncherFrom(Widen(startFolder.empty() ? folder : startFolder), arguments);
}

// Wine gives a child started with an empty command line its own quoted path instead, and
// gives the same for no command line at all: this cannot tell the two apart. The host tests
// check that the launcher hands CreateProcessA an empty, writable buffer.
static bool EmptyCommandLine(const ChildStart& child)
{
    return child.commandLine.empty() || child.commandLine == "\"" + child.self + "\"";
}

static HWND TopLevelWindow(const char* title)
{
    return CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
}

// Starts the launcher in `folder` and returns the one child it started, checking the exit
// code and the 100 ms that the launcher stays after the start.
static ChildStart RunAndExpectChild(const std::string& folder, const char* arguments,
                                    const char* child, Run* run = NULL,
                                    const std::string& startFolder = "")
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
    return start;
}

// From the launcher's start call to its child's creation; not a number where no child
// started (which fails a check of its own), so that no timing check judges it.
static double ChildDelay(const Run& run, const ChildStart& start)
{
    if (start.created == 0)
        return NAN;
    return static_cast<double>(static_cast<long long>(start.created - run.startedAt)) / 1e4;
}

// The smaller of two delays, where either may be not a number (no child, or none yet).
static double Fastest(double a, double b)
{
    return std::isnan(a) || b < a ? b : a;
}

// A check on a delay: skipped where there is none to judge. (A sum or difference of delays
// is not a number where either is not.)
#define CHECK_DELAY(delay, condition, ...)                                      \
    do {                                                                        \
        if (!std::isnan(delay))                                                 \
            CHECK(condition, __VA_ARGS__);                                      \
    } while (0)

// ---- cases ---------------------------------------------------------------------------

// Both branches, with the manifest, on each Windows version the suite sets (the shell's
// window is up, so no shell wait lasts).
static void BothBranchesStartTheirChild()
{
    struct {
        const char* name;
        const char* version;
        const char* child;
        const char* childFolder;
        bool runOnce;
    } cases[] = {
        {"driver branch", "4.09.00.0904", kDriverChild, "PX_Drivers", false},
        {"DirectX branch", "4.08.00.0400", kSetupChild, "DirectX\\9.0", true},
    };
    std::string folder = gWork + "app\\";
    for (const char* windows : {"win95", "nt40", "win2k", "winxp", "win7", "win10"}) {
        SetWindowsVersion(windows);
        for (const auto& c : cases) {
            char name[64];
            snprintf(name, sizeof name, "%s on %s", c.name, windows);
            gCase = name;
            LayOut(folder);
            SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.version);
            SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", folder);
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
            Run run;
            ChildStart start = RunAndExpectChild(folder, " 2", c.child, &run);
            CHECK(start.self == folder + c.child, "child %s", start.self.c_str());
            CHECK(start.folder == folder + c.childFolder, "child's folder %s", start.folder.c_str());
            CHECK(EmptyCommandLine(start), "command line [%s]", start.commandLine.c_str());
            std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
            std::string expected = c.runOnce ? folder + kDriverChild : "(none)";
            CHECK(runOnce == expected, "RunOnce %s", runOnce.c_str());
            printf("%s: child started %.0f ms after the launcher, launcher ran %.0f ms\n", name,
                   ChildDelay(run, start), Milliseconds(run.started, run.ended));
        }
    }
    SetWindowsVersion(NULL);
}

// How long a child takes to start varies with the machine: a few hundred ms natively, up to
// a second on an emulated CPU, and one run differs from the next by up to 150 ms there. So
// each timing case takes the fastest of several runs, and a start is judged against the
// pauses the launcher must make, or against other starts measured in the same run.
static const int kRunsPerTimingCase = 3;

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
    HWND window = TopLevelWindow(kDesktopTitle);
    late->createdAt = FileTimeNow();
    WaitForSingleObject(late->runOver, kRunTimeoutMs + kChildrenTimeoutMs);
    DestroyWindow(window);
    return 0;
}

enum ShellWindow { kAbsent, kPresent, kLate };

// The shell wait makes 100 searches and 99 pauses of 10 ms when the shell's window is not
// there: a start after it comes at least that much later than one without it. Without a
// progman.exe (Windows 7 and 10) the wait looks for "Program Manager": a desktop window
// that comes up 300 ms after the fastest start without a wait is waited for, and the child
// starts after it.
static void TheShellWaitDependsOnTheVersion()
{
    const double kShellWaitPausesMs = 99 * 10, kLateMs = 300;
    struct {
        const char* version;
        ShellWindow shell;
        bool waits;
    } cases[] = {  // the waits first, then the starts without one: the baselines of the rest
        {"winxp", kAbsent, true},   {"win7", kAbsent, true},    {"win10", kAbsent, true},
        {"win95", kAbsent, false},  {"nt40", kAbsent, false},   {"win2k", kAbsent, false},
        {"winxp", kPresent, false}, {"win7", kPresent, false},  {"win10", kPresent, false},
        {"win7", kLate, true},      {"win10", kLate, true},
    };
    const char* shellStates[] = {"absent", "present", "up late"};
    std::string folder = gWork + "shell\\";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", folder);
    double fastestAfterAWait = NAN, fastestWithout = NAN;
    for (const auto& c : cases) {
        char name[64];
        snprintf(name, sizeof name, "shell wait on %s, shell window %s", c.version,
                 shellStates[c.shell]);
        gCase = name;
        SetWindowsVersion(c.version);
        ShowWindow(gShellWindow, SW_HIDE);
        if (c.shell != kPresent)
            SetWindowTextA(gShellWindow, "Launcher Test Other");
        if (c.shell == kLate) {
            if (std::isnan(fastestWithout) || std::isnan(fastestAfterAWait))
                continue;  // no start to time it by: those runs failed their own checks
            LateWindow late = {static_cast<DWORD>(fastestWithout + kLateMs),
                               CreateEventA(NULL, TRUE, FALSE, NULL), 0};
            LayOut(folder);
            HANDLE thread = CreateThread(NULL, 0, ShowLateDesktopWindow, &late, 0, NULL);
            Run run;
            ChildStart start = RunAndExpectChild(folder, " 2", kDriverChild, &run);
            SetEvent(late.runOver);
            WaitForSingleObject(thread, kRunTimeoutMs);
            CloseHandle(thread);
            CloseHandle(late.runOver);
            double delay = ChildDelay(run, start);
            printf("%s: window up %.0f ms after the launcher, child started %.0f ms after it\n",
                   name, static_cast<double>(late.afterMs), delay);
            CHECK_DELAY(delay, late.createdAt != 0 && start.created >= late.createdAt,
                        "child started %.0f ms after the launcher, before the window came up at "
                        "%lu ms", delay, late.afterMs);
            CHECK_DELAY(delay, delay <= fastestAfterAWait - kLateMs,
                        "child started after %.0f ms, after a whole shell wait %.0f ms", delay,
                        fastestAfterAWait);
            continue;
        }
        double delay = FastestChildDelay(folder, kDriverChild, kRunsPerTimingCase);
        printf("%s: child started %.0f ms after the launcher (fastest of %d)\n", name, delay,
               kRunsPerTimingCase);
        if (c.waits) {
            CHECK_DELAY(delay, delay >= 950.0, "child started after %.0f ms", delay);
            fastestAfterAWait = Fastest(fastestAfterAWait, delay);
        } else {
            CHECK_DELAY(delay + fastestAfterAWait,
                        delay <= fastestAfterAWait - kShellWaitPausesMs / 2,
                        "child started after %.0f ms, after a shell wait %.0f ms", delay,
                        fastestAfterAWait);
            fastestWithout = Fastest(fastestWithout, delay);
        }
    }
    SetWindowsVersion(NULL);
}

// A matching window ends the poll at its first search; one in lower case leaves it to run
// 100 searches with a pause of at least 1 ms after each. The window's title alternates
// from run to run, so that a slow spell of the machine falls on both alike.
static void ADirectXWindowEndsTheDirectXPollEarly()
{
    const int kRuns = 11;
    std::string folder = gWork + "poll\\";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", folder);
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
    CHECK_DELAY(fastest[1] - fastest[0], fastest[1] - fastest[0] >= 60.0,
                "100 polls of 1 ms cost only %.0f ms more", fastest[1] - fastest[0]);
}

static void AMissingChildStillEndsTheRun()
{
    gCase = "missing DirectX setup";
    std::string folder = gWork + "missing\\";
    LayOut(folder);
    DeleteFileA((folder + kSetupChild).c_str());
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", folder);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
    Run run = RunLauncher(folder, " 1");
    CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
    std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
    CHECK(runOnce == folder + kDriverChild, "RunOnce %s", runOnce.c_str());
}

static void TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon()
{
    gCase = "RunOnce at the next logon";
    std::string folder = gWork + "Program Files\\Device Kit\\";
    CreateDirectoryA((gWork + "Program Files").c_str(), NULL);
    LayOut(folder);
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", folder);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
    RunAndExpectChild(folder, " 2", kSetupChild);
    std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
    CHECK(runOnce == "\"" + folder + kDriverChild + "\"", "RunOnce %s", runOnce.c_str());

    // wineboot -r is the prefix's restart: it runs the RunOnce commands and deletes them.
    char commandLine[] = "wineboot.exe -r";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    std::vector<ChildStart> starts;
    for (DWORD waited = 0; waited < kChildrenTimeoutMs && starts.empty(); waited += 100, Sleep(100))
        starts = ChildStarts(folder + kDriverChild);
    CHECK(starts.size() == 1, "driver installer started %zu times at the logon", starts.size());
    if (!starts.empty())
        CHECK(starts[0].self == folder + kDriverChild, "started %s", starts[0].self.c_str());
    runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
    CHECK(runOnce == "(none)", "RunOnce afterwards %s", runOnce.c_str());
}

static void AFirstRunRecordsItsFolder()
{
    struct {
        const char* name;
        std::string folder;
    } cases[] = {{"first run from a folder", gWork + "first\\"},
                 {"first run from a drive's root", gRoot}};
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
    for (const auto& c : cases) {
        gCase = c.name;
        LayOut(c.folder);
        SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", "C:\\elsewhere\\");
        ChildStart start = RunAndExpectChild(c.folder, "", kDriverChild);
        std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH");
        CHECK(record == c.folder, "record %s", record.c_str());
        CHECK(start.self == c.folder + kDriverChild, "child %s", start.self.c_str());
    }
}

// A first run starts a child only from the folder it recorded, and records only a folder it
// can name exactly. Named in Unicode, a folder whose letters the ANSI code page lacks reads
// through GetCurrentDirectoryA as a look-alike ("Łukasz" as "Lukasz", two fullwidth full
// stops as ".."); a folder that cannot be recorded leaves an older record behind; and another
// program of the user may rewrite the record the moment the worker has written it. None of
// them may start a child, from anywhere.
struct Rewrite {
    HANDLE changed, runOver;
    std::string to;
};

// Ends with 1 once it has rewritten the record, or with 0 when the run was over and the
// record never changed: the worker never wrote it. A change and the run's end together count
// as the change, which came first.
static DWORD WINAPI RewriteRecordOnChange(LPVOID parameter)
{
    Rewrite* rewrite = static_cast<Rewrite*>(parameter);
    HANDLE events[2] = {rewrite->changed, rewrite->runOver};
    if (WaitForMultipleObjects(2, events, FALSE, kRunTimeoutMs + kChildrenTimeoutMs) !=
        WAIT_OBJECT_0)
        return 0;
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", rewrite->to);
    return 1;
}

static void AFirstRunStartsNothingFromAFolderItCannotRecord()
{
    const std::string unicode = gWork + "unicode\\", a = unicode + "A\\", b = unicode + "B\\";
    const std::wstring wideUnicode = Widen(unicode);
    struct {
        const char* name;
        std::wstring from;
        const char* version;
        std::string olderRecord, rewrittenTo;  // rewrittenTo empty: nobody rewrites it
        std::vector<std::string> installFolders;  // where a child would be started from
    } cases[] = {
        {"a first run from \u0141ukasz, a Lukasz beside it", wideUnicode + L"\x0141ukasz\\",
         "4.09.00.0904", "C:\\elsewhere\\", "", {unicode + "Lukasz\\"}},
        {"a first run from a folder named with two fullwidth full stops",
         wideUnicode + L"\xFF0E\xFF0E\\", "4.09.00.0904", "C:\\elsewhere\\", "", {gWork, unicode}},
        {"a first run from a folder code page 1252 cannot show, an older record",
         wideUnicode + L"\x4E2D\\", "4.08.00.0400", a, "", {a}},
        {"a first run whose record is rewritten once the worker has written it", Widen(a),
         "4.08.00.0400", "C:\\elsewhere\\", b, {a, b}},
    };
    for (const auto& c : cases) {
        gCase = c.name;
        for (const std::string& folder : c.installFolders)
            LayOut(folder);
        CreateDirectoryW(wideUnicode.c_str(), NULL);
        CreateDirectoryW(c.from.c_str(), NULL);
        CopyFileW(Widen(gLauncher).c_str(), (c.from + L"launcher.exe").c_str(), FALSE);
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.version);
        SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", c.olderRecord);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");

        // The rewriter waits for the worker's write, as any program of the user could.
        HKEY key = NULL;
        HANDLE changed = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!c.rewrittenTo.empty())
            CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, KEY_NOTIFY, &key) == 0 &&
                      RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed,
                                              TRUE) == 0,
                  "cannot watch the record");
        Rewrite rewrite = {changed, CreateEventA(NULL, TRUE, FALSE, NULL), c.rewrittenTo};
        HANDLE rewriter = key ? CreateThread(NULL, 0, RewriteRecordOnChange, &rewrite, 0, NULL) : NULL;

        Run run = RunLauncherFrom(c.from, "");
        CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
        if (rewriter) {
            SetEvent(rewrite.runOver);
            DWORD rewrote = 0;
            WaitForSingleObject(rewriter, kRunTimeoutMs);
            GetExitCodeThread(rewriter, &rewrote);
            CHECK(rewrote == 1, "the worker never wrote the record (the rewriter ended with %lu)",
                  rewrote);
            CloseHandle(rewriter);
            RegCloseKey(key);
        }
        CloseHandle(rewrite.runOver);
        CloseHandle(changed);
        for (const std::string& folder : c.installFolders) {
            for (const char* child : {kDriverChild, kSetupChild}) {
                size_t starts = ChildStarts(folder + child).size();
                CHECK(starts == 0, "started %s%s", folder.c_str(), child);
            }
        }
        std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH");
        const std::string& expected = c.rewrittenTo.empty() ? c.olderRecord : c.rewrittenTo;
        CHECK(record == expected, "record %s", record.c_str());
        std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
        CHECK(runOnce == "(none)", "RunOnce %s", runOnce.c_str());
    }
}

// Under code page 932 "表" is 0x95 0x5C: a folder whose name ends in it does not end in a
// backslash, and the record must have one after it.
static void AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator()
{
    gCase = "first run from a folder ending in \x95\x5C, code page 932";
    CHECK(GetACP() == 932, "the ANSI code page is %u", GetACP());
    std::string folder = gWork + "Dev\x95\x5C";
    LayOut(folder + "\\");
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", "C:\\elsewhere\\");
    ChildStart start = RunAndExpectChild(folder + "\\", "", kDriverChild);
    std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH");
    CHECK(record == folder + "\\", "record %s", record.c_str());
    CHECK(start.self == folder + "\\" + kDriverChild, "child %s", start.self.c_str());
    printf("code page %u: a first run from %s recorded %s and started %s\n", GetACP(),
           folder.c_str(), record.c_str(), start.self.c_str());
}

// On 64-bit Windows the 32-bit launcher sees the 32-bit view of HKLM\\Software, as this
// 32-bit driver does; the 64-bit side (KEY_WOW64_64KEY) holds other values that must not
// count, and gets none of the launcher's. HKCU\\Software is one for both.
static void UnderWow64EachValueIsInThe32BitView()
{
    std::string folder = gWork + "wow64\\";
    struct {
        const char* name;
        const char* arguments;
        const char* version32;
        const char* version64;
        const char* child;
    } cases[] = {
        {"WoW64, first run, DirectX 4.08 for 32-bit programs", "", "4.08.00.0400",
         "4.09.00.0904", kSetupChild},
        {"WoW64, DirectX 4.09 for 32-bit programs", " 2", "4.09.00.0904", "4.08.00.0400",
         kDriverChild},
    };
    for (const auto& c : cases) {
        gCase = c.name;
        LayOut(folder);
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.version32);
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.version64, KEY_WOW64_64KEY);
        // A first run records its folder over an earlier record; a later run finds it.
        SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH",
                  c.arguments[0] == '\0' ? "C:\\elsewhere\\" : folder, KEY_WOW64_64KEY);
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER", view);
        RunAndExpectChild(folder, c.arguments, c.child);
        std::string record =
            GetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", KEY_WOW64_64KEY);
        CHECK(record == folder, "install path seen from the 64-bit side %s", record.c_str());
        std::string runOnce32 =
            GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER", KEY_WOW64_32KEY);
        std::string runOnce64 =
            GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER", KEY_WOW64_64KEY);
        std::string expected = c.child == kSetupChild ? folder + kDriverChild : "(none)";
        CHECK(runOnce32 == expected, "RunOnce in the 32-bit view %s", runOnce32.c_str());
        CHECK(runOnce64 == "(none)", "RunOnce in the 64-bit view %s", runOnce64.c_str());
    }
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904", KEY_WOW64_64KEY);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER", KEY_WOW64_32KEY);
}

// ---- hostile registries and folders ---------------------------------------------------

// "D:(A;;KR;;;WD)" lets everyone read the key and nobody write it, as a standard user sees
// HKLM; "D:(A;;KA;;;WD)" gives it back.
static void SetKeyAccess(const char* key, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    HKEY k;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              NULL))
        return;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, WRITE_DAC, &k) == 0) {
        RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(k);
    }
    LocalFree(descriptor);
    bool readOnly = strstr(sddl, ";KR;") != NULL;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &k);
    if (opened == 0)
        RegCloseKey(k);
    CHECK((opened == ERROR_ACCESS_DENIED) == readOnly, "opening %s for all access gave %ld", key,
          opened);
}

static bool KeyExists(HKEY root, const char* key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &k) != 0)
        return false;
    RegCloseKey(k);
    return true;
}

// A folder whose path, with its trailing backslash, is exactly `length` characters.
static std::string FolderOfLength(size_t length)
{
    std::string folder = gWork + "long";
    CreateDirectoryA(folder.c_str(), NULL);
    while (folder.size() + 1 < length) {
        size_t part = length - folder.size() - 2 < 60 ? length - folder.size() - 2 : 60;
        folder += "\\" + std::string(part, 'b');
        CreateDirectoryA(folder.c_str(), NULL);
    }
    return folder + "\\";
}

enum Setup { kNothing, kDirectXKeyReadOnly, kRunOnceReadOnly, kNoRunOnceKey };

static void HostileInputs()
{
    const std::string folder = gWork + "hostile\\";
    // Where a record that steps out of the folder with "/" would start a child from.
    const std::string evil = gWork + "evil\\";
    const std::string dword("\x04\x09\x00\x00", 4);
    const std::string at225 = FolderOfLength(225), at226 = FolderOfLength(226);
    struct {
        const char* name;
        DWORD versionType;  // 0: no DirectX key
        std::string version;
        DWORD recordType;
        std::string record;
        Setup setup;
        const char* child;      // NULL: nothing starts
        std::string runOnce;    // "(none)": no record
    } cases[] = {
        {"Version as REG_DWORD", REG_DWORD, dword, REG_SZ, folder, kNothing, kDriverChild, "(none)"},
        {"Version empty", REG_SZ, "", REG_SZ, folder, kNothing, kDriverChild, "(none)"},
        {"Version of 300 bytes", REG_SZ, std::string(300, '4'), REG_SZ, folder, kNothing,
         kSetupChild, folder + kDriverChild},
        {"Version 4-09-00-0904", REG_SZ, "4-09-00-0904", REG_SZ, folder, kNothing, kDriverChild,
         "(none)"},
        {"Version 4.0A.00.0000", REG_SZ, "4.0A.00.0000", REG_SZ, folder, kNothing, kDriverChild,
         "(none)"},
        {"no DirectX key", 0, "", REG_SZ, folder, kNothing, kSetupChild, folder + kDriverChild},
        {"record of 258 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(254, 'a') + "\\", kNothing, NULL, "(none)"},
        {"record of 259 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(255, 'a') + "\\", kNothing, NULL, "(none)"},
        {"record of 260 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(256, 'a') + "\\", kNothing, NULL, "(none)"},
        {"record of 300 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(296, 'a') + "\\", kNothing, NULL, "(none)"},
        {"record without its backslash", REG_SZ, "4.08.00.0400", REG_SZ,
         folder.substr(0, folder.size() - 1), kNothing, NULL, "(none)"},
        {"record \"hostile/..\\evil\\\"", REG_SZ, "4.09.00.0904", REG_SZ,
         gWork + "hostile/..\\evil\\", kNothing, NULL, "(none)"},
        {"record \"hostile\\./..\\evil\\\"", REG_SZ, "4.08.00.0400", REG_SZ,
         gWork + "hostile\\./..\\evil\\", kNothing, NULL, "(none)"},
        {"record as REG_BINARY", REG_SZ, "4.08.00.0400", REG_BINARY, folder, kNothing, kSetupChild,
         folder + kDriverChild},
        {"driver installer path of 259 characters", REG_SZ, "4.09.00.0904", REG_SZ, at225,
         kNothing, kDriverChild, "(none)"},
        {"RunOnce path of 259 characters", REG_SZ, "4.08.00.0400", REG_SZ, at225, kNothing,
         kSetupChild, at225 + kDriverChild},
        {"RunOnce path of 260 characters", REG_SZ, "4.08.00.0400", REG_SZ, at226, kNothing,
         kSetupChild, "(none)"},
        {"DirectX key a standard user may only read", REG_SZ, "4.09.00.0904", REG_SZ, folder,
         kDirectXKeyReadOnly, kDriverChild, "(none)"},
        {"RunOnce key that may not be written", REG_SZ, "4.08.00.0400", REG_SZ, folder,
         kRunOnceReadOnly, kSetupChild, "(none)"},
        {"no RunOnce key", REG_SZ, "4.08.00.0400", REG_SZ, folder, kNoRunOnceKey, kSetupChild,
         "(none)"},
    };
    int count = 0;
    for (const auto& c : cases) {
        gCase = c.name;
        ++count;
        for (const std::string& place : {folder, evil, at225, at226})
            LayOut(place);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDirectXKey);
        if (c.versionType != 0)
            SetValue(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.versionType, c.version);
        SetValue(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", c.recordType, c.record);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
        if (c.setup == kDirectXKeyReadOnly)
            SetKeyAccess(kDirectXKey, "D:(A;;KR;;;WD)");
        if (c.setup == kRunOnceReadOnly)
            SetKeyAccess(kRunOnceKey, "D:(A;;KR;;;WD)");
        if (c.setup == kNoRunOnceKey)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunOnceKey);

        Run run = RunLauncher(folder, " 2");
        CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
        std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
        CHECK(runOnce == c.runOnce, "RunOnce %s", runOnce.c_str());
        if (c.setup == kNoRunOnceKey)
            CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey), "the RunOnce key was created");
        const std::string& home = c.record == at225 || c.record == at226 ? c.record : folder;
        for (const char* child : {kDriverChild, kSetupChild}) {
            size_t expected = c.child && strcmp(child, c.child) == 0 ? 1 : 0;
            size_t starts = 0;  // a log past MAX_PATH cannot be deleted: count this run's lines
            std::vector<std::string> places = {home, evil};
            if (home != folder)
                places.push_back(folder);
            for (const std::string& place : places) {
                for (const ChildStart& start : ChildStarts(place + child))
                    starts += start.created >= run.startedAt;
            }
            CHECK(starts == expected, "%s started %zu times", child, starts);
        }

        if (c.setup == kDirectXKeyReadOnly)
            SetKeyAccess(kDirectXKey, "D:(A;;KA;;;WD)");
        if (c.setup == kRunOnceReadOnly)
            SetKeyAccess(kRunOnceKey, "D:(A;;KA;;;WD)");
        if (c.setup == kNoRunOnceKey) {
            HKEY k;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                &k, NULL) == 0)
                RegCloseKey(k);
        }
    }
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
    printf("hostile inputs: %d cases\n", count);
}

// ---- planted modules ------------------------------------------------------------------

// What the launcher's process loads by name after its start through the default DLL
// directories (WINEDEBUG=+loaddll): a copy is planted where others may write, and Wine is
// told to prefer a native DLL of that name in launcher.exe, as Windows does for any module
// that is not a known DLL. (Wine reads WINEDLLOVERRIDES from a process's Unix environment,
// not from the one that CreateProcess hands down; the per-program key is read by each run.)
static const char kPlantedModule[] = "uxtheme";  // planted as uxtheme.dll
static const char kDllOverrides[] = "Software\\Wine\\AppDefaults\\launcher.exe\\DllOverrides";
static const char kPlantedTitle[] = "Planted Shell Title";  // string 1 of planted_progman.exe

// The lines that the tests' DLL (tests/wine/planted.cpp) wrote into "<its path>.log": the
// programs it was loaded into, and its detaches.
static std::vector<std::string> DllLog(const std::string& dll)
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

// How often a planted DLL was loaded into a launcher. A child that loads one from its own
// folder does what Windows lets every installer do.
static int LoadsIntoTheLauncher(const std::string& dll)
{
    int loads = 0;
    for (const std::string& line : DllLog(dll))
        loads += line.size() >= 13 &&
                 _stricmp(line.c_str() + line.size() - 13, "\\launcher.exe") == 0;
    return loads;
}

// A copy of launcher.exe that never restricts its DLL search: the name it looks up in kernel32
// is changed by one byte, so that the lookup fails. Where it loads a planted DLL in a case,
// the launcher's own run of that case shows something; where it loads none, nothing.
static std::string UnrestrictedCopyOf(const std::string& launcher)
{
    std::string copy = gWork + "unrestricted.exe";
    std::vector<char> image;
    if (FILE* f = fopen(launcher.c_str(), "rb")) {
        char block[4096];
        for (size_t n; (n = fread(block, 1, sizeof block, f)) > 0;)
            image.insert(image.end(), block, block + n);
        fclose(f);
    }
    const char name[] = "SetDefaultDllDirectories";
    auto at = std::search(image.begin(), image.end(), name, name + sizeof name - 1);
    CHECK(at != image.end(), "%s does not name %s", launcher.c_str(), name);
    if (at != image.end())
        *at = 'X';
    if (FILE* f = fopen(copy.c_str(), "wb")) {
        fwrite(image.data(), 1, image.size(), f);
        fclose(f);
    }
    return copy;
}

// An elevated launcher started from a folder that others may write to: the planted DLLs
// beside it, in the install folder and in the children's folders (each made current before
// its start) never load into it, and a planted progman.exe does not choose what the shell
// wait looks for: on Windows XP without the shell's window the wait lasts its full second,
// though a window with the planted title is up.
static void NothingPlantedInItsFoldersLoadsIntoTheLauncher()
{
    printf("planted: uxtheme.dll and progman.exe; not planted: ole32.dll and its imports "
           "rpcrt4.dll and combase.dll, and coml2.dll (Wine 10's, for ole32), which Wine's "
           "imm32 loads without the process's default DLL directories (on Windows ole32, "
           "rpcrt4 and combase are known DLLs, from the system folder only, and there is no "
           "coml2.dll)\n");
    const std::string downloads = gWork + "planted\\Downloads\\";
    const std::string device = gWork + "planted\\Device\\";
    CreateDirectoryA((gWork + "planted").c_str(), NULL);
    CreateDirectoryA(downloads.c_str(), NULL);
    LayOut(device);
    CopyFileA(gLauncher.c_str(), (downloads + "launcher.exe").c_str(), FALSE);
    const std::string places[] = {downloads, device, device + "PX_Drivers\\",
                                  device + "DirectX\\9.0\\"};
    for (const std::string& place : places) {
        CopyFileA((gTools + "planted.dll").c_str(), (place + kPlantedModule + ".dll").c_str(),
                  FALSE);
        CopyFileA((gTools + "planted_progman.exe").c_str(), (place + "progman.exe").c_str(), FALSE);
    }
    HWND plantedWindow = TopLevelWindow(kPlantedTitle);
    SetWindowsVersion("winxp");
    // The baseline: with the shell's window up, the wait ends at its first search.
    gCase = "planted modules, shell window present";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH", device);
    Run baselineRun;
    double baseline = ChildDelay(
        baselineRun, RunAndExpectChild(device, " 2", kDriverChild, &baselineRun, downloads));
    SetWindowTextA(gShellWindow, "Launcher Test Other");
    SetString(HKEY_CURRENT_USER, kDllOverrides, kPlantedModule, "native,builtin");
    // Each case's key names it in the line that tests/wine/planted_report.sh reads, and in
    // the CTest test that reports it.
    struct {
        const char* key;
        const char* name;
        const std::string& startFolder;
        const char* arguments;
        const char* version;
        const char* child;
    } cases[] = {
        {"first_run", "planted modules, first run from the install folder", device, "",
         "4.09.00.0904", kDriverChild},
        {"driver_branch", "planted modules, driver branch from a download folder", downloads,
         " 2", "4.09.00.0904", kDriverChild},
        {"directx_branch", "planted modules, DirectX branch from a download folder", downloads,
         " 2", "4.08.00.0400", kSetupChild},
    };
    const std::string unrestricted = UnrestrictedCopyOf(gLauncher);
    // The control first: the copy that never restricts its search, from the same place.
    const std::string* const launchers[] = {&unrestricted, &gLauncher};
    int proven = 0;
    for (const auto& c : cases) {
        gCase = c.name;
        int controlLoads = 0;
        for (const std::string* launcher : launchers) {
            SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", c.version);
            SetString(HKEY_CURRENT_USER, kInstallKey, "QB62_INSTALL_PATH",
                      c.arguments[0] == '\0' ? "C:\\elsewhere\\" : device);
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, "OV_INSTALLER");
            CopyFileA(launcher->c_str(), (c.startFolder + "launcher.exe").c_str(), FALSE);
            for (const char* child : {kDriverChild, kSetupChild})
                DeleteFileA((device + child + ".log").c_str());
            for (const std::string& place : places)
                DeleteFileA((place + kPlantedModule + ".dll.log").c_str());
            Run run;
            ChildStart start = RunAndExpectChild(device, c.arguments, c.child, &run, c.startFolder);
            CHECK(start.self == device + c.child, "child %s", start.self.c_str());
            int loads = 0;
            for (const std::string& place : places)
                loads += LoadsIntoTheLauncher(place + kPlantedModule + ".dll");
            if (launcher == &unrestricted) {
                controlLoads = loads;
                continue;
            }
            // A first run's splash costs Wine about 2 s under Xvfb: only a branch run's start
            // tells the shell wait's full second (99 pauses of 10 ms) from one cut short.
            double delay = ChildDelay(run, start);
            if (c.arguments[0] != '\0')
                CHECK_DELAY(delay + baseline, delay >= 950.0 && delay >= baseline + 495.0,
                            "child started %.0f ms after the launcher, with the shell's window up "
                            "%.0f ms: the shell wait was cut short", delay, baseline);
            if (controlLoads == 0) {
                printf("planted case %s: proved nothing: a launcher.exe that never restricts its "
                       "DLL search loads no planted DLL in it either under this Wine\n", c.key);
            } else {
                printf("planted case %s: proven\n", c.key);
                ++proven;
                CHECK(loads == 0, "the launcher loaded a planted %s.dll %d times", kPlantedModule,
                      loads);
            }
            printf("%s: child started %.0f ms after the launcher (%.0f ms with the shell's window "
                   "up), %d planted DLL loads, %d by the control\n", c.name, delay, baseline,
                   loads, controlLoads);
        }
    }
    gCase = "planted modules";
    CHECK(proven >= 1, "no planted case is proven under this Wine: the control loads nothing");
    CopyFileA(gLauncher.c_str(), (device + "launcher.exe").c_str(), FALSE);
    RegDeleteKeyA(HKEY_CURRENT_USER, kDllOverrides);
    SetWindowsVersion(NULL);
    DestroyWindow(plantedWindow);
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", "4.09.00.0904");
}

// ---- the 32-bit program's resources --------------------------------------------------

static const BYTE* Resource(HMODULE module, LPCSTR type, int id, DWORD* size)
{
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    CHECK(found != NULL, "resource %d of type %d in English (United States)", id,
          static_cast<int>(reinterpret_cast<ULONG_PTR>(type)));
    if (!found)
        return NULL;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

struct Reader {
    const BYTE* at;
    WORD Word() { WORD v; memcpy(&v, at, 2); at += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, at, 4); at += 4; return v; }
    std::string Text()
    {
        std::string text;
        for (WORD c; (c = Word()) != 0;)
            text += static_cast<char>(c);
        return text;
    }
    void Align() { at = reinterpret_cast<const BYTE*>((reinterpret_cast<ULONG_PTR>(at) + 3) & ~3); }
};

static void TheResourcesAreAsWindowsSeesThem(HMODULE module)
{
    gCase = "dialog 103";
    DWORD size = 0;
    if (const BYTE* dialog = Resource(module, RT_DIALOG, 103, &size)) {
        Reader r = {dialog};
        CHECK(r.Word() == 1 && r.Word() == 0xFFFF, "an extended template");
        r.Dword();
        DWORD exStyle = r.Dword(), style = r.Dword();
        CHECK(style == 0x900008C4, "style %08lx", style);
        CHECK(exStyle == 0, "extended style %08lx", exStyle);
        WORD items = r.Word();
        CHECK(items == 1, "%u controls", items);
        short x = r.Word(), y = r.Word(), cx = r.Word(), cy = r.Word();
        CHECK(x == 0 && y == 0 && cx == 198 && cy == 71, "%d,%d %dx%d", x, y, cx, cy);
        CHECK(r.Word() == 0 && r.Word() == 0 && r.Word() == 0, "no menu, class or caption");
        WORD points = r.Word(), weight = r.Word();
        BYTE italic = r.at[0], charset = r.at[1];
        r.at += 2;
        std::string face = r.Text();
        CHECK(points == 8 && weight == 0 && italic == 0 && charset == 1 && face == "Tahoma",
              "font %s %u pt, weight %u, italic %u, character set %u", face.c_str(), points,
              weight, italic, charset);
        r.Align();
        gCase = "control 1001";
        r.Dword();
        DWORD itemExStyle = r.Dword(), itemStyle = r.Dword();
        short ix = r.Word(), iy = r.Word(), icx = r.Word(), icy = r.Word();
        DWORD id = r.Dword();
        // rc writes the static class as its atom, windres as its name.
        std::string className;
        if (r.at[0] == 0xFF && r.at[1] == 0xFF) {
            r.Word();
            className = r.Word() == 0x0082 ? "static" : "?";
        } else {
            className = r.Text();
        }
        WORD titleMark = r.Word(), image = r.Word();
        CHECK(id == 1001, "id %lu", id);
        CHECK(itemStyle == 0x5000020E && itemExStyle == 0x20, "style %08lx, extended %08lx",
              itemStyle, itemExStyle);
        CHECK(ix == 0 && iy == 0 && icx == 198 && icy == 71, "%d,%d %dx%d", ix, iy, icx, icy);
        CHECK(_stricmp(className.c_str(), "static") == 0, "class %s", className.c_str());
        CHECK(titleMark == 0xFFFF && image == 114, "image %04x %u", titleMark, image);
    }

    gCase = "bitmap 114";
    if (const BYTE* bitmap = Resource(module, RT_BITMAP, 114, &size)) {
        BITMAPINFOHEADER header;
        memcpy(&header, bitmap, sizeof header);
        CHECK(header.biWidth == 137 && header.biHeight == 101 && header.biBitCount == 8 &&
                  header.biCompression == BI_RGB,
              "%ldx%ld, %u bits, compression %lu", header.biWidth, header.biHeight,
              header.biBitCount, header.biCompression);
    }

    gCase = "icon group 117";
    if (const BYTE* group = Resource(module, RT_GROUP_ICON, 117, &size)) {
        Reader r = {group};
        r.Word();
        WORD type = r.Word(), count = r.Word();
        CHECK(type == 1 && count == 2, "type %u, %u images", type, count);
        const int sizes[2] = {32, 16};
        for (int i = 0; i < count && i < 2; ++i) {
            BYTE width = r.at[0], height = r.at[1], colours = r.at[2];
            r.at += 4;
            r.Word();
            WORD bits = r.Word();
            r.Dword();
            WORD id = r.Word();
            CHECK(width == sizes[i] && height == sizes[i] && colours == 16 && bits == 4 &&
                      id == i + 1,
                  "image %d: %ux%u, %u colours, %u bits, icon %u", i, width, height, colours,
                  bits, id);
            DWORD iconSize = 0;
            Resource(module, RT_ICON, id, &iconSize);
        }
    }
}

// ---- the splash as Windows draws it --------------------------------------------------

static INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Top-down 32-bit pixels of a bitmap.
static std::vector<DWORD> Pixels(HDC dc, HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0);
    GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (DWORD& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

static void SaveBitmap(const std::string& path, const std::vector<DWORD>& pixels, int width,
                       int height)
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(&file, sizeof file, 1, f);
        fwrite(&header, sizeof header, 1, f);
        fwrite(pixels.data(), 4, pixels.size(), f);
        fclose(f);
    }
}

// Shows dialog 103 from the program's own resources, copies it off the screen, and finds
// where bitmap 114 sits in it: it must be whole and centred in the client area.
static void TheSplashShowsTheLogoCentred(HMODULE module)
{
    gCase = "splash picture";
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(103), NULL, QuietDialog, 0);
    CHECK(dialog != NULL, "dialog 103 could not be created: %lu", GetLastError());
    if (!dialog)
        return;
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    for (int i = 0; i < 30; ++i) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    RECT client, units = {0, 0, 198, 71}, frame;
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &units);
    CHECK(client.right == units.right && client.bottom == units.bottom,
          "client %ldx%ld, dialog units give %ldx%ld", client.right, client.bottom, units.right,
          units.bottom);
    GetWindowRect(dialog, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    std::vector<DWORD> shot = Pixels(memory, picture, width, height);
    SaveBitmap(gPicture, shot, width, height);

    const int logoWidth = 137, logoHeight = 101;
    HBITMAP logo = static_cast<HBITMAP>(
        LoadImageA(module, MAKEINTRESOURCEA(114), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    std::vector<DWORD> expected = Pixels(memory, logo, logoWidth, logoHeight);
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    int centreX = origin.x - frame.left + (client.right - logoWidth) / 2;
    int centreY = origin.y - frame.top + (client.bottom - logoHeight) / 2;
    int bestX = 0, bestY = 0;
    size_t bestMatches = 0;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            size_t matches = 0;
            for (int y = 0; y < logoHeight; ++y) {
                for (int x = 0; x < logoWidth; ++x) {
                    int sx = centreX + dx + x, sy = centreY + dy + y;
                    if (sx >= 0 && sy >= 0 && sx < width && sy < height &&
                        shot[static_cast<size_t>(sy) * width + sx] ==
                            expected[static_cast<size_t>(y) * logoWidth + x])
                        ++matches;
                }
            }
            if (matches > bestMatches) {
                bestMatches = matches;
                bestX = dx;
                bestY = dy;
            }
        }
    }
    double share = 100.0 * static_cast<double>(bestMatches) / (logoWidth * logoHeight);
    printf("splash: window %dx%d, client %ldx%ld; logo found %d,%d from the centre, %.1f%% of "
           "its pixels as drawn; picture %s\n",
           width, height, client.right, client.bottom, bestX, bestY, share, gPicture.c_str());
    CHECK(share >= 99.0, "only %.1f%% of the logo's pixels are on the screen", share);
    CHECK(abs(bestX) <= 1 && abs(bestY) <= 1, "logo off centre by %d,%d", bestX, bestY);
    DeleteObject(logo);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    DestroyWindow(dialog);
}

// The version as Explorer's Properties and the consent prompt read it.
static int PrintVersionInfo(const char* path)
{
    static char data[4096];
    DWORD size = GetFileVersionInfoSizeA(path, NULL);
    if (size == 0 || size > sizeof data || !GetFileVersionInfoA(path, 0, size, data)) {
        printf("%s: no version resource\n", path);
        return 1;
    }
    const char* names[] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion",
                           "CompanyName", "LegalCopyright", "OriginalFilename", "InternalName"};
    for (const char* name : names) {
        char query[64];
        snprintf(query, sizeof query, "\\StringFileInfo\\040904E4\\%s", name);
        char* value = NULL;
        UINT length = 0;
        VerQueryValueA(data, query, reinterpret_cast<void**>(&value), &length);
        printf("%s: %s\n", name, value && length ? value : "(none)");
    }
    return 0;
}

// ---- the stack cookie ------------------------------------------------------------------

// stack_smash.exe is built beside each launcher.exe with its flags and its stack cookie.
static DWORD RunStackSmash(const std::string& program, const std::string& argument)
{
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xDEADBEEF;
    HANDLE job = StartInJob(program, "\"" + program + "\" " + argument, gWork, &process);
    if (!job)
        return exitCode;
    WaitForSingleObject(process.hProcess, kRunTimeoutMs);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    WaitForJob(job, kChildrenTimeoutMs);
    return exitCode;
}

// How many times the detach probe beside stack_smash.exe was told of a detach, since the
// last time this was asked.
static int Detaches(const std::string& probe)
{
    int detaches = 0;
    for (const std::string& line : DllLog(probe))
        detaches += line.find(": detach (") != std::string::npos;
    DeleteFileA((probe + ".log").c_str());
    return detaches;
}

// Windows ends a process whose stack was overrun at once: no DLL is told of its end, and none
// runs its code in it. The tests' DLL beside stack_smash.exe records its detach; an ordinary
// exit of the same program is the control.
static void AnOverrunStackEndsTheProcess()
{
    gCase = "the stack cookie";
    std::string built = gLauncher.substr(0, gLauncher.find_last_of("\\/") + 1) + "stack_smash.exe";
    CHECK(GetFileAttributesA(built.c_str()) != INVALID_FILE_ATTRIBUTES, "no %s", built.c_str());
    std::string folder = gWork + "smash\\", program = folder + "stack_smash.exe";
    std::string probe = folder + "detach_probe.dll";
    CreateDirectoryA(folder.c_str(), NULL);
    CopyFileA(built.c_str(), program.c_str(), FALSE);
    CopyFileA((gTools + "planted.dll").c_str(), probe.c_str(), FALSE);
    Detaches(probe);
    DWORD fits = RunStackSmash(program, "short");
    CHECK(fits == 0, "a text that fits its buffer: exit code 0x%08lX", fits);
    int detaches = Detaches(probe);
    CHECK(detaches == 1, "an ordinary exit told the DLL beside it of its detach %d times", detaches);
    // 64 bytes run past the cookie and the return address into the entry's frame, and no
    // further. 200 also overrun the system's frames of the thread's start, and the MSVC
    // build's process then ends under Wine 10 with exit code 1 instead (measured).
    DWORD overrun = RunStackSmash(program, std::string(64, 'A'));
    CHECK(overrun == 0xC0000409, "64 bytes in a 16-byte buffer: exit code 0x%08lX", overrun);
    detaches = Detaches(probe);
    CHECK(detaches == 0, "the overrun process told a DLL of its end %d times", detaches);
    DWORD first = RunStackSmash(program, "cookie"), second = RunStackSmash(program, "cookie");
    CHECK(first != second && first != 0 && first != 0xBB40E64E,
          "two runs' cookies: 0x%08lX and 0x%08lX", first, second);
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--version-info") == 0)
        return PrintVersionInfo(argv[2]);
    if (argc == 4 && strcmp(argv[1], "--splash-picture") == 0) {  // the demo's picture alone
        gPicture = argv[3];
        HMODULE module = LoadLibraryExA(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (module)
            TheSplashShowsTheLogoCentred(module);
        return module && gFailed == 0 ? 0 : 1;
    }
    bool wow64 = false, codePage932 = false, firstRun = false;
    for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        wow64 |= strcmp(argv[1], "--wow64") == 0;
        codePage932 |= strcmp(argv[1], "--code-page-932") == 0;
        firstRun |= strcmp(argv[1], "--first-run") == 0;
    }
    if (argc != 7) {
        printf("usage: e2e [--wow64 | --code-page-932 | --first-run] <launcher> <launcher32> "
               "<tools\\> <work\\> <root\\> <picture.bmp>\n");
        return 2;
    }
    gLauncher = argv[1];
    gLauncher32 = argv[2];
    gTools = argv[3];
    gWork = argv[4];
    gRoot = argv[5];
    gPicture = argv[6];
    BOOL underWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &underWow64);
    printf("driver: %d-bit%s\n", static_cast<int>(sizeof(void*) * 8),
           underWow64 ? ", under WoW64" : "");
    gCase = "the driver's own architecture";
    CHECK(!underWow64 == !wow64, "under WoW64: %d", underWow64);

    InstallShellModule(gTools + "progman.exe");
    gShellWindow = TopLevelWindow(kShellTitle);  // the shell is up unless a case says not
    if (codePage932 || firstRun) {
        if (codePage932)
            AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator();
        else
            AFirstRunRecordsItsFolder();
        DestroyWindow(gShellWindow);
        printf("%d passed, %d failed\n", gPassed, gFailed);
        return gFailed == 0 ? 0 : 1;
    }

    BothBranchesStartTheirChild();
    TheShellWaitDependsOnTheVersion();
    ADirectXWindowEndsTheDirectXPollEarly();
    AMissingChildStillEndsTheRun();
    AFirstRunRecordsItsFolder();
    AFirstRunStartsNothingFromAFolderItCannotRecord();
    TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon();
    if (wow64)
        UnderWow64EachValueIsInThe32BitView();
    HostileInputs();
    NothingPlantedInItsFoldersLoadsIntoTheLauncher();
    AnOverrunStackEndsTheProcess();

    HMODULE module = LoadLibraryExA(gLauncher32.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    gCase = "32-bit launcher.exe";
    CHECK(module != NULL, "cannot read %s", gLauncher32.c_str());
    if (module) {
        TheResourcesAreAsWindowsSeesThem(module);
        TheSplashShowsTheLogoCentred(module);
        FreeLibrary(module);
    }
    DestroyWindow(gShellWindow);
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
