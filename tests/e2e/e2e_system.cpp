// The system the cases run on: which Windows version the launcher sees, and whether the
// shell's window is up. A Wine suite sets both as a row asks; the kit takes the system as it
// is, and a row that asks for another version, or for a desktop without its window, is
// skipped with the reason.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/e2e/e2e.h"

void SkipRow(const std::string& row, const std::string& why)
{
    ++gSkipped;
    printf("skipped: %s: %s\n", row.c_str(), why.c_str());
}

const char* WineVersion()
{
    typedef const char*(CDECL * WineVersionFunction)();
    auto version = CallOf<WineVersionFunction>("ntdll.dll", "wine_get_version");
    return version ? version() : NULL;
}

bool UnderWine()
{
    return WineVersion() != NULL;
}

// Each version a row may ask for, by Wine's name for it, with what the system reports
// (RtlGetVersion, which no compatibility setting changes) when it is that version.
struct Windows {
    const char* name;
    DWORD platform, major, minorFrom, minorTo;
    bool progman;     // a progman.exe whose string 1 titles the shell's window: before Vista
    bool shellWait;   // the launcher waits for the shell's window
};
static const Windows kVersions[] = {
    {"win95", VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0, true, false},
    {"nt40", VER_PLATFORM_WIN32_NT, 4, 0, 0, true, false},
    {"win2k", VER_PLATFORM_WIN32_NT, 5, 0, 0, true, false},
    {"winxp", VER_PLATFORM_WIN32_NT, 5, 1, 2, true, true},
    {"win7", VER_PLATFORM_WIN32_NT, 6, 0, 3, false, true},  // Vista to 8.1
    {"win10", VER_PLATFORM_WIN32_NT, 10, 0, 0, false, true},  // 10 and 11
};

static const Windows* Named(const char* name)
{
    for (const Windows& version : kVersions) {
        if (name && strcmp(version.name, name) == 0)
            return &version;
    }
    return NULL;
}

bool UnderWow64()
{
    BOOL underWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &underWow64);
    return underWow64 != FALSE;
}

OSVERSIONINFOEXW SystemVersion()
{
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    auto get = CallOf<RtlGetVersionFunction>("ntdll.dll", "RtlGetVersion");
    if (get)
        get(&version);
    return version;
}

static const Windows* SystemsRow()
{
    OSVERSIONINFOEXW system = SystemVersion();
    for (const Windows& version : kVersions) {
        if (system.dwPlatformId == version.platform && system.dwMajorVersion == version.major &&
            system.dwMinorVersion >= version.minorFrom && system.dwMinorVersion <= version.minorTo)
            return &version;
    }
    return NULL;
}

static std::string SystemName()
{
    OSVERSIONINFOEXW system = SystemVersion();
    char name[64];
    snprintf(name, sizeof name, "Windows %lu.%lu.%lu", system.dwMajorVersion,
             system.dwMinorVersion, system.dwBuildNumber);
    return name;
}

static const Windows* gVersion;  // the version in use; NULL: one the suite has no row for
static std::string gShellTitle;
static HWND gShellWindow;  // the driver's own, titled as the shell's window where that is asked
static const char kOtherTitle[] = "Launcher Test Other";

// What the launcher looks for on this system as it is: string 1 of the first progman.exe
// in the system folder, else the Windows folder; "Program Manager" where it has none.
static std::string SystemShellTitle()
{
    for (UINT (WINAPI* folderOf)(LPSTR, UINT) : {GetSystemDirectoryA, GetWindowsDirectoryA}) {
        char path[MAX_PATH];
        UINT length = folderOf(path, MAX_PATH);
        if (length == 0 || length + sizeof "\\progman.exe" > MAX_PATH)
            continue;
        strcat(path, "\\progman.exe");
        HMODULE shell = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (!shell)
            continue;
        char title[80] = "";
        int read = LoadStringA(shell, 1, title, sizeof title - 1);
        FreeLibrary(shell);
        if (read > 0)
            return title;
        break;
    }
    return kDesktopTitle;
}

std::string UseWindowsVersion(const char* name)
{
    const Windows* row = Named(name);
    if (gWineSuite) {
        gVersion = row ? row : SystemsRow();
        WineSetVersion(name, !row || row->progman);
        gShellTitle = !row || row->progman ? TEST_SHELL_TITLE : kDesktopTitle;
        UseShellWindow(kPresent);
        return "";
    }
    const Windows* system = SystemsRow();
    if (!system)
        return "this system, " + SystemName() + ", is none of the versions the cases have rows for";
    if (name && row != system)
        return std::string("only Wine plays ") + name + " for the launcher: this system is " +
               SystemName();
    gVersion = system;
    gShellTitle = SystemShellTitle();
    UseShellWindow(kPresent);
    return "";
}

bool ShellWaitExpected()
{
    return gVersion && gVersion->shellWait;
}

const std::string& ShellTitle()
{
    return gShellTitle;
}

HWND TopLevelWindow(const char* title)
{
    return CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
}

struct TitleSearch {
    const char* fragment;
    bool found;
};

static BOOL CALLBACK FindTitle(HWND window, LPARAM parameter)
{
    TitleSearch* search = reinterpret_cast<TitleSearch*>(parameter);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title - 1);
    search->found |= title[0] != '\0' && strstr(title, search->fragment) != NULL;
    return TRUE;
}

// Where the system's own shell window is up (Explorer's desktop on a real Windows), it is the
// one the launcher finds, and the driver's stays out of the way; it cannot be taken away.
std::string UseShellWindow(ShellWindow state)
{
    if (!gShellWindow)
        gShellWindow = TopLevelWindow(kOtherTitle);
    SetWindowTextA(gShellWindow, kOtherTitle);
    TitleSearch search = {gShellTitle.c_str(), false};
    EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
    if (state == kPresent) {
        if (!search.found)
            SetWindowTextA(gShellWindow, gShellTitle.c_str());
        return "";
    }
    if (search.found)
        return "the desktop's own window \"" + gShellTitle + "\" is up, and the cases leave it so";
    return "";
}
