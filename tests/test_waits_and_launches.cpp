#include <gtest/gtest.h>

#include <string.h>

#include "app/launches.h"
#include "app/window_search.h"
#include "tests/scenario.h"

using Waits = Machine;

TEST_F(Waits, APollSearchesUntilAMatchOrAHundredTimes)
{
    const struct {
        unsigned windowFromSearch;  // 0: no matching window
        unsigned searches;
        unsigned pauses;
    } cases[] = {{1, 1, 0}, {7, 7, 6}, {100, 100, 99}, {0, 100, 100}};
    for (const auto& c : cases) {
        SetUp();
        SimAddWindow("");  // untitled windows never match, not even an empty fragment
        SimAddWindow("Setup - microsoft(r) directx(r)");
        if (c.windowFromSearch)
            SimAddWindow("Setup - Microsoft(R) DirectX(R) 9.0c", c.windowFromSearch);
        strcpy(TitleFragment, "Microsoft(R) DirectX(R)");
        PollForWindow(1);
        EXPECT_EQ(gSim.searches, c.searches) << "window from search " << c.windowFromSearch;
        EXPECT_EQ(SimCount("Sleep 1"), c.pauses) << "window from search " << c.windowFromSearch;
    }
}

TEST_F(Waits, TheLastMatchingWindowStaysFound)
{
    SimAddWindow("first Microsoft(R) DirectX(R)");
    HWND last = SimAddWindow("Microsoft(R) DirectX(R) second");
    SimAddWindow("other");
    strcpy(TitleFragment, "Microsoft(R) DirectX(R)");
    SearchWindows();
    EXPECT_EQ(FoundWindow, last);
}

TEST_F(Waits, AnEmptyFragmentMatchesEveryTitledWindowButNoUntitledOne)
{
    SimAddWindow("");
    SearchWindows();
    EXPECT_EQ(FoundWindow, nullptr);
    HWND titled = SimAddWindow("x");
    SearchWindows();
    EXPECT_EQ(FoundWindow, titled);
}

TEST_F(Waits, TitlesAreSeenUpTo254Characters)
{
    SimAddWindow(std::string(250, '.') + "abcdef");
    strcpy(TitleFragment, "abcd");
    SearchWindows();
    EXPECT_NE(FoundWindow, nullptr);
    FoundWindow = NULL;
    strcpy(TitleFragment, "abcde");
    SearchWindows();
    EXPECT_EQ(FoundWindow, nullptr);
}

TEST_F(Waits, TheShellWaitDependsOnTheWindowsVersion)
{
    const struct {
        DWORD platform, major, minor;
        bool extendedKnown;
        bool waits;
    } cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, false, false},  // Windows 95
        {VER_PLATFORM_WIN32_WINDOWS, 4, 10, true, true},    // Windows 98
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, true, true},    // Windows Me
        {VER_PLATFORM_WIN32_NT, 3, 51, false, false},
        {VER_PLATFORM_WIN32_NT, 4, 0, false, false},
        {VER_PLATFORM_WIN32_NT, 5, 0, true, false},         // Windows 2000
        {VER_PLATFORM_WIN32_NT, 5, 1, true, true},          // XP
        {VER_PLATFORM_WIN32_NT, 6, 1, true, true},
        {VER_PLATFORM_WIN32_NT, 10, 0, true, true},
        {0, 3, 10, false, true},                            // any other platform
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.platformId = c.platform;
        gSim.major = c.major;
        gSim.minor = c.minor;
        gSim.extendedVersionKnown = c.extendedKnown;
        strcpy(TitleFragment, "untouched");
        HWND before = reinterpret_cast<HWND>(uintptr_t{0x42});
        FoundWindow = before;
        WaitForShell();
        std::string name = std::to_string(c.platform) + " " + std::to_string(c.major) + "." +
                           std::to_string(c.minor);
        EXPECT_EQ(SimCount("GetVersionExA 156"), 1u) << name;
        EXPECT_EQ(SimCount("GetVersionExA 148"), c.extendedKnown ? 0u : 1u) << name;
        EXPECT_EQ(gSim.searches, c.waits ? 100u : 0u) << name;
        if (!c.waits) {
            EXPECT_STREQ(TitleFragment, "untouched") << name;
            EXPECT_EQ(FoundWindow, before) << name;
        }
    }
}

