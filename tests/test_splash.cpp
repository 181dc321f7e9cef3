#include <gtest/gtest.h>

#include "res/resource.h"
#include "splash/splash.h"
#include "tests/scenario.h"

using Splash = Machine;

TEST_F(Splash, TheWorkerRecordsTheWorkingDirectoryWithItsBackslash)
{
    const struct {
        std::string workingDirectory;
        std::string record;  // empty: none written, the earlier record stays
        bool doubleByte = false;  // code page 932
    } cases[] = {
        {"C:\\Games\\Device", "C:\\Games\\Device\\"},
        {"C:\\", "C:\\"},
        {"\\\\server\\share\\Device", "\\\\server\\share\\Device\\"},
        {"C:\\" + std::string(255, 'a'), "C:\\" + std::string(255, 'a') + "\\"},  // 258: fits
        {"C:\\" + std::string(256, 'a'), ""},  // 259: no room for the backslash
        {"G:\\Games\\Dev\x95\\", "G:\\Games\\Dev\x95\\\\", true},  // ends in "表"
        {"G:\\\x95\\\\Dev", "G:\\\x95\\\\Dev\\", true},
        {"G:\\Games\\Dev\x95\\", "G:\\Games\\Dev\x95\\"},  // code page 1252: a backslash
        {"C:\\Games\\???", ""},  // a name the code page cannot show
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.currentDirectory = c.workingDirectory;
        if (c.doubleByte)
            UseCodePage932();
        GiveInstallPath("C:\\Earlier\\");
        RunSplash(GetModuleHandleA(NULL));
        const SimValue* record = SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        const std::string name = c.workingDirectory + " (" + std::to_string(c.workingDirectory.size()) + ")";
        EXPECT_EQ(record->bytes, c.record.empty() ? "C:\\Earlier\\" : c.record) << name;
        EXPECT_EQ(SimCount("SetCurrentDirectoryA"), c.record.empty() ? 0u : 1u) << name;
        if (!c.record.empty()) {
            // Write, change of directory and close, in that order: the main thread goes on
            // as soon as the close arrives.
            size_t write = SimLogIndex("RegSetValueExA"), change = SimLogIndex("SetCurrentDirectoryA");
            EXPECT_EQ(gSim.log[change], "SetCurrentDirectoryA " + record->bytes) << name;
            EXPECT_LT(write, change) << name;
            EXPECT_LT(change, SimLogIndex("PostMessageA " + std::to_string(WM_CLOSE))) << name;
        }
        EXPECT_TRUE(gSim.dialogEnded) << "the worker always closes the splash";
        EXPECT_EQ(gSim.dialogResult, 1);
        EXPECT_EQ(SimCount("DialogBoxParamA " + std::to_string(IDD_SPLASH)), 1u);
    }
}

// On NT the worker reads the Unicode name and takes only an exact conversion: best fit would
// turn a letter the code page lacks into a look-alike that names another folder.
TEST_F(Splash, TheWorkerRecordsANameOnlyAsTheCodePageShowsItExactly)
{
    const struct {
        std::u16string folder;
        std::string record;  // empty: none written, the earlier record stays
        DWORD platformId = VER_PLATFORM_WIN32_NT;
        bool refusesNoBestFit = false;  // NT 4
    } cases[] = {
        {u"C:\\bf\\\u0141ukasz", ""},  // "Łukasz" would read as "Lukasz"
        {u"C:\\bf\\\uFF0E\uFF0E", ""},  // fullwidth full stops would read as ".."
        {u"C:\\bf\\a\uFF3Cb", ""},  // a fullwidth reverse solidus would read as "\\"
        {u"C:\\bf\\\u4E2D", ""},  // "中": the default character
        {u"C:\\bf\\caf\u00E9", "C:\\bf\\caf\xE9\\"},  // "café": in code page 1252
        {u"C:\\bf\\\u0141ukasz", "", VER_PLATFORM_WIN32_NT, true},  // converted back, it differs
        {u"C:\\bf\\caf\u00E9", "C:\\bf\\caf\xE9\\", VER_PLATFORM_WIN32_NT, true},
        {u"", "C:\\Start\\", VER_PLATFORM_WIN32_WINDOWS},  // Windows 95 to Me: the ANSI name
    };
    for (const auto& c : cases) {
        SetUp();
        gSim.wideDirectory = c.folder;
        gSim.platformId = c.platformId;
        gSim.refusesNoBestFit = c.refusesNoBestFit;
        GiveInstallPath("C:\\Earlier\\");
        RunSplash(GetModuleHandleA(NULL));
        const SimValue* record = SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        const std::string name = std::to_string(&c - cases);
        EXPECT_EQ(record->bytes, c.record.empty() ? "C:\\Earlier\\" : c.record) << name;
        EXPECT_EQ(SimCount("SetCurrentDirectoryA"), c.record.empty() ? 0u : 1u) << name;
        EXPECT_EQ(SimCount("GetCurrentDirectoryA"), c.platformId == VER_PLATFORM_WIN32_NT ? 0u : 1u)
            << name;
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
    } cases[] = {{WM_INITDIALOG, TRUE}, {WM_COMMAND, TRUE}, {WM_ACTIVATE, TRUE}, {WM_CLOSE, TRUE}, {0x000F, FALSE},
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
