// The install-path record over arbitrary bytes, types and lengths, read by a whole run in
// either branch: every value written and every program started is a whole, absolute path
// that fits the path buffer, or nothing is written or started.
#include <ctype.h>
#include <string.h>

#include "app/start.h"
#include "tests/fuzz/fuzz_common.h"

static bool IsAbsolute(const std::string& path)
{
    bool drive = path.size() >= 3 && isalpha(static_cast<unsigned char>(path[0])) &&
                 path[1] == ':' && path[2] == '\\';
    bool share = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    return drive || share;
}

static bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size < 2)
        return 0;
    FreshMachine();
    std::string record(reinterpret_cast<const char*>(data + 2), size - 2);
    SimSetValue(HKEY_CURRENT_USER, "SOFTWARE\\Orvalent", "QB62_INSTALL_PATH", data[0], record);
    SimSetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version", REG_SZ,
                data[1] & 1 ? "4.09.00.0904" : "4.08.00.0400");
    SimAddWindow("Program Manager");
    gSim.commandLine = "launcher.exe 2";
    try {
        StartLauncher();
    } catch (const SimProcessEnded&) {
    }
    FUZZ_CHECK(gSim.exited && gSim.exitCode == 1);
    FUZZ_CHECK(gSim.openKeys == 0);
    const std::string driver = "PX_Drivers\\QuaverlineDrivers40.exe";
    for (const auto& call : gSim.regCalls) {
        if (call.op != "set")
            continue;
        std::string path = call.bytes;
        if (!path.empty() && path[0] == '"') {
            FUZZ_CHECK(path.size() >= 2 && path.back() == '"');
            path = path.substr(1, path.size() - 2);
        }
        FUZZ_CHECK(call.bytes.size() <= 259 && memchr(path.data(), 0, path.size()) == nullptr);
        FUZZ_CHECK(IsAbsolute(path) && EndsWith(path, driver));
    }
    for (const auto& child : gSim.processes) {
        FUZZ_CHECK(child.application.size() <= 259 && IsAbsolute(child.application));
        FUZZ_CHECK(EndsWith(child.application, driver) ||
                   EndsWith(child.application, "DirectX\\9.0\\dxsetup.exe"));
        FUZZ_CHECK(IsAbsolute(child.currentDirectory));
    }
    return 0;
}
