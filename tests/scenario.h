// A fresh simulated machine for each row, the few facts a row states about it, and what a
// run did.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "app/start.h"
#include "tests/contract.h"
#include "tests/win32/machine.h"

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
        SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, REG_SZ, version);
    }

    static void GiveInstallPath(const std::string& path, DWORD type = REG_SZ)
    {
        SimSetValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue, type, path);
    }

    static UINT RunLauncher(const std::string& commandLine)
    {
        return SimRunProgram(StartLauncher, commandLine);
    }

    static std::string RunOnceData()
    {
        if (!SimKeyExists(HKEY_LOCAL_MACHINE, kRunOnceKey))
            return "(no key)";
        const SimValue* value = SimFindValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        return value ? value->bytes : "(none)";
    }

    static std::string InstallRecord()
    {
        const SimValue* value = SimFindValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        return value ? value->bytes : "(none)";
    }

    // The programs the run started, by CreateProcessA or through the shell.
    static std::vector<std::string> Started()
    {
        std::vector<std::string> started;
        for (const auto& process : gSim.processes) {
            if (process.started)
                started.push_back(process.application);
        }
        for (const auto& start : gSim.shellStarts)
            started.push_back(start.file);
        return started;
    }
};
