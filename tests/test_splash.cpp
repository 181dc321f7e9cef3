#include <gtest/gtest.h>

#include <utility>

#include "res/resource.h"
#include "splash/splash.h"
#include "tests/scenario.h"

using Splash = Machine;

// A first run's splash stays up while a worker records the current folder, with its
// backslash, as the install path and makes it current; then the worker closes it, and only
// that (or a WM_CLOSE from elsewhere) ends it, after a 1 ms pause. A folder the ANSI code page
// cannot name exactly, or that is no full folder path that fits, is neither recorded nor made
// current: the earlier record stays. On NT the Unicode name is read and converted without
// best fit, which would turn a letter the code page lacks into a look-alike.
TEST_F(Splash, TheWorkerRecordsItsFolderAndClosesTheSplash)
{
    const unsigned IDOK = 1, IDCANCEL = 2;
    const struct {
        const char* name;
        std::string folder;   // the ANSI name; for a Unicode one, "" and...
        std::u16string wide;  // ...this
        std::string record;   // "": none written, the earlier record stays
        bool codePage932 = false;
        DWORD platform = VER_PLATFORM_WIN32_NT;
        bool refusesNoBestFit = false;  // NT 4
        std::vector<std::pair<UINT, WPARAM>> messages = {};  // sent while the worker is busy
        bool threads = true;
    } rows[] = {
        {"a folder", "C:\\Games\\Device", u"", "C:\\Games\\Device\\"},
        {"a drive's root", "C:\\", u"", "C:\\"},
        {"a share", "\\\\server\\share\\Device", u"", "\\\\server\\share\\Device\\"},
        {"258 characters: fits", "C:\\" + std::string(255, 'a'), u"",
         "C:\\" + std::string(255, 'a') + "\\"},
        {"259 characters: no room for the backslash", "C:\\" + std::string(256, 'a'), u"", ""},
        {"a name ending in a trail byte 0x5C", "G:\\Games\\Dev\x95\\", u"",
         "G:\\Games\\Dev\x95\\\\", true},
        {"a trail byte 0x5C inside", "G:\\\x95\\\\Dev", u"", "G:\\\x95\\\\Dev\\", true},
        {"0x95 0x5C in code page 1252", "G:\\Games\\Dev\x95\\", u"", "G:\\Games\\Dev\x95\\"},
        {"\"?\" from a name the code page cannot show", "C:\\Games\\???", u"", ""},
        {"a name with a \"/\"", "C:\\a/..", u"", ""},
        {"\u0141ukasz would read as Lukasz", "", u"C:\\bf\\\u0141ukasz", ""},
        {"fullwidth full stops would read as \"..\"", "", u"C:\\bf\\\uFF0E\uFF0E", ""},
        {"a fullwidth reverse solidus would read as \"\\\"", "", u"C:\\bf\\a\uFF3Cb", ""},
        {"\u4E2D: the default character", "", u"C:\\bf\\\u4E2D", ""},
        {"caf\u00E9: in code page 1252", "", u"C:\\bf\\caf\u00E9", "C:\\bf\\caf\xE9\\"},
        {"NT 4: \u0141ukasz converted back differs", "", u"C:\\bf\\\u0141ukasz", "", false,
         VER_PLATFORM_WIN32_NT, true},
        {"NT 4: caf\u00E9", "", u"C:\\bf\\caf\u00E9", "C:\\bf\\caf\xE9\\", false,
         VER_PLATFORM_WIN32_NT, true},
        {"Windows 95 to Me: the ANSI name", "C:\\Start", u"", "C:\\Start\\", false,
         VER_PLATFORM_WIN32_WINDOWS},
        {"Enter, Esc, a click and activation do not end it", "C:\\Games\\Device", u"",
         "C:\\Games\\Device\\", false, VER_PLATFORM_WIN32_NT, false,
         {{WM_COMMAND, IDOK}, {WM_COMMAND, IDCANCEL}, {WM_ACTIVATE, 0},
          {WM_COMMAND, IDC_SPLASH_IMAGE}}},
        {"a WM_CLOSE from elsewhere ends it at once", "C:\\Games\\Device", u"", "", false,
         VER_PLATFORM_WIN32_NT, false, {{WM_CLOSE, 0}}},
        {"no thread: it ends at once", "C:\\Games\\Device", u"", "", false,
         VER_PLATFORM_WIN32_NT, false, {}, false},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.codePage932)
            SimUseCodePage932();
        if (!row.folder.empty())
            gSim.currentDirectory = row.folder;
        gSim.wideDirectory = row.wide;
        gSim.platformId = row.platform;
        gSim.refusesNoBestFit = row.refusesNoBestFit;
        gSim.messagesBeforeWorker = row.messages;
        gSim.threadsCanStart = row.threads;
        GiveInstallPath("C:\\Earlier\\");
        const std::string folderBefore = gSim.currentDirectory;
        RunSplash(GetModuleHandleA(NULL));
        EXPECT_EQ(InstallRecord(), row.record.empty() ? "C:\\Earlier\\" : row.record) << row.name;
        if (row.record.empty()) {
            EXPECT_EQ(gSim.currentDirectory, folderBefore) << row.name;
            EXPECT_EQ(gSim.wideDirectory, row.wide) << row.name;
        } else {
            std::string current = row.record;
            if (current.size() > 3)
                current.pop_back();
            EXPECT_EQ(gSim.currentDirectory, current) << row.name;
            // Recorded and made current before the worker closes the splash: the main thread
            // may go on the moment the close is posted.
            const size_t close = SimLogIndex("PostMessageA");
            EXPECT_LT(SimLogIndex("SetCurrentDirectoryA"), close) << row.name;
            EXPECT_LT(SimLogIndex("RegSetValueExA"), close) << row.name;
        }
        EXPECT_EQ(SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue)->type, REG_SZ);
        EXPECT_TRUE(gSim.dialogShown) << row.name;
        EXPECT_EQ(SimLogIndex("DialogBoxParamA hung"), std::string::npos) << row.name;
        EXPECT_EQ(Pauses(), row.threads ? std::vector<DWORD>{1} : std::vector<DWORD>{})
            << row.name;
    }
}
