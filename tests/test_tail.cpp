#include <gtest/gtest.h>

#include "tests/scenario.h"

using Tail = Machine;

// The command line's tail after the program's name and the blanks after it: none is a first
// run, with the splash; exactly "1" pauses 1 ms before the probe; anything else neither. A
// quoted name is walked a character at a time in the ANSI code page.
TEST_F(Tail, TheTailChoosesTheSplashThePauseOrNeither)
{
    const struct {
        const char* name;
        const char* commandLine;
        bool splash, pause;
        bool codePage932 = false;
    } rows[] = {
        {"a bare name", "launcher.exe", true, false},
        {"a quoted name and blanks", "\"C:\\Games\\launcher.exe\"  ", true, false},
        {"an empty command line", "", true, false},
        {"an unclosed quote", "\"C:\\unclosed quote 1", true, false},
        {"1", "launcher.exe 1", false, true},
        {"1 behind a tab and a blank", "launcher.exe\t 1", false, true},
        {"1 right after the quote", "\"C:\\Games\\launcher.exe\"1", false, true},
        {"1 and a blank", "launcher.exe 1 ", false, false},
        {"2", "launcher.exe 2", false, false},
        {"11", "launcher.exe 11", false, false},
        {"other words", "\"C:\\Program Files\\launcher.exe\" -x y", false, false},
        {"control bytes are blanks", "a\x01\x1f" "1", false, true},
        {"bytes above 0x7F are part of the name", "\xe9t\xe9.exe 1", false, true},
        {"a quote after a lead byte is its second byte", "\"C:\\\x81\"\\x.exe\" 1", false, true,
         true},
        {"the last lead byte of the first range", "\"C:\\\x9f\"\\x.exe\" 1", false, true, true},
        {"the first lead byte of the second range", "\"C:\\\xe0\"\\x.exe\" 1", false, true, true},
        {"the last lead byte of the second range", "\"C:\\\xfc\"\\x.exe\" 1", false, true, true},
        {"0xA0 is no lead byte", "\"C:\\\xa0\"\\x.exe\" 1", false, false, true},
        {"code page 1252 has no lead bytes", "\"C:\\\x81\"\\x.exe\" 1", false, false},
        {"a lead byte before the end", "\"C:\\\xe0", true, false, true},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.codePage932)
            SimUseCodePage932();
        GiveDirectX("4.09.00.0904");
        GiveInstallPath("C:\\Start\\");
        SimAddWindow("Program Manager");
        EXPECT_EQ(RunLauncher(row.commandLine), 1u) << row.name;
        EXPECT_EQ(gSim.dialogShown, row.splash) << row.name;
        // The splash's close takes 1 ms too; then the shell wait's 10 ms and 100 ms after the
        // start.
        std::vector<DWORD> pauses = {10, 100};
        if (row.splash || row.pause)
            pauses.insert(pauses.begin(), 1);
        EXPECT_EQ(Pauses(), pauses) << row.name;
        EXPECT_EQ(Started(), std::vector<std::string>{std::string("C:\\Start\\") + kDriverChild})
            << row.name;
    }
}
