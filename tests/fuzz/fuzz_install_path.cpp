// The install record over arbitrary bytes, types and lengths, in code page 1252 or 932, read
// by a whole run in either branch: no crash, no overrun, exit code 1, every key closed; and
// whatever the run starts or registers is the record's own text with the program's path
// after it, never cut, never longer than a path may be, on a drive or a share and ending in
// a backslash. Which records are usable is the host tests' table.
#include <string>

#include "tests/fuzz/fuzz_common.h"

static const size_t kPathLimit = 259;  // characters of a path, without its NUL

// On a drive or a share, perhaps behind "\\?\", ending in a backslash, with no "?" or "/".
static bool FullFolder(const std::string& text)
{
    const std::string body = text.compare(0, 4, "\\\\?\\") == 0 ? text.substr(4) : text;
    bool drive = body.size() > 2 && body[1] == ':' && body[2] == '\\';
    bool share = text.compare(0, 2, "\\\\") == 0;
    return (drive || share) && !body.empty() && body.back() == '\\' && body.find_first_of("?/") == body.npos;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size < 2)
        return 0;
    FreshMachine();
    const bool directXBranch = (data[1] & 1) == 0;
    if (data[1] & 2)
        SimUseCodePage932();
    std::string record(reinterpret_cast<const char*>(data + 2), size - 2);
    SimSetValue(HKEY_CURRENT_USER, kInstallKey, kInstallValue, data[0], record);
    SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, REG_SZ,
                directXBranch ? "4.08.00.0400" : "4.09.00.0904");
    SimAddWindow("Program Manager");
    FUZZ_CHECK(SimRunProgram(StartLauncher, "launcher.exe 2") == 1);
    FUZZ_CHECK(gSim.openKeys == 0);

    const std::string text = record.substr(0, record.find('\0'));
    const std::string child = text + (directXBranch ? kSetupChild : kDriverChild);
    FUZZ_CHECK(gSim.processes.size() <= 1);
    for (const auto& process : gSim.processes)
        FUZZ_CHECK(process.application == child && child.size() <= kPathLimit &&
                   FullFolder(text));
    const SimValue* runOnce = SimFindValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
    if (runOnce) {
        const std::string command = text + kDriverChild;
        const bool quoted = command.find(' ') != command.npos;
        FUZZ_CHECK(directXBranch && FullFolder(text) && runOnce->bytes.size() <= kPathLimit &&
                   runOnce->bytes == (quoted ? "\"" + command + "\"" : command));
    }
    return 0;
}
