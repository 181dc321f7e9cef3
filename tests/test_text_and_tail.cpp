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
    // No real trail byte of code page 932 is a quote (they run from 0x40), but the walk takes
    // whatever byte follows a lead byte, so a quote there does not end the name; the first
    // and last byte of each lead-byte range count.
    UseCodePage932();
    for (const char* lead : {"\x81", "\x9f", "\xe0", "\xfc"})
        EXPECT_STREQ(TakeArgumentTail(("\"C:\\" + std::string(lead) + "\"\\x.exe\" 1").c_str()), "1")
            << "lead byte " << (static_cast<unsigned>(lead[0]) & 0xFF);
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\xa0\"\\x.exe\" 1"), "\\x.exe\" 1");  // not a lead byte
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\xe0"), "");  // a lead byte before the NUL stops
    gSim.leadBytes.clear();
    EXPECT_STREQ(TakeArgumentTail("\"C:\\\x81\"\\launcher.exe\" 1"), "\\launcher.exe\" 1");
}

TEST_F(Tail, OnlyABackslashThatIsACharacterOfItsOwnEndsAText)
{
    const struct {
        const char* text;
        bool doubleByte;  // code page 932
        bool endsInBackslash;
    } cases[] = {
        {"G:\\Games\\", false, true},
        {"G:\\Games\\Dev\x95\\", false, true},  // 0x95 is a character of its own in 1252
        {"G:\\Games\\Dev\x95\\", true, false},  // "表": its second byte is 0x5C
        {"G:\\Games\\Dev\x9f\\", true, false},  // lead bytes at the ends of both ranges
        {"G:\\Games\\Dev\xfc\\", true, false},
        {"G:\\Games\\Dev\x95\\\\", true, true},
        {"G:\\\x95\\\x95\\\\", true, true},  // the walk starts at the text's first byte
        {"G:\\a\x95\\\\\x95\\", true, false},
        {"G:\\Games\xa0\\", true, true},  // 0xA0 is no lead byte
        {"", true, false},
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.doubleByte)
            UseCodePage932();
        EXPECT_EQ(EndsInBackslash(c.text), c.endsInBackslash) << c.text << " " << c.doubleByte;
    }
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
