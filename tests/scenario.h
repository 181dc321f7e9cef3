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

    static std::string ValueData(HKEY root, const char* key, const char* name)
    {
        if (!SimKeyExists(root, key))
            return "(no key)";
        const SimValue* value = SimFindValue(root, key, name);
        return value ? value->bytes : "(none)";
    }

    static std::string RunOnceData() { return ValueData(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue); }
    static std::string InstallRecord() { return ValueData(HKEY_CURRENT_USER, kInstallKey, kInstallValue); }

    // The pauses the run took, from the record of its calls.
    static std::vector<DWORD> Pauses()
    {
        std::vector<DWORD> pauses;
        for (const std::string& entry : gSim.log) {
            if (entry.compare(0, 6, "Sleep ") == 0)
                pauses.push_back(static_cast<DWORD>(std::stoul(entry.substr(6))));
        }
        return pauses;
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
