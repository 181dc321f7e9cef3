// Hostile registries and folders, and modules planted where others may write: what an
// elevated launcher must refuse.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

// ---- hostile registries and folders ---------------------------------------------------

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

void HostileInputs()
{
    const std::string folder = gWork + "hostile\\";
    const std::string dword("\x04\x09\x00\x00", 4);
    const std::string at225 = FolderOfLength(225), at226 = FolderOfLength(226);
    struct {
        const char* name;
        DWORD versionType;
        std::string version;
        DWORD recordType;
        std::string record;
        Setup setup;
        const char* child;      // NULL: nothing starts
        std::string runOnce;    // "(none)": no record
    } cases[] = {
        {"Version as REG_DWORD", REG_DWORD, dword, REG_SZ, folder, kNothing, kDriverChild, "(none)"},
        {"Version of 300 bytes", REG_SZ, std::string(300, '4'), REG_SZ, folder, kNothing,
         kSetupChild, folder + kDriverChild},
        {"record of 260 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(256, 'a') + "\\", kNothing, NULL, "(none)"},
        {"record of 300 characters", REG_SZ, "4.08.00.0400", REG_SZ,
         "T:\\" + std::string(296, 'a') + "\\", kNothing, NULL, "(none)"},
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
        if (c.setup != kNothing && !gWineSuite) {
            SkipRow(c.name, "it changes the security of an HKLM key, or deletes one: only a "
                            "Wine suite does, in a prefix of its own");
            continue;
        }
        ++count;
        for (const std::string& place : {folder, at225, at226})
            LayOut(place);
        SetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.versionType, c.version);
        SetValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue, c.recordType, c.record);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        if (c.setup == kDirectXKeyReadOnly)
            WineSetKeyAccess(kDirectXKey, "D:(A;;KR;;;WD)");
        if (c.setup == kRunOnceReadOnly)
            WineSetKeyAccess(kRunOnceKey, "D:(A;;KR;;;WD)");
        if (c.setup == kNoRunOnceKey)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRunOnceKey);

        Run run = RunLauncher(folder, " 2");
        CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
        std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        CHECK(runOnce == c.runOnce, "RunOnce %s", runOnce.c_str());
        if (c.setup == kNoRunOnceKey)
            CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey), "the RunOnce key was created");
        const std::string& home = c.record == at225 || c.record == at226 ? c.record : folder;
        for (const char* child : {kDriverChild, kSetupChild}) {
            size_t expected = c.child && strcmp(child, c.child) == 0 ? 1 : 0;
            size_t starts = 0;  // a log past MAX_PATH cannot be deleted: count this run's lines
            std::vector<std::string> places = {home};
            if (home != folder)
                places.push_back(folder);
            for (const std::string& place : places) {
                for (const ChildStart& start : ChildStarts(place + child))
                    starts += start.created >= run.startedAt;
            }
            CHECK(starts == expected, "%s started %zu times", child, starts);
        }

        if (c.setup == kDirectXKeyReadOnly) {  // made anew, with its own security, next row
            WineSetKeyAccess(kDirectXKey, "D:(A;;KA;;;WD)");
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDirectXKey);
        }
        if (c.setup == kRunOnceReadOnly)
            WineSetKeyAccess(kRunOnceKey, "D:(A;;KA;;;WD)");
        if (c.setup == kNoRunOnceKey) {
            HKEY k;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                &k, NULL) == 0)
                RegCloseKey(k);
        }
    }
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
    printf("hostile inputs: %d cases\n", count);
}

// ---- planted modules ------------------------------------------------------------------

