// Built with launcher.exe's own flags and platform pieces, stack cookie included, to show
// what the cookie does under Wine. Its argument tail says what it does:
//   "cookie"     exits with the cookie it was given as its exit code;
//   other text   copies the text into a 16-byte stack buffer without a bound and exits 0:
//                a long one overruns the buffer, and the process must end with 0xC0000409
//                before the overrun frame returns.
// First it loads detach_probe.dll where one lies beside it (the tests' DLL that records its
// detach): an ordinary exit tells it, the end of an overrun process must not.
#include "platform/stack_cookie.h"

const unsigned kSmallBuffer = 16;
static const char kDetachProbe[] = "detach_probe.dll";

static const char* ArgumentTail(const char* commandLine)
{
    const char* p = commandLine;
    bool quoted = false;
    for (; *p != '\0' && (quoted || *p != ' '); ++p)
        quoted ^= *p == '"';
    while (*p == ' ')
        ++p;
    return p;
}

// The fault on purpose: no bound. The buffer is then handed to the system, so that the copy
// cannot be left out.
#if defined(_MSC_VER)
__declspec(noinline)
#else
__attribute__((noinline))
#endif
static void CopyWithoutBound(const char* text)
{
    char buffer[kSmallBuffer];
    char* d = buffer;
    while ((*d++ = *text++) != '\0') {
    }
    SetCurrentDirectoryA(buffer);
}

extern "C" NO_STACK_COOKIE void WINAPI StartLauncher(void)
{
    SetStackCookie();
    LoadLibraryA(kDetachProbe);
    const char* tail = ArgumentTail(GetCommandLineA());
    if (tail[0] == 'c' && tail[1] == 'o' && tail[2] == 'o' && tail[3] == 'k' && tail[4] == 'i' &&
        tail[5] == 'e' && tail[6] == '\0')
        ExitProcess(static_cast<UINT>(STACK_COOKIE));
    CopyWithoutBound(tail);
    ExitProcess(0);
}
