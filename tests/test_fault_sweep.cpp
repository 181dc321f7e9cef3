#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/scenario.h"

// Makes every fallible platform call of a run fail in turn, in every scenario, on Windows XP
// and on Windows 95 and 98 (whose current-folder read is the ANSI call): the run must still
// end with exit code 1, close every key it opened, write or start nothing but the whole,
// absolute paths it would write or start on a good day, and read no module but from the
// system folders, though copies of them lie in the launcher's and the install folder. Each
// scenario's good day does the whole job, so that its faults are faults in a run that works;
// and every kind of fallible call that the runs make is failed, but the one named below.
using FaultSweep = Machine;

// The one fallible call that no run of the sweep can fail, and why: every other that the runs
// make is failed in turn.
static const std::map<std::string, std::string> kNotFailed = {
    {"GetWindowsDirectoryA",
     "reached only once GetSystemDirectoryA or the system folder's progman.exe has failed, and "
     "a run of the sweep fails one call"},
};

TEST_F(FaultSweep, EveryFailingCallLeavesASoundRun)
{
    const char* commandLines[] = {"launcher.exe", "launcher.exe 1", "launcher.exe -x"};
    const char* versions[] = {"4.08.00.0400", "4.09.00.0904"};
    const char* folders[] = {"C:\\Games\\Device", "C:\\Program Files\\Device"};
    const struct {
        const char* name;
        DWORD platformId, major, minor;
        DWORD refusal;  // 740: the child wants rights the launcher lacks
    } systems[] = {
        {"XP", VER_PLATFORM_WIN32_NT, 5, 1, 0},
        {"XP, refused", VER_PLATFORM_WIN32_NT, 5, 1, 740},
        {"98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0},
        {"95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0},
    };
    unsigned faults = 0;
    std::set<std::string> failedCalls, madeCalls;
    for (const char* commandLine : commandLines) {
        for (const char* version : versions) {
            for (const char* folder : folders) {
                for (const auto& system : systems) {
                    const std::string installPath = std::string(folder) + "\\";
                    const std::string driver = installPath + kDriverChild;
                    const std::string setup = installPath + kSetupChild;
                    const std::string quoted = "\"" + driver + "\"";
                    const bool directXBranch = version[3] == '8';
                    for (unsigned failAt = 0;; ++failAt) {
                        SetUp();
                        gSim.platformId = system.platformId;
                        gSim.major = system.major;
                        gSim.minor = system.minor;
                        gSim.currentDirectory = folder;
                        GiveDirectX(version);
                        GiveInstallPath(installPath);
                        SimAddWindow("Program Manager", 3);
                        for (const std::string& place : {gSim.programFolder, std::string(folder)}) {
                            for (const char* module : {"progman.exe", "shell32.dll"})
                                gSim.modules.push_back({place + "\\" + module, "Planted"});
                        }
                        gSim.createProcessError = system.refusal;
                        gSim.failAt = failAt;
                        std::string name = std::string(commandLine) + ", " + version + ", " +
                                           folder + ", Windows " + system.name + ", call " +
                                           std::to_string(failAt) + " fails";
                        EXPECT_EQ(RunLauncher(commandLine), 1u) << name;
                        EXPECT_EQ(gSim.openKeys, 0) << name;
                        EXPECT_EQ(SimLogIndex("DialogBoxParamA hung"), std::string::npos) << name;
                        const SimValue* runOnce =
                            SimFindValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
                        EXPECT_TRUE(!runOnce || runOnce->bytes == driver || runOnce->bytes == quoted)
                            << name << ": registered [" << runOnce->bytes << "]";
                        EXPECT_EQ(InstallRecord(), installPath) << name;
                        for (const auto& child : gSim.processes) {
                            EXPECT_TRUE(child.application == driver || child.application == setup)
                                << name << ": started [" << child.application << "]";
                            EXPECT_EQ(child.currentDirectory + child.application.substr(
                                          child.currentDirectory.size()),
                                      child.application)
                                << name << ": from [" << child.currentDirectory << "]";
                        }
                        std::vector<std::string> modules = gSim.modulesRead;
                        modules.insert(modules.end(), gSim.modulesRun.begin(), gSim.modulesRun.end());
                        for (const auto& module : modules) {
                            EXPECT_TRUE(module.rfind(gSim.windowsDirectory + "\\", 0) == 0)
                                << name << ": read the module [" << module << "]";
                        }
                        for (const auto& start : gSim.shellStarts) {
                            EXPECT_TRUE(start.file == driver || start.file == setup)
                                << name << ": started [" << start.file << "] through the shell";
                            EXPECT_EQ(start.file.compare(0, start.directory.size(), start.directory), 0)
                                << name << ": from [" << start.directory << "]";
                        }
                        madeCalls.insert(gSim.fallibleCallsMade.begin(), gSim.fallibleCallsMade.end());
                        if (failAt == 0) {
                            // The good day, first: the whole job, through the shell where
                            // Windows refuses the start.
                            const std::string& child = directXBranch ? setup : driver;
                            bool shell = system.refusal != 0;
                            EXPECT_EQ(gSim.processes.size(), 1u) << name;
                            for (const auto& process : gSim.processes)
                                EXPECT_TRUE(process.application == child && process.started != shell)
                                    << name << ": started [" << process.application << "]";
                            EXPECT_EQ(gSim.shellStarts.size(), shell ? 1u : 0u) << name;
                            EXPECT_EQ(runOnce != nullptr, directXBranch) << name;
                            continue;
                        }
                        if (gSim.fallibleCalls < failAt)
                            break;  // nothing failed: every call of this scenario has had its turn
                        ++faults;
                        for (const std::string& entry : gSim.log) {
                            if (entry.rfind("FAIL ", 0) == 0)
                                failedCalls.insert(entry.substr(5));
                        }
                    }
                }
            }
        }
    }
    std::printf("fault sweep: %u injected faults, into %zu kinds of call\n", faults,
                failedCalls.size());
    for (const auto& [call, why] : kNotFailed)
        madeCalls.erase(call);
    EXPECT_EQ(failedCalls, madeCalls) << "every fallible call the runs make is failed";
}
