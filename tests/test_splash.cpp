#include <gtest/gtest.h>

#include "res/resource.h"
#include "splash/splash.h"
#include "tests/scenario.h"

using Splash = Machine;

TEST_F(Splash, TheWorkerRecordsTheWorkingDirectoryWithItsBackslash)
{
    const struct {
        std::string workingDirectory;
        const char* record;  // nullptr: no record
    } cases[] = {
        {"C:\\Games\\Device", "C:\\Games\\Device\\"},
        {"C:\\", "C:\\"},
        {"\\\\server\\share\\Device", "\\\\server\\share\\Device\\"},
        {"C:\\" + std::string(255, 'a'), nullptr},  // 258 characters: the backslash fits
        {"C:\\" + std::string(256, 'a'), nullptr},  // 259: no room for the backslash
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.currentDirectory = c.workingDirectory;
        RunSplash(GetModuleHandleA(NULL));
        const SimValue* record = SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        std::string expected = c.record ? c.record : "";
        if (!c.record && c.workingDirectory.size() < 259)
            expected = c.workingDirectory + "\\";
        ASSERT_EQ(record != nullptr, !expected.empty()) << c.workingDirectory.size();
        if (record)
            EXPECT_EQ(record->bytes, expected);
        EXPECT_EQ(SimCount("SetCurrentDirectoryA"), expected.empty() ? 0u : 1u);
        EXPECT_TRUE(gSim.dialogEnded) << "the worker always closes the splash";
        EXPECT_EQ(gSim.dialogResult, 1);
        EXPECT_EQ(SimCount("DialogBoxParamA " + std::to_string(IDD_SPLASH)), 1u);
    }
}

TEST_F(Splash, OnlyWmCloseEndsIt)
{
    const unsigned IDOK = 1, IDCANCEL = 2;
    gSim.messagesBeforeWorker = {{WM_COMMAND, IDOK}, {WM_COMMAND, IDCANCEL}, {WM_ACTIVATE, 0},
                                 {WM_COMMAND, IDC_SPLASH_IMAGE}};
    RunSplash(GetModuleHandleA(NULL));
    EXPECT_TRUE(gSim.workerRan) << "Enter, Esc or a click must not end the splash";
    EXPECT_TRUE(gSim.dialogEnded);

    SetUp();
    gSim.messagesBeforeWorker = {{WM_CLOSE, 0}};
    RunSplash(GetModuleHandleA(NULL));
    EXPECT_FALSE(gSim.workerRan) << "a WM_CLOSE from elsewhere ends it at once";
    EXPECT_EQ(gSim.dialogResult, 1);
    EXPECT_LT(SimLogIndex("Sleep 1"), SimLogIndex("EndDialog 1"));
}

TEST_F(Splash, DialogProcedureResults)
{
    HWND dialog = reinterpret_cast<HWND>(uintptr_t{0xD1A});
    const struct {
        UINT message;
        INT_PTR result;
    } cases[] = {{WM_COMMAND, TRUE}, {WM_ACTIVATE, TRUE}, {WM_CLOSE, TRUE}, {0x000F, FALSE},
                 {0x0200, FALSE}};
    for (const auto& c : cases)
        EXPECT_EQ(SplashDlgProc(dialog, c.message, 0, 0), c.result) << c.message;
}

TEST_F(Splash, WithoutAThreadItEndsAtOnceAndRecordsNothing)
{
    gSim.threadsCanStart = false;
    GiveDirectX("4.09.00.0904");
    EXPECT_EQ(RunLauncher("launcher.exe"), 1u);
    EXPECT_TRUE(gSim.quitPosted);
    EXPECT_FALSE(gSim.workerRan);
    EXPECT_EQ(SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue), nullptr);
    EXPECT_EQ(SimCount("DialogBoxParamA hung"), 0u);
}

TEST_F(Splash, AFirstRunRecordsItsFolderThenLaunchesFromIt)
{
    gSim.currentDirectory = "C:\\Games\\Device";
    GiveDirectX("4.09.00.0904");
    EXPECT_EQ(RunLauncher("\"C:\\Games\\Device\\launcher.exe\""), 1u);
    ASSERT_EQ(gSim.processes.size(), 1u);
    EXPECT_EQ(gSim.processes[0].application,
              "C:\\Games\\Device\\PX_Drivers\\QuaverlineDrivers40.exe");
}
