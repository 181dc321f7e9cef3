#include <gtest/gtest.h>

#include <string.h>

#include "app/directx_probe.h"
#include "app/install_path.h"
#include "tests/scenario.h"

using Probe = Machine;

// The installed version as one number: nine fixed positions of the text weighed as digits,
// whatever they hold; 0 where nothing can be read.
TEST_F(Probe, TheVersionIsNineFixedPositionsOrZero)
{
    const struct {
        const char* name;
        std::string stored;  // "(no key)", "(no value)", or the value's bytes
        DWORD number;
        bool readOnly = false;  // the key a standard user may only read
    } rows[] = {
        {"4.07.00.0700", "4.07.00.0700", 407000700u},
        {"4.08.00.0400", "4.08.00.0400", 408000400u},
        {"4.08.01.0881", "4.08.01.0881", 408010881u},
        {"4.09.00.0904", "4.09.00.0904", 409000904u},
        {"a key a standard user may only read", "4.09.00.0904", 409000904u, true},
        {"dashes for dots: never looked at", "4-09-00-0904", 409000904u},
        {"a letter counts its code less '0'", "4.0A.00.0000", 417000000u},
        {"'/' is -1: the sum wraps below zero", "0.00.00.000/", 0xFFFFFFFFu},
        {"a byte above 0x7F is negative", "\xff.00.00.0000", 3689934592u},
        {"a short text: the positions behind it count 0 less '0'", "4.09", 403666672u},
        {"an empty text", "", 3256601264u},
        {"no key", "(no key)", 0u},
        {"no value", "(no value)", 0u},
        {"256 bytes: it fits", "4.09.00.0904" + std::string(244, ' '), 409000904u},
        {"257 bytes: longer than the buffer", "4.09.00.0904" + std::string(245, ' '), 0u},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.stored == "(no value)")
            SimAddKey(HKEY_LOCAL_MACHINE, kDirectXKey);
        else if (row.stored != "(no key)")
            GiveDirectX(row.stored);
        if (row.readOnly)
            SimAddKey(HKEY_LOCAL_MACHINE, kDirectXKey, true);
        EXPECT_EQ(ProbeDirectXVersion(), row.number) << row.name;
        EXPECT_EQ(gSim.openKeys, 0) << row.name;
    }
}

using Record = Machine;

// The install record is taken only where it is a usable, full folder path; anything else
// reads as no record.
TEST_F(Record, OnlyAUsableFullFolderPathIsRead)
{
    const struct {
        std::string stored;  // "(no key)", "(no value)", or the value's bytes
        std::string read;    // "=": as stored
        bool codePage932 = false;
        DWORD type = REG_SZ;
    } rows[] = {
        {"C:\\Games\\Device\\", "="},
        {"(no key)", ""},
        {"(no value)", ""},
        {std::string("D:\\\0", 4), "D:\\"},  // a stored NUL is dropped
        {"\\\\server\\share\\Device\\", "="},
        {"C:\\Games\\Device\\", "=", false, REG_BINARY},  // the type is not checked
        {"C:\\" + std::string(256, 'a') + "\\", ""},        // 260 bytes, no room for NUL
        {"C:\\" + std::string(255, 'a') + "\\", "="},   // 259: fits exactly
        {"C:\\" + std::string(255, 'a') + std::string("\\\0", 2),  // 259 and its NUL
         "C:\\" + std::string(255, 'a') + "\\"},
        {"C:\\" + std::string(297, 'a'), ""},               // larger than the buffer
        {"C:\\Games\\Device", ""},                          // no trailing backslash
        {"Games\\Device\\", ""},                            // relative
        {"C\\Games\\Device\\", ""},
        {"C:Games\\Device\\", ""},                          // relative to C:'s own folder
        {"", ""},
        {"G:\\Games\\Dev\x95\\", "", true},  // ends in "表", not in a backslash
        {"G:\\Games\\Dev\x9f\\", "", true},  // lead bytes at the ends of both ranges
        {"G:\\Games\\Dev\xfc\\", "", true},
        {"G:\\Games\\Dev\x95\\\\", "=", true},
        {"G:\\\x95\\\\Dev\\", "=", true},
        {"G:\\a\x95\\\\\x95\\", "", true},
        {"G:\\Games\xa0\\", "=", true},  // 0xA0 is no lead byte
        {"G:\\Games\\Dev\x95\\", "="},   // code page 1252: a backslash
        {"C:\\Games\\??\\", ""},  // written from a name the code page cannot show
        {"\\\\?\\G:\\Games\\Device\\", "="},  // a path taken as it stands
        {"\\\\?\\UNC\\server\\share\\Device\\", "="},
        {"\\\\?\\G:\\Games\\??\\", ""},
        {"\\\\?\\Games\\Device\\", ""},  // relative behind the prefix
        {"C:\\bf\\..\\", ""},  // a step up, as a fullwidth ".." reads in code page 1252
        {"C:\\bf\\.\\Device\\", ""},
        {"\\\\?\\C:\\..\\Device\\", ""},
        {"C:\\bf\\.hidden\\..x\\", "="},  // names that begin with dots
        {"C:\\a/..\\evil\\", ""},  // "/" is a separator to Win32 too
        {"C:\\a\\./..\\evil\\", ""},
        {"C:\\a/b\\", ""},  // never in a name Windows gives a folder
        {"C:\\Games\\Device\\...\\evil\\", ""},  // Windows 95 to Me: two folders up
        {"C:\\...\\", ""},
        {"C:\\Games\\....\\", ""},  // three folders up
        {"\\\\server\\share\\...\\evil\\", ""},
        {"\\\\?\\C:\\a\\...\\", ""},
        {"C:\\a...b\\...x\\x...\\", "="},  // dots among other characters
        {"G:\\\x81/..\\evil\\", "", true},  // no code page's second byte is a "/"
        {"G:\\\x95\\.\\", "=", true},  // "表.", not a separator and "."
        {"G:\\\x95\\.\\", ""},             // code page 1252: "."
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.codePage932)
            SimUseCodePage932();
        if (row.stored == "(no value)")
            SimAddKey(HKEY_CURRENT_USER, kInstallKey);
        else if (row.stored != "(no key)")
            GiveInstallPath(row.stored, row.type);
        SimAddKey(HKEY_CURRENT_USER, kInstallKey, /*readOnly=*/true);  // a standard user reads it
        char buffer[kPathBufferSize];
        memset(buffer, 'x', sizeof buffer);
        ReadInstallPath(buffer, kPathBufferSize);
        const std::string name = row.stored + " (" + std::to_string(row.stored.size()) + " bytes)";
        EXPECT_STREQ(buffer, (row.read == "=" ? row.stored : row.read).c_str()) << name;
        EXPECT_EQ(gSim.openKeys, 0) << name;
    }
}
