// The stack cookie. Both compilers keep a copy of it in every frame that holds an array and
// compare the two on the way out: GCC (-fstack-protector-strong) through __stack_chk_guard
// and __stack_chk_fail, cl and clang-cl (/GS) through __security_cookie and
// __security_check_cookie. Without a C runtime nothing else sets the cookie or answers a
// mismatch, so this does.
#include "platform/stack_cookie.h"

// Zero at start, as all static storage is, and so without room in the file; set at the entry
// before any protected frame exists.
UINT_PTR STACK_COOKIE;

// The value cl's runtime starts from, which every copy of it knows: never ours.
const UINT_PTR kKnownCookie = 0xBB40E64Eu;
// What Windows ends a process with when its stack has been overrun.
const UINT kStackBufferOverrun = 0xC0000409u;

// From what moves or changes from run to run and another program cannot read beforehand:
// where the stack and the image were put (both moved by ASLR), the process and thread ids,
// the tick count and the performance counter. All of it exists in Windows 95's and NT 4's
// kernel32. Its own frame is not protected: the cookie changes under it.
NO_STACK_COOKIE void SetStackCookie()
{
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    UINT_PTR cookie = reinterpret_cast<UINT_PTR>(&counter) ^
                      reinterpret_cast<UINT_PTR>(GetModuleHandleA(NULL));
    // The ids are small and the counters' low bits change fastest: they go to both halves.
    cookie ^= static_cast<UINT_PTR>(GetCurrentProcessId()) << 16;
    cookie ^= GetCurrentThreadId();
    cookie ^= counter.LowPart ^ static_cast<DWORD>(counter.HighPart);
    cookie ^= static_cast<UINT_PTR>(GetTickCount()) << 16;
    if (cookie == 0 || cookie == kKnownCookie)
        cookie = kKnownCookie + 1;
    STACK_COOKIE = cookie;
}

// A frame's copy no longer matches: its stack was overrun. The process ends at once, as
// Windows ends it, without returning into the frame and without telling any DLL (which
// ExitProcess would: every DLL's detach would run in the overrun process).
[[noreturn]] static void EndOverrunProcess()
{
    for (;;)
        TerminateProcess(GetCurrentProcess(), kStackBufferOverrun);
}

#if defined(_MSC_VER)
extern "C" void __fastcall __security_check_cookie(UINT_PTR cookie)
{
    if (cookie != __security_cookie)
        EndOverrunProcess();
}
#else
extern "C" [[noreturn]] void __stack_chk_fail(void)
{
    EndOverrunProcess();
}
#endif