// Without a progman.exe, or without its string 1 (Windows Vista to 11), the wait looks for
// "Program Manager", the title of their desktop's window: an empty fragment would be found in
// any titled window at the first pass.
TEST_F(Waits, TheShellWaitLooksForStringOneOfTheShellModuleElseProgramManager)
{
    const struct {
        bool moduleThere;
        std::string title;
        const char* fragment;
        unsigned desktopFromSearch;  // 0: no window titled "Program Manager"
        unsigned searches, pauses;
    } cases[] = {
        {true, "Shell Title", "Shell Title", 0, 100, 99},  // no shell window yet
        {true, std::string(100, 'P'), nullptr, 0, 100, 99},  // cut to 78 characters
        {false, "", "Program Manager", 0, 100, 99},  // "Some window" is no desktop
        {false, "", "Program Manager", 30, 30, 30},  // the desktop comes up late
        {true, "", "Program Manager", 2, 2, 2},      // no string 1
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.modules = {};
        if (c.moduleThere)
            gSim.modules = {{"C:\\WINDOWS\\system32\\progman.exe", c.title}};
        SimAddWindow("Some window");
        if (c.desktopFromSearch)
            SimAddWindow("Program Manager", c.desktopFromSearch);
        WaitForShell();
        const std::string name = std::to_string(&c - cases);
        EXPECT_STREQ(TitleFragment, c.fragment ? c.fragment : std::string(78, 'P').c_str()) << name;
        EXPECT_EQ(gSim.searches, c.searches) << name;
        EXPECT_EQ(SimCount("Sleep 10"), c.pauses) << name;
        EXPECT_EQ(SimCount("LoadLibraryExA C:\\WINDOWS\\system32\\progman.exe 2"), 1u)
            << "read as data only";
        EXPECT_EQ(SimCount("LoadStringA 1 79"), c.moduleThere ? 1u : 0u) << name;
        EXPECT_EQ(gSim.loadedModules, 0) << "the module is freed at once";
    }
}

// progman.exe is read from the system folder, else from the Windows folder; a copy in the
// launcher's folder or the current directory, which others may have put there, never.
TEST_F(Waits, TheShellTitleComesFromTheSystemFoldersOnly)
{
    const std::string system = "C:\\WINDOWS\\system32\\progman.exe";
    const std::string windows = "C:\\WINDOWS\\progman.exe";
    const std::string planted[] = {"C:\\Start\\progman.exe", "C:\\Games\\progman.exe"};
    const std::string longFolder = "C:\\" + std::string(247, 's');  // + "\\progman.exe": 260
    const struct {
        const char* name;
        std::vector<std::string> files;  // each with its own path as string 1
        std::string systemDirectory;     // "": GetSystemDirectoryA fails
        std::string read;                // "": nothing read
    } cases[] = {
        {"system folder", {system, windows}, "C:\\WINDOWS\\system32", system},
        {"Windows folder", {windows}, "C:\\WINDOWS\\system32", windows},
        {"planted beside the launcher and in the current directory", {planted[0], planted[1]},
         "C:\\WINDOWS\\system32", ""},
        {"planted, and in the system folder", {planted[0], planted[1], system},
         "C:\\WINDOWS\\system32", system},
        {"system folder unreadable", {system, windows}, "", windows},
        {"system folder too long for the path", {longFolder + "\\progman.exe", windows},
         longFolder, windows},
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.currentDirectory = "C:\\Games";
        gSim.systemDirectory = c.systemDirectory;
        gSim.modules = {};
        for (const auto& file : c.files)
            gSim.modules.push_back({file, file});
        WaitForShell();
        EXPECT_EQ(gSim.modulesRead, c.read.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.read})
            << c.name;
        EXPECT_EQ(TitleFragment, c.read.empty() ? "Program Manager" : c.read) << c.name;
        EXPECT_EQ(SimCount("LoadLibraryExA progman.exe"), 0u) << c.name << ": never by name";
    }
}

TEST_F(Waits, TheShellWaitEndsAfterTheSearchThatFindsTheShell)
{
    const struct {
        unsigned shellFromSearch;
        unsigned searches, pauses;
    } cases[] = {{1, 1, 1}, {5, 5, 5}, {99, 99, 99}, {100, 100, 99}};
    for (const auto& c : cases) {
        SetUp();
        SimAddWindow("Program Manager", c.shellFromSearch);
        WaitForShell();
        EXPECT_EQ(gSim.searches, c.searches) << c.shellFromSearch;
        EXPECT_EQ(SimCount("Sleep 10"), c.pauses) << c.shellFromSearch;
    }
}

using Launches = Machine;

