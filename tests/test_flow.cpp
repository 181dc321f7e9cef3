#include <gtest/gtest.h>

#include "tests/scenario.h"

using Flow = Machine;

TEST_F(Flow, TheArgumentTailChoosesSplashPauseOrNothing)
{
    const struct {
        const char* commandLine;
        bool splash;
        bool pause;
    } cases[] = {
        {"launcher.exe", true, false},
        {"\"C:\\Games\\launcher.exe\"  ", true, false},
        {"launcher.exe 1", false, true},
        {"launcher.exe 1 ", false, false},
        {"launcher.exe 2", false, false},
    };
    for (const auto& c : cases) {
        SetUp();
        GiveDirectX("4.09.00.0904");
        EXPECT_EQ(RunLauncher(c.commandLine), 1u) << c.commandLine;
        EXPECT_EQ(gSim.dialogShown, c.splash) << c.commandLine;
        size_t probe = SimLogIndex("RegOpenKeyExA Software\\Microsoft\\DirectX");
        ASSERT_NE(probe, std::string::npos) << c.commandLine;
        EXPECT_EQ(probe > 0 && gSim.log[probe - 1] == "Sleep 1", c.pause) << c.commandLine;
    }
}

// Once the splash has ended, a first run reads its record and its folder, and goes straight
// on to the probe: no pause, nothing else.
TEST_F(Flow, AFirstRunGoesFromTheSplashToTheProbeWithNothingBetween)
{
    const struct {
        DWORD platformId;
        std::vector<std::string> calls;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT,
         {"RegOpenKeyExA SOFTWARE\\Orvalent", "RegQueryValueExA QB62_INSTALL_PATH",
          "GetCurrentDirectoryW", "WideCharToMultiByte 1024", "MultiByteToWideChar"}},
        {VER_PLATFORM_WIN32_WINDOWS,  // Windows 95 to Me: the ANSI name
         {"RegOpenKeyExA SOFTWARE\\Orvalent", "RegQueryValueExA QB62_INSTALL_PATH",
          "GetCurrentDirectoryW", "GetCurrentDirectoryA"}},
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.platformId = c.platformId;
        gSim.currentDirectory = "C:\\Games\\Device";
        GiveDirectX("4.09.00.0904");
        EXPECT_EQ(RunLauncher("launcher.exe"), 1u);
        size_t ended = SimLogIndex("EndDialog"), probe = SimLogIndex(std::string("RegOpenKeyExA ") + kDirectXKey);
        ASSERT_LT(ended, probe) << c.platformId;
        EXPECT_EQ(std::vector<std::string>(gSim.log.begin() + ended + 1, gSim.log.begin() + probe),
                  c.calls) << c.platformId;
        EXPECT_EQ(gSim.processes.size(), 1u) << c.platformId;
    }
}

// The stack cookie is set before anything else runs; then, before the splash or any window can
// load a module, the DLL search is kept to the system folder where kernel32 offers it; where
// it does not, the run is the same without it.
TEST_F(Flow, TheStackCookieAndThenTheDllSearchComeFirstOfAll)
{
    for (bool offered : {true, false}) {
        SetUp();
        gSim.hasDefaultDllDirectories = offered;
        gSim.currentDirectory = "C:\\Games\\Device";
        GiveDirectX("4.09.00.0904");
        gStackCookie = 0;
        EXPECT_EQ(RunLauncher("launcher.exe"), 1u) << offered;
        ASSERT_GE(gSim.log.size(), 4u);
        EXPECT_NE(gSim.cookieAtFirstCall, 0u) << offered;
        EXPECT_EQ(gSim.cookieAtFirstCall, gStackCookie) << "set once, before the first call";
        EXPECT_EQ(gSim.log[0], "GetModuleHandleA kernel32.dll") << offered;
        EXPECT_EQ(gSim.log[1], "GetProcAddress SetDefaultDllDirectories") << offered;
        EXPECT_EQ(SimLogIndex("SetDefaultDllDirectories 2048"), offered ? 2u : std::string::npos);
        EXPECT_EQ(SimCount("SetDefaultDllDirectories"), offered ? 1u : 0u);
        EXPECT_TRUE(gSim.dialogShown) << offered;
        ASSERT_EQ(gSim.processes.size(), 1u) << offered;
        EXPECT_EQ(gSim.processes[0].application,
                  "C:\\Games\\Device\\PX_Drivers\\QuaverlineDrivers40.exe");
    }
}

