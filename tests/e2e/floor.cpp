// Floors of starting a process here, built like the launcher, without the C runtime:
//   nothing.exe  exits at once;
//   gui.exe      the same with the launcher's user32 import, which Wine initialises at start;
//   starter.exe  with user32, makes one window search (Wine loads its display driver at the
//                first one, about 28 ms here), starts the driver installer's stand-in as the
//                launcher does, and exits without any pause.
#include "platform/win32.h"
#include "tests/contract.h"

#if defined(FLOOR_GUI) || defined(FLOOR_STARTER)
static BOOL CALLBACK NoWindow(HWND, LPARAM)
{
    return FALSE;
}
#endif

extern "C" void WINAPI NothingStart(void)
{
#if defined(FLOOR_GUI)
    if (GetCommandLineA()[0] == '\0')  // never true: it only keeps user32 imported
        EnumWindows(NoWindow, 0);
#endif
#if defined(FLOOR_STARTER)
    EnumWindows(NoWindow, 0);
    static char emptyCommandLine[1] = "";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    CreateProcessA(kDriverChild, emptyCommandLine, NULL, NULL, FALSE, 0, NULL, kDriverFolder,
                   &startup, &process);
#endif
    ExitProcess(0);
}
