// The install-path record over arbitrary bytes, types and lengths, in code page 1252 or 932,
// read by a whole run in either branch. An oracle of its own says what the record must give:
// a full folder path, from which the run starts its child and which its RunOnce record names,
// or nothing at all.
#include <string>
#include <vector>

#include "app/start.h"
#include "tests/fuzz/fuzz_common.h"

static const size_t kPathLimit = 259;  // characters of a path, without its NUL
static const std::string kDriver = "PX_Drivers\\QuaverlineDrivers40.exe";
static const std::string kSetup = "DirectX\\9.0\\dxsetup.exe";

static bool IsLeadByte932(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The text's characters, a double-byte one as its two bytes.
static std::vector<std::string> Characters(const std::string& text, bool doubleByte)
{
    std::vector<std::string> characters;
    for (size_t i = 0; i < text.size(); ++i) {
        size_t length = doubleByte && IsLeadByte932(static_cast<unsigned char>(text[i])) &&
                                i + 1 < text.size()
                            ? 2
                            : 1;
        characters.push_back(text.substr(i, length));
        i += length - 1;
    }
    return characters;
}

// What an install path may be: a folder on a drive ("C:\...\") or a share ("\\server\...\"),
// perhaps behind "\\?\" ("\\?\C:\...\", "\\?\UNC\server\...\"), ending in a backslash, with
// no "?" or "/" and no component of dots alone. Returns it, or "" where the record is none.
static std::string ExpectedInstallPath(std::string stored, bool doubleByte)
{
    if (stored.size() > kPathLimit + 1)
        return "";  // more than the reader's buffer
    if (!stored.empty() && stored.back() == '\0')
        stored.pop_back();
    if (stored.size() > kPathLimit)
        return "";
    const std::string text = stored.substr(0, stored.find('\0'));
    std::string body = text;
    bool share = text.size() > 2 && text.compare(0, 2, "\\\\") == 0;
    if (text.compare(0, 4, "\\\\?\\") == 0) {
        body = text.substr(4);
        share = body.size() > 4 && body.compare(0, 4, "UNC\\") == 0;
    }
    const char letter = body.empty() ? '\0' : body[0];
    bool drive = ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) &&
                 body.size() > 2 && body[1] == ':' && body[2] == '\\';
    if (!(share || drive) || body.find_first_of("?/") != std::string::npos)
        return "";
    std::vector<std::string> characters = Characters(body, doubleByte);
    if (characters.empty() || characters.back() != "\\")
        return "";
    std::string component;
    for (const std::string& c : characters) {
        if (c != "\\") {
            component += c;
            continue;
        }
        if (!component.empty() && component.find_first_not_of('.') == std::string::npos)
            return "";
        component.clear();
    }
    return text;
}

static std::string Fitting(const std::string& path)
{
    return path.size() <= kPathLimit ? path : "";
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size < 2)
        return 0;
    FreshMachine();
    const bool directXBranch = (data[1] & 1) == 0, doubleByte = (data[1] & 2) != 0;
    if (doubleByte) {
        gSim.codePage = 932;
        gSim.leadBytes = {0x81, 0x9F, 0xE0, 0xFC};
    }
    std::string record(reinterpret_cast<const char*>(data + 2), size - 2);
    SimSetValue(HKEY_CURRENT_USER, "SOFTWARE\\Orvalent", "QB62_INSTALL_PATH", data[0], record);
    SimSetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version", REG_SZ,
                directXBranch ? "4.08.00.0400" : "4.09.00.0904");
    SimAddWindow("Program Manager");
    gSim.commandLine = "launcher.exe 2";
    try {
        StartLauncher();
    } catch (const SimProcessEnded&) {
    }
    FUZZ_CHECK(gSim.exited && gSim.exitCode == 1);
    FUZZ_CHECK(gSim.openKeys == 0);

    const std::string path = ExpectedInstallPath(record, doubleByte);
    std::string child, runOnce;
    if (!path.empty()) {
        child = Fitting(path + (directXBranch ? kSetup : kDriver));
        if (directXBranch) {
            runOnce = path + kDriver;
            if (runOnce.find(' ') != std::string::npos)
                runOnce = "\"" + runOnce + "\"";
            runOnce = Fitting(runOnce);
        }
    }
    FUZZ_CHECK(gSim.processes.size() == (child.empty() ? 0u : 1u));
    for (const auto& process : gSim.processes)
        FUZZ_CHECK(process.application == child);
    const SimValue* written = SimFindValue(HKEY_LOCAL_MACHINE,
                                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                                           "OV_INSTALLER");
    FUZZ_CHECK((written ? written->bytes : "") == runOnce);
    return 0;
}
