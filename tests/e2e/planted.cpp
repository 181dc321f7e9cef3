// A DLL planted where the launcher must never load a module from: if it is loaded, its entry
// point runs (as it would with the launcher's rights) and records so in "<its own path>.log",
// with the program it was loaded into. It also records when it is told of its detach
// ("<program>: detach (process exit)"), which the stack-cookie test loads it for: a process
// ended for an overrun stack must tell no DLL. It exports nothing and does nothing else.
#include <windows.h>

#include <stdio.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    if (reason != DLL_PROCESS_ATTACH && reason != DLL_PROCESS_DETACH)
        return TRUE;
    char path[MAX_PATH], program[MAX_PATH], log[MAX_PATH + 8];
    GetModuleFileNameA(self, path, MAX_PATH);
    GetModuleFileNameA(NULL, program, MAX_PATH);
    snprintf(log, sizeof log, "%s.log", path);
    if (FILE* f = fopen(log, "a")) {
        if (reason == DLL_PROCESS_ATTACH)
            fprintf(f, "%s\n", program);
        else
            fprintf(f, "%s: detach (%s)\n", program, reserved ? "process exit" : "FreeLibrary");
        fclose(f);
    }
    return TRUE;
}
