#include <gtest/gtest.h>

#include "platform/stack_cookie.h"
#include "tests/scenario.h"

using Start = Machine;

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

// The stack cookie is set before the run's first call to the system, and changes with each
// thing it is made from, each changed on its own; it is never 0 nor the value every copy of
// cl's runtime starts from.
TEST_F(Start, TheStackCookieChangesWithEachOfItsSources)
{
    const struct {
        const char* source;
        void (*change)();
        bool deeper;  // run from deeper in the stack
    } rows[] = {
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
    for (const auto& row : rows) {
        SetUp();
        row.change();
        STACK_COOKIE = 0;
        EXPECT_EQ(row.deeper ? RunFromDeeperInTheStack() : RunLauncher("launcher.exe 2"), 1u)
            << row.source;
        EXPECT_NE(STACK_COOKIE, 0u) << row.source;
        EXPECT_NE(STACK_COOKIE, 0xBB40E64Eu) << row.source;
        EXPECT_EQ(gSim.cookieAtFirstCall, STACK_COOKIE) << row.source << ": set once, first";
        if (first == 0)
            first = STACK_COOKIE;
        else
            EXPECT_NE(STACK_COOKIE, first) << row.source << " changed, the cookie did not";
    }
    SetUp();
    RunLauncher("launcher.exe 2");
    EXPECT_EQ(STACK_COOKIE, first) << "the same sources, the same place on the stack";
    // The image's address goes into the cookie whole: moved so that the sources would give
    // 0, or cl's start value, the cookie is still neither.
    for (UINT_PTR wouldBe : {UINT_PTR{0}, UINT_PTR{0xBB40E64E}}) {
        SetUp();
        gSim.imageBase ^= first ^ wouldBe;
        RunLauncher("launcher.exe 2");
        EXPECT_NE(STACK_COOKIE, wouldBe);
        EXPECT_NE(STACK_COOKIE, 0u);
    }
}

// A mismatch ends the process at once with 0xC0000409, as Windows ends it, and tells no DLL:
// every DLL's detach would otherwise run in the overrun process.
TEST_F(Start, AMismatchEndsTheProcessAtOnceTellingNoDll)
{
    bool ended = false;
    try {
        __stack_chk_fail();
    } catch (const SimProcessEnded&) {
        ended = true;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(gSim.exitCode, 0xC0000409u);
    EXPECT_FALSE(gSim.dllsToldOfEnd);
}

// Before the splash can load a module by name, the search for it is kept to the system folder
// where kernel32 offers that (Windows 8 on, 7 with its 2011 update): a copy planted beside the
// launcher or in the current directory never runs. Elsewhere the run is the same without it.
TEST_F(Start, NoModulePlantedInItsFoldersRuns)
{
    const std::string system = "C:\\WINDOWS\\system32\\uxtheme.dll";
    const struct {
        const char* name;
        bool offered;
        std::string planted;
        std::string run;
    } rows[] = {
        {"beside the launcher", true, "C:\\Start\\uxtheme.dll", system},
        {"in the current directory", true, "C:\\Games\\Device\\uxtheme.dll", system},
        {"where the search cannot be kept", false, "C:\\Start\\uxtheme.dll",
         "C:\\Start\\uxtheme.dll"},
    };
    for (const auto& row : rows) {
        SetUp();
        gSim.hasDefaultDllDirectories = row.offered;
        gSim.programFolder = "C:\\Start";
        gSim.currentDirectory = "C:\\Games\\Device";
        gSim.modules.push_back({row.planted, ""});
        GiveDirectX("4.09.00.0904");
        EXPECT_EQ(RunLauncher("launcher.exe"), 1u) << row.name;
        EXPECT_EQ(gSim.modulesRun, std::vector<std::string>{row.run}) << row.name;
        EXPECT_EQ(Started(), std::vector<std::string>{"C:\\Games\\Device\\" +
                                                       std::string(kDriverChild)})
            << row.name;
    }
}
