#include <gtest/gtest.h>

#include <utility>

#include "app/launches.h"
#include "app/window_search.h"
#include "tests/scenario.h"

using Waits = Machine;
using Titles = std::vector<std::pair<std::string, unsigned>>;  // a title, from which search

// Before its start, each branch polls for a window: up to 100 searches, with its own pause
// after each that finds nothing. The driver branch takes any titled window; the DirectX branch
// a title holding "Microsoft(R) DirectX(R)", byte for byte, within the first 254 characters.
TEST_F(Waits, EachBranchPollsForItsWindow)
{
    const std::string fragment = "Microsoft(R) DirectX(R)";
    struct Row {
        std::string name;
        bool directX;
        Titles windows;
        unsigned searches, pauses;
    };
    std::vector<Row> rows = {
        {"driver branch, a titled window", false, {{"Program Manager", 1}}, 1, 0},
        {"driver branch, an untitled window only", false, {{"", 1}}, 100, 100},
        {"driver branch, a window from the 7th search", false, {{"x", 7}}, 7, 6},
        {"the setup's window", true, {{"Setup - " + fragment + " 9.0c", 1}}, 1, 0},
        {"the setup's window from the 100th search", true, {{fragment, 100}}, 100, 99},
        {"the fragment ending at 254 characters", true,
         {{std::string(254 - fragment.size(), '.') + fragment, 1}}, 1, 0},
        {"the fragment ending at 255 characters", true,
         {{std::string(255 - fragment.size(), '.') + fragment, 1}}, 100, 100},
        {"another case", true, {{"Setup - microsoft(r) directx(r)", 1}}, 100, 100},
        {"the shell's window only", true, {{"Program Manager", 1}}, 100, 100},
    };
    // Nothing shorter than the whole fragment will do: a title of it with any one character
    // left out, which holds every shorter piece of it, is no setup's window.
    for (size_t i = 0; i < fragment.size(); ++i)
        rows.push_back({"without character " + std::to_string(i), true,
                        {{"Setup " + fragment.substr(0, i) + fragment.substr(i + 1), 1}}, 100,
                        100});
    for (const auto& row : rows) {
        SetUp();
        gSim.major = 5;  // Windows 2000: no shell wait, so every search is the branch's poll
        gSim.minor = 0;
        GiveDirectX(row.directX ? "4.08.00.0400" : "4.09.00.0904");
        GiveInstallPath("C:\\Games\\Device\\");
        for (const auto& window : row.windows)
            SimAddWindow(window.first, window.second);
        EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u) << row.name;
        EXPECT_EQ(gSim.searches, row.searches) << row.name;
        std::vector<DWORD> pauses(row.pauses, row.directX ? 1 : 2);
        pauses.push_back(100);  // after the start
        EXPECT_EQ(Pauses(), pauses) << row.name;
        EXPECT_EQ(Started().size(), 1u) << row.name;
        // A run cut short while it polls has registered the driver installer all the same.
        if (row.directX)
            EXPECT_LT(SimLogIndex("RegSetValueExA"), SimLogIndex("EnumWindows")) << row.name;
    }
}

struct System {
    DWORD platform, major, minor;
    bool extendedRecord;  // it knows OSVERSIONINFOEXA (98, NT 4 SP6 and later)
};
const System kWindows95 = {VER_PLATFORM_WIN32_WINDOWS, 4, 0, false};
const System kWindowsXP = {VER_PLATFORM_WIN32_NT, 5, 1, true};

