// Stands in for the DirectX setup and the driver installer: records how it was started,
// one line per start, in "<its own path>.log", and exits. The creation time is when the
// launcher's start call made this process.
#include <windows.h>

#include <stdio.h>

#include "tests/e2e/e2e_tools.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char self[MAX_PATH], folder[MAX_PATH], log[MAX_PATH + 8];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, folder);
    snprintf(log, sizeof log, "%s.log", self);
    if (FILE* f = fopen(log, "a")) {
        fprintf(f, "%llu|%s|%s|%s\n", FileTimeValue(created), self, folder, GetCommandLineA());
        fclose(f);
    }
    return 0;
}