// What the launcher's process loads by name after its start through the default DLL
// directories (WINEDEBUG=+loaddll under Wine): a copy is planted where others may write. A
// Wine suite tells Wine to prefer a native DLL of that name in launcher.exe, as Windows does
// for any module that is not a known DLL.
static const char kPlantedModule[] = "uxtheme";  // planted as uxtheme.dll

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
// wait looks for. Where the shell's window can be left out (on Windows XP in a Wine suite),
// the wait lasts its full second though a window with the planted title is up; where the
// system's own is up, as on a real Windows, the wait ends at once though no window has the
// planted title.
void NothingPlantedInItsFoldersLoadsIntoTheLauncher()
{
    if (UnderWine())
        printf("planted: uxtheme.dll and progman.exe; not planted: ole32.dll and its imports "
               "rpcrt4.dll and combase.dll, and coml2.dll (Wine 10's, for ole32), which Wine's "
               "imm32 loads without the process's default DLL directories (on Windows ole32, "
               "rpcrt4 and combase are known DLLs, from the system folder only, and there is no "
               "coml2.dll)\n");
    const std::string downloads = gWork + "planted\\Downloads\\";
    const std::string device = gWork + "planted\\Device\\";
    MakeFolders(downloads);
    LayOut(device);
    CopyFileA(gLauncher.c_str(), (downloads + "launcher.exe").c_str(), FALSE);
    const std::string places[] = {downloads, device, device + kDriverFolder,
                                  device + kSetupFolder};
    for (const std::string& place : places) {
        CopyFileA((gTools + "planted.dll").c_str(), (place + kPlantedModule + ".dll").c_str(),
                  FALSE);
        CopyFileA((gTools + "planted_progman.exe").c_str(), (place + "progman.exe").c_str(), FALSE);
    }
    UseWindowsVersion(gWineSuite ? "winxp" : NULL);
    bool systemsShellUp = !UseShellWindow(kAbsent).empty();
    if (systemsShellUp)
        UseShellWindow(kPresent);
    HWND plantedWindow = systemsShellUp ? NULL : TopLevelWindow(PLANTED_SHELL_TITLE);
    bool waits = !systemsShellUp && ShellWaitExpected();
    printf("planted modules: the shell's window %s, a window titled as the planted progman.exe "
           "%s: the launcher %s\n", systemsShellUp ? "up" : "not up",
           plantedWindow ? "up" : "not up", waits ? "waits its full second" : "does not wait");
    gCase = "planted modules, the floor";
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, device);
    double floor = FloorChildDelay(device);
    if (gWineSuite)
        WinePreferNativeModule(kPlantedModule, true);
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
            SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.version);
            SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue,
                      c.arguments[0] == '\0' ? "C:\\elsewhere\\" : device);
            DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
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
            if (c.arguments[0] != '\0' && waits) {
                CHECK_TIME("child's start", delay, kAtLeast, 950.0);
                CHECK_TIME("child's start, against the floor", delay, kAtLeast, floor + 495.0);
            } else if (c.arguments[0] != '\0') {
                CHECK_TIME("child's start, against the floor", delay, kAtMost, floor + 495.0);
            }
            if (controlLoads == 0) {
                printf("planted case %s: proved nothing: a launcher.exe that never restricts its "
                       "DLL search loads no planted DLL in it either on this system\n", c.key);
                SkipRow(c.name, "a launcher.exe that never restricts its DLL search loads no "
                                "planted DLL in it either on this system");
            } else {
                printf("planted case %s: proven\n", c.key);
                ++proven;
                CHECK(loads == 0, "the launcher loaded a planted %s.dll %d times", kPlantedModule,
                      loads);
            }
            printf("%s: child started %.0f ms after the launcher (%.0f ms after the floor), %d "
                   "planted DLL loads, %d by the control\n", c.name, delay, floor, loads,
                   controlLoads);
        }
    }
    gCase = "planted modules";
    if (gWineSuite) {
        CHECK(proven >= 1, "no planted case is proven under this Wine: the control loads nothing");
        WinePreferNativeModule(kPlantedModule, false);
    }
    CopyFileA(gLauncher.c_str(), (device + "launcher.exe").c_str(), FALSE);
    UseWindowsVersion(NULL);
    if (plantedWindow)
        DestroyWindow(plantedWindow);
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
}
