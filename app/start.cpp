#include "app/start.h"

#include "app/launcher.h"
#include "app/system_modules.h"
#include "app/text.h"

// Skips the program's own name, quoted or not, and the blanks after it; trailing blanks stay.
// A quoted name is walked a character at a time in the ANSI code page: a lead byte takes
// the byte after it along, whatever that byte is.
static const char* TakeArgumentTail(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        CPINFO codePage = {};
        ReadLeadBytes(&codePage);
        for (++p; *p != '\0' && *p != '"'; p = NextCharacter(codePage, p)) {
        }
        if (*p == '"')
            ++p;
    } else {
        while (static_cast<unsigned char>(*p) > ' ')
            ++p;
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ')
        ++p;
    return p;
}

// Its own frame is not protected: the stack cookie is set in it.
extern "C" NO_STACK_COOKIE void WINAPI StartLauncher(void)
{
    SetStackCookie();
    // Next, before the splash or any window can load a module.
    KeepDllSearchInSystemFolder();
    HINSTANCE instance = GetModuleHandleA(NULL);
    const char* argumentTail = TakeArgumentTail(GetCommandLineA());
    ExitProcess(static_cast<UINT>(LauncherMain(instance, argumentTail)));
}