// Runs the launcher from a frame deeper in the stack. The array stays on the stack itself
// (the sanitizers' fake stacks take no frame of this function), so the launcher's frames lie
// lower than from anywhere else.
__attribute__((noinline, no_sanitize_address)) static UINT RunFromDeeperInTheStack()
{
    volatile char depth[512];
    depth[0] = 0;
    UINT exitCode = Machine::RunLauncher("launcher.exe 2");
    depth[sizeof depth - 1] = depth[0];
    return exitCode;
}

// The cookie changes with each thing it is made from, each changed on its own, and is never
// 0 nor the value that every copy of cl's runtime starts from. A mismatch ends the process at
// once with 0xC0000409, as Windows ends it: through TerminateProcess, which tells no DLL,
// never through ExitProcess, which would run every DLL's detach in the overrun process.
TEST_F(Flow, TheStackCookieChangesWithItsSourcesAndAMismatchEndsTheProcessAtOnce)
{
    const struct {
        const char* source;
        void (*change)();
        bool deeper;  // run from deeper in the stack
    } cases[] = {
        {"nothing", [] {}, false},
        {"the stack's address", [] {}, true},
        {"the image's address", [] { gSim.imageBase += 0x10000; }, false},
        {"the process id", [] { ++gSim.processId; }, false},
        {"the thread id", [] { ++gSim.threadId; }, false},
        {"the tick count", [] { ++gSim.tickCount; }, false},
        {"the counter's low half", [] { ++gSim.performanceCounter; }, false},
        {"the counter's high half", [] { gSim.performanceCounter += 1LL << 32; }, false},
    };
    UINT_PTR first = 0;
    for (const auto& c : cases) {
        SetUp();
        c.change();
        gStackCookie = 0;
        EXPECT_EQ(c.deeper ? RunFromDeeperInTheStack() : RunLauncher("launcher.exe 2"), 1u)
            << c.source;
        EXPECT_NE(gStackCookie, 0u) << c.source;
        EXPECT_NE(gStackCookie, 0xBB40E64Eu) << c.source;
        if (first == 0)
            first = gStackCookie;
        else
            EXPECT_NE(gStackCookie, first) << c.source << " changed, the cookie did not";
    }
    SetUp();
    RunLauncher("launcher.exe 2");
    EXPECT_EQ(gStackCookie, first) << "the same sources, the same place on the stack";

    SetUp();
    bool ended = false;
    try {
        StackCookieMismatch();
    } catch (const SimProcessEnded&) {
        ended = true;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(gSim.exitCode, 0xC0000409u);
    EXPECT_EQ(SimCount("TerminateProcess itself 3221226505"), 1u);
    EXPECT_EQ(SimCount("ExitProcess"), 0u);
}

TEST_F(Flow, OnlyANewerDirectXTakesTheDriverBranch)
{
    const struct {
        std::string version;
        bool driverBranch;
    } cases[] = {
        {"4.08.00.0400", false}, {"4.07.00.0700", false}, {"4.08.00.0401", true},
        {"4.08.01.0810", true},  {"4.09.00.0904", true},
        {"0.00.00.000/", true},  // negative sum, seen without sign
        {"", true},              // zero-filled positions wrap below zero too
    };
    for (const auto& c : cases) {
        SetUp();
        GiveDirectX(c.version);
        GiveInstallPath("C:\\Games\\Device\\");
        EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
        ASSERT_EQ(gSim.processes.size(), 1u) << c.version;
        EXPECT_EQ(gSim.processes[0].application,
                  c.driverBranch ? "C:\\Games\\Device\\PX_Drivers\\QuaverlineDrivers40.exe"
                                 : "C:\\Games\\Device\\DirectX\\9.0\\dxsetup.exe")
            << c.version;
        EXPECT_EQ(RunOnceData() != "(none)", !c.driverBranch) << c.version;
    }
}

TEST_F(Flow, NoDirectXKeyMeansTheDirectXBranch)
{
    GiveInstallPath("C:\\Games\\Device\\");
    EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
    EXPECT_EQ(RunOnceData(), "C:\\Games\\Device\\PX_Drivers\\QuaverlineDrivers40.exe");
}

TEST_F(Flow, TheRunOnceRecordIsACommandLineThatRunsTheDriverInstaller)
{
    const std::string tail = "PX_Drivers\\QuaverlineDrivers40.exe";
    const std::string longFolder = "C:\\" + std::string(259 - 3 - 1 - tail.size(), 'a') + "\\";
    const struct {
        std::string installPath;
        std::string record;
    } cases[] = {
        {"C:\\Games\\Device\\", "C:\\Games\\Device\\" + tail},
        {"C:\\Program Files\\Device\\", "\"C:\\Program Files\\Device\\" + tail + "\""},
        {longFolder, longFolder + tail},                       // 259 characters: fits
        {longFolder.substr(0, 3) + "a" + longFolder.substr(3), "(none)"},  // 260: skipped
        {"C:\\" + std::string(254 - tail.size(), ' ') + "\\", "(none)"},  // quotes do not fit
        {"", "(none)"},  // no install path: a relative path would never run as meant
    };
    for (const auto& c : cases) {
        SetUp();
        GiveDirectX("4.08.00.0400");
        if (!c.installPath.empty())
            GiveInstallPath(c.installPath);
        EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
        EXPECT_EQ(RunOnceData(), c.record) << c.installPath.size() << " " << c.installPath;
        const SimRegCall* set = nullptr;
        for (const auto& call : gSim.regCalls) {
            if (call.op == "set")
                set = &call;
            if (call.op == "open" && call.key == kRunOnceKey)
                EXPECT_EQ(call.access, KEY_ALL_ACCESS);
        }
        if (set) {
            EXPECT_EQ(set->type, REG_SZ);
            EXPECT_EQ(set->size, c.record.size()) << "the byte count leaves out the NUL";
        }
        EXPECT_EQ(gSim.openKeys, 0);
    }
}

// The run reads the record once and uses that copy for the RunOnce record and the launch. A
// first run takes it only when it names the folder that the worker made current; otherwise
// it registers and starts nothing.
TEST_F(Flow, AFirstRunStartsOnlyFromTheFolderItRecorded)
{
    const struct {
        const char* what;
        std::u16string startFolder;
        bool worker;
        const char* rewrittenTo;  // by another process once the worker is done; nullptr: not
        bool starts;
    } cases[] = {
        {"a folder it records", u"C:\\bf\\A", true, nullptr, true},
        {"a folder it cannot record, an older record", u"C:\\bf\\\u4E2D", true, nullptr, false},
        {"a look-alike of the older record", u"C:\\bf\\\u0141ukasz", true, nullptr, false},
        {"a record rewritten after the worker", u"C:\\bf\\A", true, "C:\\bf\\B\\", false},
        {"no worker, an older record of another folder", u"C:\\bf\\C", false, nullptr, false},
        {"no worker, an older record of this folder", u"C:\\bf\\Lukasz", false, nullptr, true},
    };
    for (const auto& c : cases) {
        for (const char* version : {"4.09.00.0904", "4.08.00.0400"}) {
            SetUp();
            GiveDirectX(version);
            GiveInstallPath("C:\\bf\\Lukasz\\");
            gSim.wideDirectory = c.startFolder;
            gSim.threadsCanStart = c.worker;
            if (c.rewrittenTo)
                gSim.afterWorker = [&] { GiveInstallPath(c.rewrittenTo); };
            EXPECT_EQ(RunLauncher("launcher.exe"), 1u);
            const std::string name = std::string(c.what) + ", DirectX " + version;
            EXPECT_EQ(gSim.processes.size(), c.starts ? 1u : 0u) << name;
            EXPECT_EQ(RunOnceData() != "(none)", c.starts && version[3] == '8') << name;
            EXPECT_EQ(SimCount("RegQueryValueExA QB62_INSTALL_PATH"), 1u) << name;
            for (const auto& child : gSim.processes)
                EXPECT_TRUE(child.application.rfind("C:\\bf\\A\\", 0) == 0 ||
                            child.application.rfind("C:\\bf\\Lukasz\\", 0) == 0)
                    << name << ": " << child.application;
        }
    }
}

TEST_F(Flow, ARunOnceKeyThatDoesNotOpenIsPassedOver)
{
    GiveDirectX("4.08.00.0400");
    GiveInstallPath("C:\\Games\\Device\\");
    SimAddKey(HKEY_LOCAL_MACHINE, kRunOnceKey, /*readOnly=*/true);
    EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
    EXPECT_EQ(RunOnceData(), "(none)");
    ASSERT_EQ(gSim.processes.size(), 1u);
    EXPECT_EQ(gSim.processes[0].application, "C:\\Games\\Device\\DirectX\\9.0\\dxsetup.exe");

    SetUp();
    gSim.keys.clear();  // no RunOnce key at all: it is not created either
    GiveDirectX("4.08.00.0400");
    GiveInstallPath("C:\\Games\\Device\\");
    EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
    EXPECT_FALSE(SimKeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey));
    EXPECT_EQ(gSim.processes.size(), 1u);
}