TEST_F(Launches, EachRecipeStartsItsProgramFromItsFolderWithAnEmptyCommandLine)
{
    const struct {
        void (*launch)(const char*);
        const char* folder;
        const char* program;
    } cases[] = {
        {LaunchDirectXSetup, "C:\\Games\\Device\\DirectX\\9.0\\",
         "C:\\Games\\Device\\DirectX\\9.0\\dxsetup.exe"},
        {LaunchDriverInstaller, "C:\\Games\\Device\\PX_Drivers\\",
         "C:\\Games\\Device\\PX_Drivers\\QuaverlineDrivers40.exe"},
    };
    for (const auto& c : cases) {
        SetUp();
        SimAddWindow("Program Manager");
        c.launch("C:\\Games\\Device\\");
        EXPECT_EQ(SimCount("RegOpenKeyExA"), 0u) << "the recipe reads no record of its own";
        ASSERT_EQ(gSim.processes.size(), 1u);
        const SimProcess& child = gSim.processes[0];
        EXPECT_EQ(child.application, c.program);
        EXPECT_EQ(child.commandLine, "");
        EXPECT_EQ(child.currentDirectory, c.folder);
        EXPECT_EQ(child.launcherDirectory + "\\", c.folder) << "made current before the start";
        EXPECT_FALSE(child.inheritHandles);
        EXPECT_EQ(child.creationFlags, 0u);
        EXPECT_EQ(child.startup.cb, sizeof(void*) == 4 ? 68u : 104u) << "the record's own size";
        EXPECT_EQ(child.startup.dwFlags, STARTF_USESHOWWINDOW);
        EXPECT_EQ(child.startup.wShowWindow, SW_SHOWNORMAL);
        EXPECT_EQ(child.startup.lpDesktop, nullptr);
        EXPECT_EQ(child.startup.hStdInput, nullptr);
        // The shell wait comes first, the 100 ms pause last.
        EXPECT_LT(SimLogIndex("EnumWindows"), SimLogIndex("CreateProcessA"));
        EXPECT_EQ(gSim.log.back(), "Sleep 100");
    }
}

TEST_F(Launches, NothingStartsWithoutAFullPathThatFits)
{
    const std::string cases[] = {"", "C:\\" + std::string(240, 'a') + "\\"};
    for (const auto& installPath : cases) {
        SetUp();
        gSim.platformId = VER_PLATFORM_WIN32_NT;
        gSim.major = 4;
        LaunchDriverInstaller(installPath.c_str());
        EXPECT_TRUE(gSim.processes.empty()) << installPath.size();
        EXPECT_EQ(SimCount("SetCurrentDirectoryA"), 0u) << installPath.size();
    }
}


TEST_F(Launches, AnInstallerRefusedForWantOfRightsIsStartedThroughTheShell)
{
    const struct {
        DWORD createProcessError;  // 0: CreateProcessA starts it
        bool throughTheShell;
    } cases[] = {{0, false}, {740, true}, {ERROR_ACCESS_DENIED, false}, {ERROR_FILE_NOT_FOUND, false}};
    for (const auto& c : cases) {
        SetUp();
        SimAddWindow("Program Manager");
        gSim.modules.push_back({"C:\\Start\\shell32.dll", ""});  // planted beside the launcher
        gSim.createProcessError = c.createProcessError;
        LaunchDirectXSetup("C:\\Games\\Device\\");
        const std::string name = "CreateProcessA error " + std::to_string(c.createProcessError);
        EXPECT_EQ(gSim.processes.size(), 1u) << name << ": CreateProcessA comes first";
        EXPECT_EQ(gSim.modulesRead.back() == "C:\\WINDOWS\\system32\\shell32.dll",
                  c.throughTheShell)
            << name << ": shell32 by its full path in the system folder, " << gSim.modulesRead.back();
        ASSERT_EQ(gSim.shellStarts.size(), c.throughTheShell ? 1u : 0u) << name;
        EXPECT_EQ(gSim.log.back(), "Sleep 100") << name;
        if (!c.throughTheShell)
            continue;
        const SimShellStart& start = gSim.shellStarts[0];
        EXPECT_EQ(start.file, "C:\\Games\\Device\\DirectX\\9.0\\dxsetup.exe");
        EXPECT_EQ(start.directory, "C:\\Games\\Device\\DirectX\\9.0\\");
        EXPECT_EQ(start.parameters, "");
        EXPECT_EQ(start.info.lpVerb, nullptr) << "the default verb";
        EXPECT_EQ(start.info.nShow, SW_SHOWNORMAL);
        EXPECT_EQ(start.info.fMask, SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC);
        EXPECT_EQ(start.info.hwnd, nullptr);
        EXPECT_EQ(start.info.cbSize, sizeof(void*) == 4 ? 60u : 112u) << "the record's own size";
    }
}
