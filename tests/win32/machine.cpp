#include "tests/win32/machine.h"

#include <strings.h>

#include "platform/stack_cookie.h"

SimWorld gSim;

void SimReset()
{
    gSim = SimWorld();
}

void SimUseCodePage932()
{
    gSim.codePage = 932;
    gSim.leadBytes = {0x81, 0x9F, 0xE0, 0xFC};
}

bool SimSameText(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

void SimLog(const std::string& entry)
{
    if (gSim.log.empty())
        gSim.cookieAtFirstCall = STACK_COOKIE;
    gSim.log.push_back(entry);
}

bool SimFails(const char* call)
{
    gSim.fallibleCallsMade.insert(call);
    if (++gSim.fallibleCalls != gSim.failAt)
        return false;
    SimLog(std::string("FAIL ") + call);
    return true;
}

HWND SimAddWindow(const std::string& title, unsigned fromSearch)
{
    HWND handle = reinterpret_cast<HWND>(uintptr_t{0x100} + gSim.windows.size());
    gSim.windows.push_back({handle, title, fromSearch});
    return handle;
}

size_t SimLogIndex(const std::string& start)
{
    for (size_t i = 0; i < gSim.log.size(); ++i) {
        const std::string& entry = gSim.log[i];
        if (entry.compare(0, start.size(), start) == 0 &&
            (entry.size() == start.size() || entry[start.size()] == ' '))
            return i;
    }
    return std::string::npos;
}

UINT SimRunProgram(void (*entry)(void), const std::string& commandLine)
{
    gSim.commandLine = commandLine;
    try {
        entry();
    } catch (const SimProcessEnded&) {
    }
    return gSim.exited ? gSim.exitCode : 0xDEADBEEF;
}
