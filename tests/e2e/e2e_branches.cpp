// Both branches start their child, from where and how; a missing child; the RunOnce record
// at the next logon; and under WoW64 the registry view each value lands in.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

// Both branches, with the manifest, on each Windows version (the shell's window is up, so
// no shell wait lasts).
void BothBranchesStartTheirChild()
{
    struct {
        const char* name;
        const char* version;
        const char* child;
        const char* childFolder;
        bool runOnce;
    } cases[] = {
        {"driver branch", "4.09.00.0904", kDriverChild, kDriverFolder, false},
        {"DirectX branch", "4.08.00.0400", kSetupChild, kSetupFolder, true},
    };
    std::string folder = gWork + "app\\";
    for (const char* windows : {"win95", "nt40", "win2k", "winxp", "win7", "win10"}) {
        std::string why = UseWindowsVersion(windows);
        for (const auto& c : cases) {
            char name[64];
            snprintf(name, sizeof name, "%s on %s", c.name, windows);
            gCase = name;
            if (!why.empty()) {
                SkipRow(name, why);
                continue;
            }
            LayOut(folder);
            SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.version);
            SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, folder);
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
            Run run;
            ChildStart start = RunAndExpectChild(folder, " 2", c.child, &run);
            CHECK(start.self == folder + c.child, "child %s", start.self.c_str());
            CHECK(start.folder + "\\" == folder + c.childFolder, "child's folder %s",
                  start.folder.c_str());
            CHECK(EmptyCommandLine(start), "command line [%s]", start.commandLine.c_str());
            std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
            std::string expected = c.runOnce ? folder + kDriverChild : "(none)";
            CHECK(runOnce == expected, "RunOnce %s", runOnce.c_str());
            printf("%s: child started %.0f ms after the launcher, launcher ran %.0f ms\n", name,
                   ChildDelay(run, start), Milliseconds(run.started, run.ended));
        }
    }
    UseWindowsVersion(NULL);
}

void AMissingChildStillEndsTheRun()
{
    gCase = "missing DirectX setup";
    std::string folder = gWork + "missing\\";
    LayOut(folder);
    DeleteFileA((folder + kSetupChild).c_str());
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, folder);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    Run run = RunLauncher(folder, " 1");
    CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
    std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    CHECK(runOnce == folder + kDriverChild, "RunOnce %s", runOnce.c_str());
}

// A folder with a space is registered quoted; at the next logon the record runs the driver
// installer, and is gone.
void TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon()
{
    gCase = "RunOnce record of a folder with a space";
    std::string folder = gWork + "Program Files\\Device Kit\\";
    CreateDirectoryA((gWork + "Program Files").c_str(), NULL);
    LayOut(folder);
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.08.00.0400");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, folder);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    RunAndExpectChild(folder, " 2", kSetupChild);
    std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    CHECK(runOnce == "\"" + folder + kDriverChild + "\"", "RunOnce %s", runOnce.c_str());

    gCase = "RunOnce at the next logon";
    if (!gWineSuite) {
        // A logon runs every program's RunOnce records, not the kit's alone, and ends the run.
        SkipRow(gCase, "only a Wine suite restarts its prefix: the kit cannot log on again");
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        return;
    }
    WineRestart();
    std::vector<ChildStart> starts;
    for (DWORD waited = 0; waited < kChildrenTimeoutMs && starts.empty(); waited += 100, Sleep(100))
        starts = ChildStarts(folder + kDriverChild);
    CHECK(starts.size() == 1, "driver installer started %zu times at the logon", starts.size());
    if (!starts.empty())
        CHECK(starts[0].self == folder + kDriverChild, "started %s", starts[0].self.c_str());
    runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    CHECK(runOnce == "(none)", "RunOnce afterwards %s", runOnce.c_str());
}

// On 64-bit Windows the 32-bit launcher sees the 32-bit view of HKLM\\Software, as this
// 32-bit driver does; the 64-bit side (KEY_WOW64_64KEY) holds other values that must not
// count, and gets none of the launcher's. HKCU\\Software is one for both.
void UnderWow64EachValueIsInThe32BitView()
{
    if (!UnderWow64()) {
        SkipRow("the registry views", "not under WoW64: a 32-bit Windows has one registry view");
        return;
    }
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
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.version32);
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.version64, KEY_WOW64_64KEY);
        // A first run records its folder over an earlier record; a later run finds it.
        SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue,
                  c.arguments[0] == '\0' ? "C:\\elsewhere\\" : folder, KEY_WOW64_64KEY);
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, view);
        RunAndExpectChild(folder, c.arguments, c.child);
        std::string record =
            GetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, KEY_WOW64_64KEY);
        CHECK(record == folder, "install path seen from the 64-bit side %s", record.c_str());
        std::string runOnce32 =
            GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, KEY_WOW64_32KEY);
        std::string runOnce64 =
            GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, KEY_WOW64_64KEY);
        std::string expected = c.child == kSetupChild ? folder + kDriverChild : "(none)";
        CHECK(runOnce32 == expected, "RunOnce in the 32-bit view %s", runOnce32.c_str());
        CHECK(runOnce64 == "(none)", "RunOnce in the 64-bit view %s", runOnce64.c_str());
    }
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904", KEY_WOW64_64KEY);
    DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, KEY_WOW64_32KEY);
}
