// A DLL planted where the launcher must never load a module from: if it is loaded, its entry
// point runs (as it would with the launcher's rights) and records so in "<its own path>.log",
// with the program it was loaded into. It exports nothing and does nothing else.
#include <windows.h>

#include <stdio.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH], program[MAX_PATH], log[MAX_PATH + 8];
    GetModuleFileNameA(self, path, MAX_PATH);
    GetModuleFileNameA(NULL, program, MAX_PATH);
    snprintf(log, sizeof log, "%s.log", path);
    if (FILE* f = fopen(log, "a")) {
        fprintf(f, "%s\n", program);
        fclose(f);
    }
    return TRUE;
}