// Before either start, on every Windows but 95, NT 4 and earlier, and 2000, the launcher
// waits up to 100 searches, 10 ms apart, for the shell's window: titled with string 1 of the
// system's progman.exe, read as data from the system folder or else the Windows folder, never
// from anywhere else; "Program Manager" where there is none (Vista to 11).
TEST_F(Waits, TheShellWaitLooksForTheSystemsShellWindow)
{
    const std::string system = "C:\\WINDOWS\\system32\\progman.exe";
    const std::string windows = "C:\\WINDOWS\\progman.exe";
    const std::string planted[] = {"C:\\Start\\progman.exe", "C:\\Games\\progman.exe"};
    const std::string longFolder = "C:\\" + std::string(247, 's');  // + "\\progman.exe": 260
    const std::vector<SimModule> shellTitle = {{system, "Shell Title"}};
    const struct {
        const char* name;
        System system;
        std::vector<SimModule> files;  // progman.exe's copies and their string 1
        Titles windows;
        unsigned searches, pauses;
        std::string read;  // "": none
        std::string systemDirectory = "C:\\WINDOWS\\system32";  // "": it cannot be read
    } rows[] = {
        {"Windows 95", kWindows95, shellTitle, {}, 0, 0, ""},
        {"Windows 98", {VER_PLATFORM_WIN32_WINDOWS, 4, 10, true}, shellTitle,
         {{"Shell Title", 5}}, 5, 5, system},
        {"Windows Me", {VER_PLATFORM_WIN32_WINDOWS, 4, 90, true}, shellTitle,
         {{"Shell Title", 5}}, 5, 5, system},
        {"NT 3.51", {VER_PLATFORM_WIN32_NT, 3, 51, false}, shellTitle, {}, 0, 0, ""},
        {"NT 4", {VER_PLATFORM_WIN32_NT, 4, 0, false}, shellTitle, {}, 0, 0, ""},
        {"NT 4 SP6", {VER_PLATFORM_WIN32_NT, 4, 0, true}, shellTitle, {}, 0, 0, ""},
        {"2000", {VER_PLATFORM_WIN32_NT, 5, 0, true}, shellTitle, {}, 0, 0, ""},
        {"XP", kWindowsXP, shellTitle, {{"Shell Title", 5}}, 5, 5, system},
        {"10", {VER_PLATFORM_WIN32_NT, 10, 0, true}, shellTitle, {{"Shell Title", 5}}, 5, 5,
         system},
        {"another platform", {0, 3, 10, false}, shellTitle, {{"Shell Title", 5}}, 5, 5, system},
        {"the shell not up in time", kWindowsXP, shellTitle, {}, 100, 99, system},
        {"the shell up at the last search", kWindowsXP, shellTitle, {{"Shell Title", 100}}, 100,
         99, system},
        {"the shell up at the 99th search", kWindowsXP, shellTitle, {{"Shell Title", 99}}, 99,
         99, system},
        {"a window that holds the title", kWindowsXP, {{system, "aab"}}, {{"aaab", 2}}, 2, 2,
         system},
        {"a title cut to 78 characters", kWindowsXP, {{system, std::string(100, 'P')}},
         {{std::string(78, 'P'), 2}}, 2, 2, system},
        {"no progman.exe: the desktop's window", kWindowsXP, {},
         {{"Some window", 1}, {"Program Manager", 30}}, 30, 30, ""},
        {"no string 1: the desktop's window", kWindowsXP, {{system, ""}},
         {{"Some window", 1}, {"Program Manager", 2}}, 2, 2, system},
        {"the Windows folder's", kWindowsXP, {{windows, "Shell Title"}}, {{"Shell Title", 2}},
         2, 2, windows},
        {"the system folder's before the Windows folder's", kWindowsXP,
         {{windows, "Program Manager"}, {system, "Shell Title"}},
         {{"Program Manager", 1}, {"Shell Title", 3}}, 3, 3, system},
        {"planted beside the launcher and in the current directory", kWindowsXP,
         {{planted[0], "Planted"}, {planted[1], "Planted"}},
         {{"Planted", 1}, {"Program Manager", 4}}, 4, 4, ""},
        {"the system folder unreadable", kWindowsXP,
         {{system, "Planted"}, {windows, "Shell Title"}}, {{"Shell Title", 2}}, 2, 2, windows,
         ""},
        {"the system folder too long for the path", kWindowsXP,
         {{longFolder + "\\progman.exe", "Planted"}, {windows, "Shell Title"}},
         {{"Shell Title", 2}}, 2, 2, windows, longFolder},
    };
    for (const auto& row : rows) {
        SetUp();
        gSim.platformId = row.system.platform;
        gSim.major = row.system.major;
        gSim.minor = row.system.minor;
        gSim.extendedVersionKnown = row.system.extendedRecord;
        gSim.currentDirectory = "C:\\Games";
        gSim.systemDirectory = row.systemDirectory;
        gSim.modules = row.files;
        for (const auto& window : row.windows)
            SimAddWindow(window.first, window.second);
        WaitForShell();
        EXPECT_EQ(gSim.searches, row.searches) << row.name;
        EXPECT_EQ(Pauses(), std::vector<DWORD>(row.pauses, 10)) << row.name;
        EXPECT_EQ(gSim.modulesRead, row.read.empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{row.read})
            << row.name;
        EXPECT_TRUE(gSim.modulesRun.empty()) << row.name << ": no code of it runs";
        EXPECT_EQ(gSim.loadedModules, 0) << row.name << ": freed at once";
    }
}

