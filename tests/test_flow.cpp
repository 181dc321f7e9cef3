#include <gtest/gtest.h>

#include <functional>

#include "tests/scenario.h"

using Flow = Machine;

// A whole run: the DirectX version chooses the branch; the DirectX branch registers the
// driver installer under RunOnce as a command line and starts the setup; the driver branch
// starts the installer. Nothing starts, and nothing is registered, without a full install
// path that fits; a first run takes the record only where it names its own folder.
TEST_F(Flow, TheVersionAndTheRecordChooseWhatStartsAndWhatIsRegistered)
{
    const std::string device = "C:\\Games\\Device\\";
    const std::string spaced = "C:\\Program Files\\Device\\";
    // 259 characters with the driver installer's path: fits; one more does not.
    const std::string longest =
        "C:\\" + std::string(259 - 3 - 1 - sizeof kDriverChild + 1, 'a') + "\\";
    const std::string tooLong = "C:\\a" + longest.substr(3);
    const std::string spacedTooLong =  // fits, but not with the quotes
        "C:\\" + std::string(254 - sizeof kDriverChild + 1, ' ') + "\\";
    const auto setup = [](const std::string& folder) { return folder + kSetupChild; };
    const auto driver = [](const std::string& folder) { return folder + kDriverChild; };
    const struct {
        const char* name;
        const char* commandLine;
        const char* directX;  // nullptr: no DirectX key
        std::string record;   // "": none
        std::function<void()> situation;
        std::string started;  // "": nothing
        std::string runOnce;
    } rows[] = {
        {"DirectX 4.08.00.0400", "launcher.exe 2", "4.08.00.0400", device, nullptr,
         setup(device), driver(device)},
        {"DirectX 4.07", "launcher.exe 2", "4.07.00.0700", device, nullptr, setup(device),
         driver(device)},
        {"DirectX 4.08.00.0401", "launcher.exe 2", "4.08.00.0401", device, nullptr,
         driver(device), "(none)"},
        {"DirectX 4.08.01.0810", "launcher.exe 2", "4.08.01.0810", device, nullptr,
         driver(device), "(none)"},
        {"DirectX 4.09", "launcher.exe 1", "4.09.00.0904", device, nullptr, driver(device),
         "(none)"},
        {"a version that wraps below zero", "launcher.exe 2", "0.00.00.000/", device,
         nullptr, driver(device), "(none)"},
        {"an empty version", "launcher.exe 2", "", device, nullptr, driver(device), "(none)"},
        {"no DirectX key", "launcher.exe 2", nullptr, device, nullptr, setup(device),
         driver(device)},
        {"a DirectX key a standard user may only read", "launcher.exe 2", "4.09.00.0904", device,
         [] { SimAddKey(HKEY_LOCAL_MACHINE, kDirectXKey, true); }, driver(device), "(none)"},
        {"a folder with a space: the command line quotes it", "launcher.exe 2", "4.08.00.0400",
         spaced, nullptr, setup(spaced), "\"" + driver(spaced) + "\""},
        {"259 characters of command", "launcher.exe 2", "4.08.00.0400", longest, nullptr,
         setup(longest), driver(longest)},
        {"260 characters of command", "launcher.exe 2", "4.08.00.0400", tooLong, nullptr,
         setup(tooLong), "(none)"},
        {"260 characters of installer", "launcher.exe 2", "4.09.00.0904", tooLong, nullptr, "",
         "(none)"},
        {"no room for the quotes", "launcher.exe 2", "4.08.00.0400", spacedTooLong, nullptr,
         setup(spacedTooLong), "(none)"},
        {"no install record", "launcher.exe 2", "4.08.00.0400", "", nullptr, "", "(none)"},
        {"a RunOnce key a standard user may not write", "launcher.exe 2", "4.08.00.0400", device,
         [] { SimAddKey(HKEY_LOCAL_MACHINE, kRunOnceKey, true); }, setup(device), "(none)"},
        {"no RunOnce key: none is made", "launcher.exe 2", "4.08.00.0400", device,
         [] { gSim.keys.erase(gSim.keys.begin()); }, setup(device),  // the machine's first key
         "(no key)"},
        // An elevated run reads the user's record once: what it registers and what it starts
        // come from the same copy.
        {"the record rewritten once the run has read it", "launcher.exe 2", "4.08.00.0400",
         device, [] { gSim.afterFirstRead = [] { GiveInstallPath("C:\\Other\\"); }; },
         setup(device), driver(device)},
        // A first run from C:\bf\A records it, unless it cannot name it exactly.
        {"a first run from a folder it records", "launcher.exe", "4.08.00.0400",
         "C:\\bf\\Lukasz\\", [] { gSim.wideDirectory = u"C:\\bf\\A"; }, setup("C:\\bf\\A\\"),
         driver("C:\\bf\\A\\")},
        {"a first run, driver branch", "launcher.exe", "4.09.00.0904", "C:\\bf\\Lukasz\\",
         [] { gSim.wideDirectory = u"C:\\bf\\A"; }, driver("C:\\bf\\A\\"), "(none)"},
        {"a first run from a folder it cannot record, an older record", "launcher.exe",
         "4.08.00.0400", "C:\\bf\\Lukasz\\", [] { gSim.wideDirectory = u"C:\\bf\\\u4E2D"; }, "",
         "(none)"},
        {"a first run from a look-alike of the older record", "launcher.exe", "4.08.00.0400",
         "C:\\bf\\Lukasz\\", [] { gSim.wideDirectory = u"C:\\bf\\\u0141ukasz"; }, "", "(none)"},
        {"a first run whose record is rewritten after the worker", "launcher.exe",
         "4.09.00.0904", "C:\\bf\\Lukasz\\",
         [] {
             gSim.wideDirectory = u"C:\\bf\\A";
             gSim.afterWorker = [] { GiveInstallPath("C:\\bf\\B\\"); };
         },
         "", "(none)"},
        {"no worker, an older record of another folder", "launcher.exe", "4.08.00.0400",
         "C:\\bf\\Lukasz\\",
         [] {
             gSim.currentDirectory = "C:\\bf\\C";
             gSim.threadsCanStart = false;
         },
         "", "(none)"},
        {"no worker, an older record of this folder", "launcher.exe", "4.08.00.0400",
         "C:\\bf\\Lukasz\\",
         [] {
             gSim.currentDirectory = "C:\\bf\\Lukasz";
             gSim.threadsCanStart = false;
         },
         setup("C:\\bf\\Lukasz\\"), driver("C:\\bf\\Lukasz\\")},
    };
    for (const auto& row : rows) {
        SetUp();
        if (row.directX)
            GiveDirectX(row.directX);
        if (!row.record.empty())
            GiveInstallPath(row.record);
        if (row.situation)
            row.situation();
        EXPECT_EQ(RunLauncher(row.commandLine), 1u) << row.name;
        EXPECT_EQ(Started(), row.started.empty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{row.started})
            << row.name;
        EXPECT_EQ(RunOnceData(), row.runOnce) << row.name;
        if (const SimValue* runOnce = SimFindValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue))
            EXPECT_EQ(runOnce->type, REG_SZ) << row.name << ": a command line is a string";
        EXPECT_EQ(gSim.openKeys, 0) << row.name;
        // The setup may restart the machine: the driver installer is registered before it.
        if (row.runOnce[0] != '(' && !row.started.empty())
            EXPECT_LT(SimLogIndex(std::string("RegSetValueExA ") + kRunOnceValue),
                      SimLogIndex("CreateProcessA"))
                << row.name;
    }
}