TEST_F(Flow, TheRecordIsWrittenBeforeTheDirectXSetupStarts)
{
    GiveDirectX("4.08.00.0400");
    GiveInstallPath("C:\\Games\\Device\\");
    EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
    EXPECT_LT(SimLogIndex("RegSetValueExA OV_INSTALLER"), SimLogIndex("CreateProcessA"));
}

TEST_F(Flow, EachBranchPollsForItsWindowBeforeItsLaunch)
{
    struct Case {
        bool directXBranch;
        std::string window;  // "": no top-level window at all
        unsigned searches, pauses;
    };
    std::vector<Case> cases = {
        // The driver branch's fragment is empty: any titled window ends its poll at once.
        {false, "Program Manager", 1, 0},
        {false, "", 100, 100},
        // The DirectX branch looks for its setup's window, and for nothing else.
        {true, "Setup - Microsoft(R) DirectX(R) 9.0c", 1, 0},
        {true, "Setup Microsoft(R) DirectX(R) 9.0c", 1, 0},
        {true, "Microsoft(R) DirectX 9.0c Runtime", 100, 100},  // not the whole fragment
        {true, "Program Manager", 100, 100},
    };
    // Nothing shorter than the whole fragment will do: a title of the fragment with any one
    // character left out, which holds every shorter piece of it, is no setup's window.
    const std::string fragment = "Microsoft(R) DirectX(R)";
    for (size_t i = 0; i < fragment.size(); ++i)
        cases.push_back({true, "Setup " + fragment.substr(0, i) + fragment.substr(i + 1), 100, 100});
    for (const auto& c : cases) {
        SetUp();
        gSim.major = 5;  // Windows 2000: no shell wait, so every search is the branch's poll
        gSim.minor = 0;
        GiveDirectX(c.directXBranch ? "4.08.00.0400" : "4.09.00.0904");
        GiveInstallPath("C:\\Games\\Device\\");
        if (!c.window.empty())
            SimAddWindow(c.window);
        EXPECT_EQ(RunLauncher("launcher.exe 2"), 1u);
        std::string name = std::string(c.directXBranch ? "DirectX" : "driver") + " branch, " +
                           (c.window.empty() ? "no window" : c.window);
        EXPECT_EQ(gSim.searches, c.searches) << name;
        EXPECT_EQ(SimCount(c.directXBranch ? "Sleep 1" : "Sleep 2"), c.pauses) << name;
        EXPECT_EQ(SimCount(c.directXBranch ? "Sleep 2" : "Sleep 1"), 0u) << name;
        EXPECT_LT(SimLogIndex("EnumWindows"), SimLogIndex("CreateProcessA")) << name;
        if (c.directXBranch)  // the record is written before the poll begins
            EXPECT_LT(SimLogIndex("RegSetValueExA OV_INSTALLER"), SimLogIndex("EnumWindows"));
    }
}