using Launches = Machine;

// Each start: from the program's own folder under the install path, made current first, with
// an empty command line, shown normally, inheriting nothing; where Windows refuses it for want
// of rights (740), through the shell, which asks for them; then 100 ms. Nothing starts without
// a full path that fits.
TEST_F(Launches, EachStartsItsProgramFromItsFolder)
{
    const std::string device = "C:\\Games\\Device\\";
    const std::string setup = device + kSetupChild, setupFolder = device + "DirectX\\9.0\\";
    const std::string driver = device + kDriverChild, driverFolder = device + "PX_Drivers\\";
    const struct {
        const char* name;
        void (*launch)(const char*);
        std::string installPath;
        DWORD refusal;  // what CreateProcessA fails with; 0: it starts
        std::string started;  // "": nothing
        std::string folder;   // where a start is tried from; "": none is
        bool throughTheShell;
    } rows[] = {
        {"the DirectX setup", LaunchDirectXSetup, device, 0, setup, setupFolder, false},
        {"the driver installer", LaunchDriverInstaller, device, 0, driver, driverFolder, false},
        {"no install path", LaunchDriverInstaller, "", 0, "", "", false},
        {"a path that does not fit", LaunchDriverInstaller, "C:\\" + std::string(240, 'a') + "\\",
         0, "", "", false},
        {"refused for want of rights", LaunchDirectXSetup, device, 740, setup, setupFolder, true},
        {"refused for want of access", LaunchDirectXSetup, device, ERROR_ACCESS_DENIED, "",
         setupFolder, false},
        {"not found", LaunchDriverInstaller, device, ERROR_FILE_NOT_FOUND, "", driverFolder,
         false},
    };
    for (const auto& row : rows) {
        SetUp();
        SimAddWindow("Program Manager");
        gSim.modules.push_back({"C:\\Start\\shell32.dll", ""});  // planted beside the launcher
        gSim.createProcessError = row.refusal;
        row.launch(row.installPath.c_str());
        EXPECT_EQ(Started(), row.started.empty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{row.started})
            << row.name;
        // The shell wait's 10 ms, and 100 ms after a start is tried.
        std::vector<DWORD> pauses = {10};
        if (!row.folder.empty())
            pauses.push_back(100);
        EXPECT_EQ(Pauses(), pauses) << row.name;
        EXPECT_EQ(gSim.processes.size(), row.folder.empty() ? 0u : 1u) << row.name;
        for (const auto& child : gSim.processes) {
            EXPECT_EQ(child.commandLine, "") << row.name;
            EXPECT_EQ(child.currentDirectory, row.folder) << row.name;
            EXPECT_EQ(child.launcherDirectory + "\\", child.currentDirectory) << row.name;
            EXPECT_FALSE(child.inheritHandles) << row.name;
            EXPECT_EQ(child.creationFlags, 0u) << row.name;
            EXPECT_EQ(child.startup.dwFlags & STARTF_USESHOWWINDOW, STARTF_USESHOWWINDOW)
                << row.name;
            EXPECT_EQ(child.startup.wShowWindow, SW_SHOWNORMAL) << row.name;
            EXPECT_LT(SimLogIndex("EnumWindows"), SimLogIndex("CreateProcessA")) << row.name;
        }
        EXPECT_EQ(gSim.shellStarts.size(), row.throughTheShell ? 1u : 0u) << row.name;
        for (const auto& start : gSim.shellStarts) {
            EXPECT_EQ(start.directory, row.folder) << row.name;
            EXPECT_EQ(start.parameters, "") << row.name;
            EXPECT_EQ(start.info.lpVerb, nullptr) << row.name << ": the default verb";
            EXPECT_EQ(start.info.nShow, SW_SHOWNORMAL) << row.name;
            EXPECT_EQ(start.info.fMask, SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC)
                << row.name << ": no message box of its own, done before the process ends";
            EXPECT_EQ(start.info.hwnd, nullptr) << row.name;
        }
        EXPECT_EQ(gSim.modulesRun, row.throughTheShell
                                       ? std::vector<std::string>{"C:\\WINDOWS\\system32\\shell32.dll"}
                                       : std::vector<std::string>{})
            << row.name;
    }
}
