#include "splash/splash.h"

#include "app/install_path.h"
#include "app/text.h"
#include "res/resource.h"

const DWORD kClosePauseMs = 1;
const INT_PTR kSplashResult = 1;

static INT_PTR CALLBACK SplashDlgProc(HWND window, UINT message, WPARAM, LPARAM);
static DWORD WINAPI SplashWorker(LPVOID parameter);

void RunSplash(HINSTANCE instance)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SPLASH), NULL, SplashDlgProc, 0);
}

static INT_PTR CALLBACK SplashDlgProc(HWND window, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        // Windows 95 fails CreateThread without somewhere to put the thread id.
        DWORD threadId;
        if (CreateThread(NULL, 0, SplashWorker, window, 0, &threadId) == NULL)
            PostQuitMessage(0);  // ends the modal loop at once: nothing to wait for
        return TRUE;
    }
    case WM_COMMAND:  // neither Enter, nor Esc, nor a click closes the splash
    case WM_ACTIVATE:
        return TRUE;
    case WM_CLOSE:
        Sleep(kClosePauseMs);
        EndDialog(window, kSplashResult);
        return TRUE;
    default:
        return FALSE;
    }
}

// Records the working directory, with its trailing backslash, as the install path and makes
// it current, then closes the splash. A directory that cannot be read, that leaves no room
// for the backslash, whose name the ANSI code page cannot show exactly, or that is not a
// full folder path is neither recorded nor made current: it would replace a good record with
// one that can never work, or one that names another folder. The main thread then finds that
// the record is not its folder, and starts nothing.
static DWORD WINAPI SplashWorker(LPVOID parameter)
{
    HWND window = static_cast<HWND>(parameter);
    char installPath[kPathBufferSize];
    if (ReadCurrentFolder(installPath) && IsInstallPath(installPath)) {
        WriteInstallPath(installPath);
        SetCurrentDirectoryA(installPath);
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
}
