#include "app/start.h"

#include "app/launcher.h"

static bool IsLeadByte(const CPINFO& codePage, unsigned char byte)
{
    for (unsigned i = 0; i + 1 < MAX_LEADBYTES && codePage.LeadByte[i] != 0; i += 2) {
        if (byte >= codePage.LeadByte[i] && byte <= codePage.LeadByte[i + 1])
            return true;
    }
    return false;
}

// Skips the program's own name, quoted or not, and the blanks after it; trailing blanks stay.
// Inside quotes a double-byte character's second byte may be a quote, so lead bytes of the
// ANSI code page take their next byte with them.
const char* TakeArgumentTail(const char* commandLine)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        CPINFO codePage = {};
        if (!GetCPInfo(GetACP(), &codePage))
            codePage.LeadByte[0] = 0;
        for (++p; *p != '\0' && *p != '"'; ++p) {
            if (IsLeadByte(codePage, *p) && p[1] != '\0')
                ++p;
        }
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p != '\0' && *p <= ' ')
        ++p;
    return reinterpret_cast<const char*>(p);
}

extern "C" void WINAPI StartLauncher(void)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    const char* argumentTail = TakeArgumentTail(GetCommandLineA());
    ExitProcess(static_cast<UINT>(LauncherMain(instance, argumentTail)));
}
