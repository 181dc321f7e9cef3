#include <gtest/gtest.h>

#include <string.h>

#include "app/text.h"
#include "tests/scenario.h"

using Tail = Machine;

TEST_F(Tail, SkipsTheProgramNameAndTheBlanksAfterIt)
{
    const struct {
        const char* commandLine;
        const char* tail;
    } cases[] = {
        {"launcher.exe", ""},
        {"\"C:\\Games\\Device\\launcher.exe\"   ", ""},
        {"\"C:\\Games\\Device\\launcher.exe\"1", "1"},
        {"launcher.exe 1", "1"},
        {"launcher.exe\t 1 ", "1 "},
        {"launcher.exe 2", "2"},
        {"\"C:\\Program Files\\launcher.exe\" -x y", "-x y"},
        {"\"C:\\unclosed quote 1", ""},
        {"", ""},
        {"a\x01\x1f" "b", "b"},
        {"\xe9t\xe9.exe 1", "1"},  // bytes above 0x7F are part of the name, not blanks
    };
    for (const auto& c : cases)
        EXPECT_STREQ(TakeArgumentTail(c.commandLine), c.tail) << "command line: " << c.commandLine;
}

TEST_F(Tail, ALeadByteInsideQuotesTakesTheNextByteWithIt)
{
    // In code page 932 the second byte of 0x81 0x22 is a quote that must not end the name.
    gSim.codePage = 932;
    gSim.leadBytes = {0x81, 0x9F, 0xE0, 0xFC};
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\x81\"\\launcher.exe\" 1"), "1");
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\xe0"), "");  // a lead byte before the NUL stops
    gSim.leadBytes.clear();
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\x81\"\\launcher.exe\" 1"), "\\launcher.exe\" 1");
}

TEST(Text, CopyAndAppendNeverTruncate)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, "1234567"));
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_FALSE(AppendText(buffer, sizeof buffer, "8"));
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_FALSE(CopyText(buffer, sizeof buffer, "12345678"));
    EXPECT_STREQ(buffer, "1234567");
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, "ab"));
    EXPECT_TRUE(AppendText(buffer, sizeof buffer, "cdefg"));
    EXPECT_STREQ(buffer, "abcdefg");
}

TEST(Text, ContainsIsByteForByteAndCaseSensitive)
{
    EXPECT_TRUE(TextContains("Setup - Microsoft(R) DirectX(R) 9.0", "Microsoft(R) DirectX(R)"));
    EXPECT_FALSE(TextContains("microsoft(r) directx(r)", "Microsoft(R) DirectX(R)"));
    EXPECT_TRUE(TextContains("anything", ""));
    EXPECT_FALSE(TextContains("Micro", "Microsoft"));
    EXPECT_TRUE(TextContains("aab", "ab"));
}
