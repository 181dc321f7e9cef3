#include <gtest/gtest.h>

#include <set>

#include "tests/scenario.h"

// Makes every fallible platform call of a run fail in turn, in every scenario: the run must
// still end with exit code 1, close every key it opened, write or start nothing but the
// whole, absolute paths it would write or start on a good day, and read no module but from
// the system folders, though copies of them lie in the launcher's and the install folder.
// The sweep itself must lose no call: each scenario fails at least every call that a run
// without faults makes, and between them the scenarios fail every kind of fallible call.
using FaultSweep = Machine;

// Every fallible call of the simulated Win32 that the sweep can fail. (GetWindowsDirectoryA
// is reached only once GetSystemDirectoryA or the system's progman.exe has failed, and a
// run of the sweep fails one call.)
static const std::set<std::string> kFallibleCallsReached = {
    "CreateProcessA", "CreateThread", "DialogBoxParamA", "EnumWindows", "GetCPInfo",
    "GetCurrentDirectoryW", "GetModuleHandleA", "GetProcAddress", "GetSystemDirectoryA",
    "GetVersionExA", "GetWindowTextA", "LoadLibraryA", "LoadLibraryExA",
    "LoadStringA", "MultiByteToWideChar", "RegCreateKeyExA", "RegOpenKeyExA",
    "RegQueryValueExA", "RegSetValueExA", "SetCurrentDirectoryA", "ShellExecuteExA",
    "WideCharToMultiByte",
};

TEST_F(FaultSweep, EveryFailingCallLeavesASoundRun)
{
    const char* commandLines[] = {"launcher.exe", "launcher.exe 1", "launcher.exe -x"};
    const char* versions[] = {"4.08.00.0400", "4.09.00.0904"};
    const char* folders[] = {"C:\\Games\\Device", "C:\\Program Files\\Device"};
    const DWORD refusals[] = {0, 740};  // 740: the child wants rights the launcher lacks
    unsigned faults = 0;
    std::set<std::string> failedCalls;
    for (const char* commandLine : commandLines) {
        for (const char* version : versions) {
            for (const char* folder : folders) {
                for (DWORD refusal : refusals) {
                    const std::string installPath = std::string(folder) + "\\";
                    const std::string driver = installPath + "PX_Drivers\\QuaverlineDrivers40.exe";
                    const std::string setup = installPath + "DirectX\\9.0\\dxsetup.exe";
                    const std::string quoted = "\"" + driver + "\"";
                    unsigned goodDayCalls = 0, scenarioFaults = 0;
                    for (unsigned failAt = 0;; ++failAt) {
                        SetUp();
                        gSim.currentDirectory = folder;
                        GiveDirectX(version);
                        GiveInstallPath(installPath);
                        SimAddWindow("Program Manager", 3);
                        for (const std::string& place : {gSim.programFolder, std::string(folder)}) {
                            for (const char* module : {"progman.exe", "shell32.dll"})
                                gSim.modules.push_back({place + "\\" + module, "Planted"});
                        }
                        gSim.createProcessError = refusal;
                        gSim.failAt = failAt;
                        std::string name = std::string(commandLine) + ", " + version + ", " +
                                           folder + ", refusal " + std::to_string(refusal) +
                                           ", call " + std::to_string(failAt) + " fails";
                        EXPECT_EQ(RunLauncher(commandLine), 1u) << name;
                        EXPECT_EQ(gSim.openKeys, 0) << name;
                        EXPECT_EQ(SimCount("DialogBoxParamA hung"), 0u) << name;
                        for (const auto& call : gSim.regCalls) {
                            if (call.op != "set")
                                continue;
                            bool sound = call.name == "OV_INSTALLER"
                                             ? call.bytes == driver || call.bytes == quoted
                                             : call.bytes == installPath;
                            EXPECT_TRUE(sound) << name << ": wrote [" << call.bytes << "]";
                        }
                        for (const auto& child : gSim.processes) {
                            EXPECT_TRUE(child.application == driver || child.application == setup)
                                << name << ": started [" << child.application << "]";
                            EXPECT_EQ(child.currentDirectory + child.application.substr(
                                          child.currentDirectory.size()),
                                      child.application)
                                << name << ": from [" << child.currentDirectory << "]";
                        }
                        for (const auto& module : gSim.modulesRead) {
                            EXPECT_TRUE(module.rfind(gSim.windowsDirectory + "\\", 0) == 0)
                                << name << ": read the module [" << module << "]";
                        }
                        for (const auto& start : gSim.shellStarts) {
                            EXPECT_TRUE(start.file == driver || start.file == setup)
                                << name << ": started [" << start.file << "] through the shell";
                            EXPECT_EQ(start.file.compare(0, start.directory.size(), start.directory), 0)
                                << name << ": from [" << start.directory << "]";
                        }
                        if (failAt == 0) {  // the good day, first
                            goodDayCalls = gSim.fallibleCalls;
                            continue;
                        }
                        if (gSim.fallibleCalls < failAt)
                            break;  // nothing failed: every call of this scenario has had its turn
                        ++faults;
                        ++scenarioFaults;
                        for (const std::string& entry : gSim.log) {
                            if (entry.rfind("FAIL ", 0) == 0)
                                failedCalls.insert(entry.substr(5));
                        }
                    }
                    EXPECT_GE(scenarioFaults, goodDayCalls)
                        << commandLine << ", " << version << ", " << folder << ", refusal "
                        << refusal << ": fewer faults than a good day's calls";
                }
            }
        }
    }
    std::printf("fault sweep: %u injected faults, into %zu kinds of call\n", faults,
                failedCalls.size());
    EXPECT_EQ(failedCalls, kFallibleCallsReached);
}
