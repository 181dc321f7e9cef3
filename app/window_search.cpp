#include "app/window_search.h"

#include "app/install_path.h"
#include "app/launcher_state.h"
#include "app/system_modules.h"
#include "app/text.h"

const unsigned kWindowTitleSize = 256;
const int kWindowTitleCapacity = 255;
const DWORD kShellWaitPauseMs = 10;
const UINT kShellTitleString = 1;
static const char kShellModule[] = "progman.exe";
static const char kDesktopWindowTitle[] = "Program Manager";

// Visits every window: when several match, the last one enumerated stays found.
static BOOL CALLBACK EnumTitleProc(HWND window, LPARAM)
{
    char title[kWindowTitleSize];
    title[0] = '\0';
    GetWindowTextA(window, title, kWindowTitleCapacity);
    if (title[0] != '\0' && TextContains(title, TitleFragment))
        FoundWindow = window;
    return TRUE;
}

static void SearchWindows()
{
    EnumWindows(EnumTitleProc, 0);
}

void PollForWindow(DWORD pauseMs)
{
    for (unsigned search = 0; search < kMaxWindowSearches; ++search) {
        SearchWindows();
        if (FoundWindow != NULL)
            return;
        Sleep(pauseMs);
    }
}

// Windows 95, NT 4 and earlier, and Windows 2000 start a child fine before the shell is up.
static bool ShellWaitNeeded(const OSVERSIONINFOEXA& version)
{
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
        return !(version.dwMajorVersion == 4 && version.dwMinorVersion == 0);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return !(version.dwMajorVersion <= 4 ||
                 (version.dwMajorVersion == 5 && version.dwMinorVersion == 0));
    return true;
}

// Systems before NT 4 SP6 and Windows 98 know only the basic record, so the extended one is
// asked for first and the basic one next.
static const DWORD kVersionRecordSizes[] = {sizeof(OSVERSIONINFOEXA), sizeof(OSVERSIONINFOA)};

static bool GetSystemVersion(OSVERSIONINFOEXA* version)
{
    for (DWORD size : kVersionRecordSizes) {
        version->dwOSVersionInfoSize = size;
#if defined(_MSC_VER)
// Current SDKs mark GetVersionExA deprecated (C4996). It is the one call that every Windows
// from 95 on answers, and the shell wait must tell 95, NT 4 and 2000 from the rest; the
// helpers meant to replace it do not exist before Windows 2000.
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
        BOOL known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(version));
#if defined(_MSC_VER)
#pragma warning(pop)
#endif
        if (known)
            return true;
    }
    return false;
}

// The shell's window title is string 1 of progman.exe, in the system's language. It is read
// from where Windows keeps it, the system folder and then the Windows folder (the order in
// which the standard search reaches them), never from the launcher's folder or the current
// directory: a planted copy would choose what the wait looks for. Read as data only, so no
// code of it runs. The first copy found is the one read, as the standard search would.
// Windows Vista to 11 have no progman.exe; their desktop's window is still titled "Program
// Manager", so that is looked for when no title can be read. (An empty fragment would be
// found in any titled window, and the wait would end at its first pass.)
static void LoadShellTitle()
{
    const SystemFolderQuery folders[] = {GetSystemDirectoryA, GetWindowsDirectoryA};
    for (SystemFolderQuery folderOf : folders) {
        char path[kPathBufferSize];
        if (!ComposeSystemFilePath(path, folderOf, kShellModule))
            continue;
        HMODULE shell = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (shell == NULL)
            continue;
        int length = LoadStringA(shell, kShellTitleString, TitleFragment, kTitleFragmentSize - 1);
        FreeLibrary(shell);
        if (length > 0)
            return;
        break;
    }
    CopyText(TitleFragment, kTitleFragmentSize, kDesktopWindowTitle);
}

// Up to 100 searches about 10 ms apart, about one second, for the desktop shell's window.
void WaitForShell()
{
    OSVERSIONINFOEXA version = {};
    if (!GetSystemVersion(&version) || !ShellWaitNeeded(version))
        return;
    LoadShellTitle();
    for (unsigned pass = 0;;) {
        FoundWindow = NULL;
        SearchWindows();
        if (++pass == kMaxWindowSearches)
            return;
        Sleep(kShellWaitPauseMs);
        if (FoundWindow != NULL)
            return;
    }
}
