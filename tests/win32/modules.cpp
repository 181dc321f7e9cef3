// Modules and the shell: the system's version, module files found by path or by the search
// Windows makes for a bare name, their strings, and ShellExecuteExA behind shell32.
#include "tests/win32/machine.h"

#include <string.h>

#include <algorithm>

static HMODULE const kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x4000});
const uintptr_t kFirstModuleHandle = 0x5000;

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    SimLog("GetVersionExA " + std::to_string(info->dwOSVersionInfoSize));
    if (SimFails("GetVersionExA"))
        return FALSE;
    bool extended = info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA);
    if (!(extended && gSim.extendedVersionKnown) &&
        info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
        return FALSE;
    info->dwPlatformId = gSim.platformId;
    info->dwMajorVersion = gSim.major;
    info->dwMinorVersion = gSim.minor;
    return TRUE;
}

// Reached only through GetProcAddress on shell32, as the launcher reaches it.
static BOOL SimShellExecuteExA(SHELLEXECUTEINFOA* info)
{
    SimLog(std::string("ShellExecuteExA ") + (info->lpFile ? info->lpFile : "(null)"));
    gSim.shellStarts.push_back({*info, info->lpFile ? info->lpFile : "(null)",
                                info->lpParameters ? info->lpParameters : "(null)",
                                info->lpDirectory ? info->lpDirectory : "(null)"});
    return !SimFails("ShellExecuteExA");
}

// Reached only through GetProcAddress on kernel32.
static BOOL SimSetDefaultDllDirectories(DWORD directoryFlags)
{
    SimLog("SetDefaultDllDirectories " + std::to_string(directoryFlags));
    gSim.defaultDllDirectories = directoryFlags;
    return TRUE;
}

static const SimModule* FindModuleFile(const std::string& path)
{
    for (const auto& module : gSim.modules) {
        if (SimSameText(module.path, path))
            return &module;
    }
    return nullptr;
}

// The file that a load of `name` reaches: a path as it stands, a bare name by the search.
static const SimModule* ResolveModule(const std::string& name)
{
    if (name.find('\\') != std::string::npos)
        return FindModuleFile(name);
    std::vector<std::string> folders = {gSim.systemDirectory};
    if ((gSim.defaultDllDirectories & LOAD_LIBRARY_SEARCH_SYSTEM32) == 0)
        folders = {gSim.programFolder, gSim.systemDirectory, gSim.windowsDirectory,
                   gSim.currentDirectory};
    for (const auto& folder : folders) {
        if (const SimModule* module = FindModuleFile(folder + "\\" + name))
            return module;
    }
    return nullptr;
}

static HMODULE LoadModule(const std::string& name, bool asCode)
{
    const SimModule* module = ResolveModule(name);
    if (!module)
        return nullptr;
    (asCode ? gSim.modulesRun : gSim.modulesRead).push_back(module->path);
    ++gSim.loadedModules;
    return reinterpret_cast<HMODULE>(kFirstModuleHandle + 0x10 * (module - gSim.modules.data()));
}

static const SimModule* ModuleOf(HMODULE handle)
{
    uintptr_t offset = reinterpret_cast<uintptr_t>(handle) - kFirstModuleHandle;
    return offset % 0x10 == 0 && offset / 0x10 < gSim.modules.size() ? &gSim.modules[offset / 0x10]
                                                                     : nullptr;
}

void SimLoadByName(const std::string& name)
{
    SimLog("LoadLibraryA " + name);
    LoadModule(name, true);
}

static bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && SimSameText(text.substr(text.size() - end.size()), end);
}

HMODULE LoadLibraryA(LPCSTR fileName)
{
    SimLog(std::string("LoadLibraryA ") + fileName);
    if (SimFails("LoadLibraryA"))
        return nullptr;
    return LoadModule(fileName, true);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    SimLog(std::string("GetProcAddress ") + name);
    if (SimFails("GetProcAddress"))
        return nullptr;
    if (module == kKernel32 && gSim.hasDefaultDllDirectories &&
        strcmp(name, "SetDefaultDllDirectories") == 0)
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)(void)>(SimSetDefaultDllDirectories));
    const SimModule* file = ModuleOf(module);
    if (file && EndsWith(file->path, "\\shell32.dll") && strcmp(name, "ShellExecuteExA") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(SimShellExecuteExA));
    return nullptr;
}

DWORD GetLastError(void)
{
    return gSim.lastError;
}

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE, DWORD flags)
{
    SimLog(std::string("LoadLibraryExA ") + fileName + " " + std::to_string(flags));
    if (SimFails("LoadLibraryExA"))
        return nullptr;
    return LoadModule(fileName, (flags & LOAD_LIBRARY_AS_DATAFILE) == 0);
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int capacity)
{
    SimLog("LoadStringA " + std::to_string(id) + " " + std::to_string(capacity));
    const SimModule* file = ModuleOf(module);
    if (SimFails("LoadStringA") || !file || id != 1 || file->string1.empty() || capacity <= 0)
        return 0;
    size_t count = std::min(file->string1.size(), static_cast<size_t>(capacity - 1));
    memcpy(buffer, file->string1.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

BOOL FreeLibrary(HMODULE module)
{
    if (!ModuleOf(module))
        return FALSE;
    --gSim.loadedModules;
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    if (!moduleName)
        return reinterpret_cast<HMODULE>(gSim.imageBase);
    SimLog(std::string("GetModuleHandleA ") + moduleName);
    if (SimFails("GetModuleHandleA") || !SimSameText(moduleName, "kernel32.dll"))
        return nullptr;
    return kKernel32;
}

