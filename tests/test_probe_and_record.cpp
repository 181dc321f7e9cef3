#include <gtest/gtest.h>

#include <string.h>

#include "app/directx_probe.h"
#include "app/install_path.h"
#include "tests/scenario.h"

TEST(Decode, WeighsNineFixedPositionsWhateverTheyHold)
{
    const struct {
        const char* text;
        DWORD number;
    } cases[] = {
        {"4.07.00.0700", 407000700u},
        {"4.08.00.0400", 408000400u},
        {"4.08.01.0810", 408010810u},
        {"4.08.01.0881", 408010881u},
        {"4.09.00.0904", 409000904u},
        {"4-09-00-0904", 409000904u},             // the dots are never looked at
        {"4.0A.00.0000", 417000000u},             // 'A' counts 17
        {"0.00.00.000/", 0xFFFFFFFFu},            // '/' is -1: the sum wraps below zero
        {"\xff.00.00.0000", 0u - 49u * 100000000u},  // a signed byte, not 255
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeDirectXVersion(c.text), c.number) << c.text;
}

using Probe = Machine;

TEST_F(Probe, ReadsTheVersionForReadingOnly)
{
    GiveDirectX("4.09.00.0904");
    EXPECT_EQ(ProbeDirectXVersion(), 409000904u);
    ASSERT_EQ(gSim.regCalls.size(), 2u);
    EXPECT_EQ(gSim.regCalls[0].root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(gSim.regCalls[0].key, kDirectXKey);
    EXPECT_EQ(gSim.regCalls[0].access, KEY_QUERY_VALUE);
    EXPECT_EQ(gSim.regCalls[1].name, "Version");
    EXPECT_EQ(gSim.regCalls[1].size, 256u);
    EXPECT_EQ(gSim.openKeys, 0);
}

TEST_F(Probe, AnythingUnreadableIsZero)
{
    EXPECT_EQ(ProbeDirectXVersion(), 0u) << "no key";
    SimAddKey(HKEY_LOCAL_MACHINE, kDirectXKey);
    EXPECT_EQ(ProbeDirectXVersion(), 0u) << "no value";
    GiveDirectX(std::string(300, '9'));
    EXPECT_EQ(ProbeDirectXVersion(), 0u) << "longer than the buffer";
    EXPECT_EQ(gSim.openKeys, 0);
}

TEST_F(Probe, AStandardUserStillReadsIt)
{
    GiveDirectX("4.09.00.0904");
    SimAddKey(HKEY_LOCAL_MACHINE, kDirectXKey, /*readOnly=*/true);
    EXPECT_EQ(ProbeDirectXVersion(), 409000904u);
}

TEST_F(Probe, PositionsBehindAShortTextCountZeroMinusTheDigitZero)
{
    GiveDirectX("4.09");
    DWORD expected = 409000000u - 48u * (100000 + 10000 + 1000 + 100 + 10 + 1);
    EXPECT_EQ(ProbeDirectXVersion(), expected);
    GiveDirectX("");
    EXPECT_EQ(ProbeDirectXVersion(), 0u - 48u * 111111111u);
}

using Record = Machine;

TEST_F(Record, WritesTheTextWithoutItsNulAndReadsItBack)
{
    WriteInstallPath("C:\\Games\\Device\\");
    const SimRegCall& create = gSim.regCalls.at(0);
    EXPECT_EQ(create.op, "create");
    EXPECT_EQ(create.root, HKEY_CURRENT_USER);
    EXPECT_EQ(create.key, kInstallKey);
    EXPECT_EQ(create.access, KEY_ALL_ACCESS);
    const SimRegCall& set = gSim.regCalls.at(1);
    EXPECT_EQ(set.name, kInstallValue);
    EXPECT_EQ(set.type, REG_SZ);
    EXPECT_EQ(set.size, 16u);
    EXPECT_EQ(set.bytes, "C:\\Games\\Device\\");

    for (int read = 0; read < 2; ++read) {
        char buffer[kPathBufferSize];
        memset(buffer, 'x', sizeof buffer);
        ReadInstallPath(buffer, kPathBufferSize);
        EXPECT_STREQ(buffer, "C:\\Games\\Device\\");
    }
    EXPECT_EQ(gSim.regCalls.at(2).access, KEY_QUERY_VALUE);
    EXPECT_EQ(gSim.regCalls.at(3).size, kPathBufferSize);
    EXPECT_EQ(gSim.openKeys, 0);
}

TEST_F(Record, ReadsOnlyAUsableFullFolderPath)
{
    const struct {
        std::string stored;
        DWORD type;
        const char* read;  // nullptr: as stored
        bool doubleByte = false;  // code page 932
    } cases[] = {
        {"C:\\Games\\Device\\", REG_SZ, "C:\\Games\\Device\\"},
        {std::string("D:\\\0", 4), REG_SZ, "D:\\"},  // a stored NUL is dropped
        {"\\\\server\\share\\Device\\", REG_SZ, "\\\\server\\share\\Device\\"},
        {"C:\\Games\\Device\\", REG_BINARY, "C:\\Games\\Device\\"},  // the type is not checked
        {"C:\\" + std::string(256, 'a') + "\\", REG_SZ, ""},         // 260 bytes, no room for NUL
        {"C:\\" + std::string(255, 'a') + "\\", REG_SZ, nullptr},    // 259: fits exactly
        {"C:\\" + std::string(297, 'a'), REG_SZ, ""},                // larger than the buffer
        {"C:\\Games\\Device", REG_SZ, ""},                           // no trailing backslash
        {"Games\\Device\\", REG_SZ, ""},                             // relative
        {"", REG_SZ, ""},
        {"G:\\Games\\Dev\x95\\", REG_SZ, "", true},  // ends in "表", not in a backslash
        {"G:\\Games\\Dev\x95\\\\", REG_SZ, nullptr, true},
        {"G:\\\x95\\\\Dev\\", REG_SZ, nullptr, true},
        {"G:\\Games\\Dev\x95\\", REG_SZ, nullptr},  // code page 1252: a backslash
        {"C:\\Games\\??\\", REG_SZ, ""},  // written from a name the code page cannot show
        {"\\\\?\\G:\\Games\\Device\\", REG_SZ, nullptr},  // a path taken as it stands
        {"\\\\?\\UNC\\server\\share\\Device\\", REG_SZ, nullptr},
        {"\\\\?\\G:\\Games\\??\\", REG_SZ, ""},
        {"\\\\?\\Games\\Device\\", REG_SZ, ""},  // relative behind the prefix
        {"C:\\bf\\..\\", REG_SZ, ""},  // a step up, as a fullwidth ".." reads in code page 1252
        {"C:\\bf\\.\\Device\\", REG_SZ, ""},
        {"\\\\?\\C:\\..\\Device\\", REG_SZ, ""},
        {"C:\\bf\\.hidden\\..x\\", REG_SZ, nullptr},  // names that begin with dots
        {"C:\\a/..\\evil\\", REG_SZ, ""},  // "/" is a separator to Win32 too
        {"C:\\a\\./..\\evil\\", REG_SZ, ""},
        {"C:\\a/b\\", REG_SZ, ""},  // never in a name Windows gives a folder
        {"C:\\Games\\Device\\...\\evil\\", REG_SZ, ""},  // Windows 95 to Me: two folders up
        {"C:\\...\\", REG_SZ, ""},
        {"C:\\Games\\....\\", REG_SZ, ""},  // three folders up
        {"\\\\server\\share\\...\\evil\\", REG_SZ, ""},
        {"\\\\server\\share\\....\\", REG_SZ, ""},
        {"\\\\?\\C:\\a\\...\\", REG_SZ, ""},
        {"C:\\a...b\\...x\\x...\\", REG_SZ, nullptr},  // dots among other characters
        {"G:\\\x81/..\\evil\\", REG_SZ, "", true},  // no code page's second byte is a "/"
        {"G:\\\x95\\.\\", REG_SZ, nullptr, true},  // "表.", not a separator and "."
        {"G:\\\x95\\.\\", REG_SZ, ""},             // code page 1252: "."
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.doubleByte)
            UseCodePage932();
        GiveInstallPath(c.stored, c.type);
        char buffer[kPathBufferSize];
        memset(buffer, 'x', sizeof buffer);
        ReadInstallPath(buffer, kPathBufferSize);
        EXPECT_STREQ(buffer, c.read ? c.read : c.stored.c_str()) << c.stored.size() << " bytes";
    }
}

TEST_F(Record, AMissingKeyOrValueReadsEmpty)
{
    char buffer[kPathBufferSize] = "stale";
    ReadInstallPath(buffer, kPathBufferSize);
    EXPECT_STREQ(buffer, "");
    SimAddKey(HKEY_CURRENT_USER, kInstallKey);
    strcpy(buffer, "stale");
    ReadInstallPath(buffer, kPathBufferSize);
    EXPECT_STREQ(buffer, "");
}
