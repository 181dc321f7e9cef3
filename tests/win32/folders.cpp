// Folders and the ANSI code page: the current directory (in Unicode on NT), the system and
// Windows folders, and the conversions between the code page and Unicode.
#include "tests/win32/machine.h"

#include <string.h>

#include <algorithm>

// A folder that a call reports: the length, or the capacity it needs when it does not fit.
// Where it writes no folder, the buffer holds another, whole one: a caller that reads it all
// the same takes a folder that is not the one asked for.
static UINT CopyFolder(const char* call, const std::string& folder, LPSTR buffer, UINT capacity)
{
    static const char kStale[] = "C:\\Stale\\";
    SimLog(call);
    UINT length = static_cast<UINT>(folder.size());
    bool fails = SimFails(call);
    if (fails || length + 1 > capacity) {
        if (capacity >= sizeof kStale)
            memcpy(buffer, kStale, sizeof kStale);
        return fails ? 0 : length + 1;
    }
    memcpy(buffer, folder.c_str(), length + 1);
    return length;
}

// The ANSI code page, as far as the tests need it: ASCII; in a single-byte code page the
// Latin-1 letters; in a double-byte one each lead byte with the byte after it, as a character
// of its own (U+4000 on, not the real ones); and three letters that best fit turns into
// look-alikes. Anything else becomes the default character "?".
static const struct {
    char16_t wide;
    char lookAlike;
} kBestFit[] = {{u'\u0141', 'L'}, {u'\uFF0E', '.'}, {u'\uFF3C', '\\'}};
const char16_t kFirstDoubleByte = 0x4000;  // lead byte 0x80, trail byte 0x00

static char16_t DoubleByteCharacter(unsigned char lead, unsigned char trail)
{
    return static_cast<char16_t>(kFirstDoubleByte + ((lead - 0x80) << 8) + trail);
}

static bool IsSimLeadByte(unsigned char byte)
{
    for (size_t i = 0; i + 1 < gSim.leadBytes.size(); i += 2) {
        if (byte >= gSim.leadBytes[i] && byte <= gSim.leadBytes[i + 1])
            return true;
    }
    return false;
}

static std::u16string SimToWide(const std::string& text)
{
    std::u16string wide;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (IsSimLeadByte(byte) && i + 1 < text.size())
            wide += DoubleByteCharacter(byte, static_cast<unsigned char>(text[++i]));
        else
            wide += static_cast<char16_t>(byte);
    }
    return wide;
}

static std::string SimToAnsi(const std::u16string& wide, bool bestFit)
{
    std::string text;
    for (char16_t c : wide) {
        unsigned lead = c >= kFirstDoubleByte ? 0x80 + ((c - kFirstDoubleByte) >> 8) : 0;
        char mapped = '?';
        for (const auto& fit : kBestFit) {
            if (c == fit.wide && bestFit)
                mapped = fit.lookAlike;
        }
        if (c < 0x80 || (c < 0x100 && gSim.leadBytes.empty()))
            text += static_cast<char>(c);
        else if (lead != 0 && lead < 0x100 && IsSimLeadByte(static_cast<unsigned char>(lead)))
            text += {static_cast<char>(lead), static_cast<char>(c & 0xFF)};
        else
            text += mapped;
    }
    return text;
}

static std::u16string SimWideDirectory()
{
    return gSim.wideDirectory.empty() ? SimToWide(gSim.currentDirectory) : gSim.wideDirectory;
}

DWORD GetCurrentDirectoryA(DWORD capacity, LPSTR buffer)
{
    // NT converts its Unicode name with best fit.
    std::string folder = gSim.wideDirectory.empty() ? gSim.currentDirectory
                                                    : SimToAnsi(gSim.wideDirectory, true);
    return CopyFolder("GetCurrentDirectoryA", folder, buffer, capacity);
}

DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer)
{
    SimLog("GetCurrentDirectoryW");
    if (gSim.platformId == VER_PLATFORM_WIN32_WINDOWS) {  // a stub on Windows 95 to Me
        gSim.lastError = ERROR_CALL_NOT_IMPLEMENTED;
        return 0;
    }
    if (SimFails("GetCurrentDirectoryW")) {
        gSim.lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    std::u16string folder = SimWideDirectory();
    DWORD length = static_cast<DWORD>(folder.size());
    if (length + 1 > capacity)
        return length + 1;
    std::copy(folder.c_str(), folder.c_str() + length + 1, buffer);
    return length;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR text,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    SimLog("WideCharToMultiByte " + std::to_string(flags));
    if (SimFails("WideCharToMultiByte") || codePage != CP_ACP || wideCount != -1 || defaultChar ||
        usedDefaultChar || (flags & ~WC_NO_BEST_FIT_CHARS) != 0 ||
        (flags != 0 && gSim.refusesNoBestFit)) {
        gSim.lastError = ERROR_INVALID_FLAGS;
        return 0;
    }
    std::string converted = SimToAnsi(wide, flags == 0);
    if (converted.size() + 1 > static_cast<size_t>(capacity)) {
        gSim.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    memcpy(text, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size() + 1);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR wide,
                        int capacity)
{
    SimLog("MultiByteToWideChar");
    if (SimFails("MultiByteToWideChar") || codePage != CP_ACP || flags != 0 || count != -1) {
        gSim.lastError = ERROR_INVALID_FLAGS;
        return 0;
    }
    std::u16string converted = SimToWide(text);
    if (converted.size() + 1 > static_cast<size_t>(capacity)) {
        gSim.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::copy(converted.c_str(), converted.c_str() + converted.size() + 1, wide);
    return static_cast<int>(converted.size() + 1);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT capacity)
{
    return CopyFolder("GetSystemDirectoryA", gSim.systemDirectory, buffer, capacity);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT capacity)
{
    return CopyFolder("GetWindowsDirectoryA", gSim.windowsDirectory, buffer, capacity);
}

BOOL SetCurrentDirectoryA(LPCSTR path)
{
    SimLog(std::string("SetCurrentDirectoryA ") + path);
    if (SimFails("SetCurrentDirectoryA"))
        return FALSE;
    std::string folder = path;
    if (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();  // as the system reports it: a backslash only at a drive's root
    gSim.currentDirectory = folder;
    gSim.wideDirectory.clear();
    return TRUE;
}

UINT GetACP(void)
{
    return gSim.codePage;
}

BOOL GetCPInfo(UINT codePage, CPINFO* info)
{
    if (SimFails("GetCPInfo") || codePage != gSim.codePage)
        return FALSE;
    memset(info, 0, sizeof(*info));
    info->MaxCharSize = gSim.leadBytes.empty() ? 1 : 2;
    for (size_t i = 0; i < gSim.leadBytes.size() && i < MAX_LEADBYTES - 2; ++i)
        info->LeadByte[i] = gSim.leadBytes[i];
    return TRUE;
}
