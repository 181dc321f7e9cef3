// A stack overrun ends the process at once, as Windows ends it.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

// ---- the stack cookie ------------------------------------------------------------------

// stack_smash.exe is built beside each launcher.exe with its flags and its stack cookie.
static DWORD RunStackSmash(const std::string& program, const std::string& argument)
{
    PROCESS_INFORMATION process = {};
    DWORD exitCode = 0xDEADBEEF;
    HANDLE job = StartInJob(program, "\"" + program + "\" " + argument, gWork, &process);
    if (!job)
        return exitCode;
    WaitForSingleObject(process.hProcess, kRunTimeoutMs);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    WaitForJob(job, kChildrenTimeoutMs);
    return exitCode;
}

// How many times the detach probe beside stack_smash.exe was told of a detach, since the
// last time this was asked.
static int Detaches(const std::string& probe)
{
    int detaches = 0;
    for (const std::string& line : DllLog(probe))
        detaches += line.find(": detach (") != std::string::npos;
    DeleteFileA((probe + ".log").c_str());
    return detaches;
}

// Windows ends a process whose stack was overrun at once: no DLL is told of its end, and none
// runs its code in it. The tests' DLL beside stack_smash.exe records its detach; an ordinary
// exit of the same program is the control.
void AnOverrunStackEndsTheProcess()
{
    gCase = "the stack cookie";
    const std::string& built = gStackSmash;
    CHECK(GetFileAttributesA(built.c_str()) != INVALID_FILE_ATTRIBUTES, "no %s", built.c_str());
    std::string folder = gWork + "smash\\", program = folder + "stack_smash.exe";
    std::string probe = folder + "detach_probe.dll";
    CreateDirectoryA(folder.c_str(), NULL);
    CopyFileA(built.c_str(), program.c_str(), FALSE);
    CopyFileA((gTools + "planted.dll").c_str(), probe.c_str(), FALSE);
    Detaches(probe);
    DWORD fits = RunStackSmash(program, "short");
    CHECK(fits == 0, "a text that fits its buffer: exit code 0x%08lX", fits);
    int detaches = Detaches(probe);
    CHECK(detaches == 1, "an ordinary exit told the DLL beside it of its detach %d times", detaches);
    // 64 bytes run past the cookie and the return address into the entry's frame, and no
    // further. 200 also overrun the system's frames of the thread's start, and the MSVC
    // build's process then ends under Wine 10 with exit code 1 instead (measured).
    DWORD overrun = RunStackSmash(program, std::string(64, 'A'));
    CHECK(overrun == 0xC0000409, "64 bytes in a 16-byte buffer: exit code 0x%08lX", overrun);
    detaches = Detaches(probe);
    CHECK(detaches == 0, "the overrun process told a DLL of its end %d times", detaches);
    DWORD first = RunStackSmash(program, "cookie"), second = RunStackSmash(program, "cookie");
    CHECK(first != second && first != 0 && first != 0xBB40E64E,
          "two runs' cookies: 0x%08lX and 0x%08lX", first, second);
}
