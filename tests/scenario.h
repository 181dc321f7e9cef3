// A fresh simulated machine for each test, and the few facts a test states about it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "app/start.h"
#include "tests/sim_win32.h"

inline const char kDirectXKey[] = "Software\\Microsoft\\DirectX";
inline const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline const char kInstallKey[] = "SOFTWARE\\Orvalent";
inline const char kInstallValue[] = "QB62_INSTALL_PATH";
inline const char kRunOnceValue[] = "OV_INSTALLER";

class Machine : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimReset();
        FoundWindow = NULL;
        TitleFragment[0] = '\0';
        SimAddKey(HKEY_LOCAL_MACHINE, kRunOnceKey);
    }

public:
    // Japanese, whose lead bytes are 0x81-0x9F and 0xE0-0xFC.
    static void UseCodePage932()
    {
        gSim.codePage = 932;
        gSim.leadBytes = {0x81, 0x9F, 0xE0, 0xFC};
    }

    static void GiveDirectX(const std::string& version)
    {
        SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, "Version", REG_SZ, version);
    }

    static void GiveInstallPath(const std::string& path, DWORD type = REG_SZ)
    {
        SimSetValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue, type, path);
    }

    static UINT RunLauncher(const std::string& commandLine)
    {
        gSim.commandLine = commandLine;
        try {
            StartLauncher();
        } catch (const SimProcessEnded&) {
        }
        return gSim.exited ? gSim.exitCode : 0xDEADBEEF;
    }

    static std::string RunOnceData()
    {
        const SimValue* value = SimFindValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        return value ? value->bytes : "(none)";
    }
};
