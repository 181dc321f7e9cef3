#include "tests/sim_win32.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <deque>

SimWorld gSim;

namespace {

struct PendingThread {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

std::vector<std::pair<HKEY, std::string>> gHandles;  // open registry keys, by handle
std::vector<PendingThread> gThreads;
std::deque<UINT> gPosted;
const uintptr_t kFirstKeyHandle = 0x1000;
HWND const kDialog = reinterpret_cast<HWND>(uintptr_t{0xD1A});
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x4000});
const uintptr_t kFirstModuleHandle = 0x5000;

bool SameText(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(~uintptr_t{0});  // as Windows has it

void Log(const std::string& entry)
{
    if (gSim.log.empty())
        gSim.cookieAtFirstCall = gStackCookie;
    gSim.log.push_back(entry);
}

// Counts a call that can fail and says whether this is the one to fail.
bool Fails(const char* call)
{
    gSim.fallibleCallsMade.insert(call);
    if (++gSim.fallibleCalls != gSim.failAt)
        return false;
    Log(std::string("FAIL ") + call);
    return true;
}

SimKey* FindKey(HKEY root, const std::string& path)
{
    for (auto& key : gSim.keys) {
        if (key.root == root && SameText(key.path, path))
            return &key;
    }
    return nullptr;
}

SimValue* FindValue(HKEY root, const std::string& key, const std::string& name)
{
    for (auto& value : gSim.values) {
        if (value.root == root && SameText(value.key, key) && SameText(value.name, name))
            return &value;
    }
    return nullptr;
}

const std::pair<HKEY, std::string>* FromHandle(HKEY key)
{
    uintptr_t index = reinterpret_cast<uintptr_t>(key) - kFirstKeyHandle;
    return index < gHandles.size() ? &gHandles[index] : nullptr;
}

HKEY NewHandle(HKEY root, const std::string& path)
{
    gHandles.emplace_back(root, path);
    ++gSim.openKeys;
    return reinterpret_cast<HKEY>(kFirstKeyHandle + gHandles.size() - 1);
}

bool AsksToWrite(REGSAM access)
{
    return (access & ~static_cast<REGSAM>(0x20019)) != 0;  // more than KEY_READ
}

void RecordRegCall(const char* op, HKEY root, const std::string& key, REGSAM access,
                   const std::string& name = "", DWORD type = 0, const std::string& bytes = "",
                   DWORD size = 0)
{
    gSim.regCalls.push_back({op, root, key, access, name, type, bytes, size});
}

bool Deliver(DLGPROC procedure, UINT message, WPARAM wParam)
{
    procedure(kDialog, message, wParam, 0);
    return gSim.dialogEnded || gSim.quitPosted;
}

}  // namespace

void SimReset()
{
    gSim = SimWorld();
    gHandles.clear();
    gThreads.clear();
    gPosted.clear();
}

void SimAddKey(HKEY root, const std::string& path, bool readOnly)
{
    if (SimKey* key = FindKey(root, path))
        key->readOnly = readOnly;
    else
        gSim.keys.push_back({root, path, readOnly});
}

void SimSetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                 const std::string& bytes)
{
    if (!FindKey(root, key))
        SimAddKey(root, key);
    if (SimValue* value = FindValue(root, key, name))
        *value = {root, key, name, type, bytes};
    else
        gSim.values.push_back({root, key, name, type, bytes});
}

const SimValue* SimFindValue(HKEY root, const std::string& key, const std::string& name)
{
    return FindValue(root, key, name);
}

bool SimKeyExists(HKEY root, const std::string& path)
{
    return FindKey(root, path) != nullptr;
}

HWND SimAddWindow(const std::string& title, unsigned fromSearch)
{
    HWND handle = reinterpret_cast<HWND>(uintptr_t{0x100} + gSim.windows.size());
    gSim.windows.push_back({handle, title, fromSearch});
    return handle;
}

// "Sleep 1" is the entry "Sleep 1" or one that goes on after a blank, never "Sleep 10".
static bool LogMatches(const std::string& entry, const std::string& start)
{
    return entry.compare(0, start.size(), start) == 0 &&
           (entry.size() == start.size() || entry[start.size()] == ' ');
}

unsigned SimCount(const std::string& start)
{
    unsigned count = 0;
    for (const auto& entry : gSim.log)
        count += LogMatches(entry, start);
    return count;
}

size_t SimLogIndex(const std::string& start)
{
    for (size_t i = 0; i < gSim.log.size(); ++i) {
        if (LogMatches(gSim.log[i], start))
            return i;
    }
    return std::string::npos;
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM access, HKEY* key)
{
    RecordRegCall("open", root, subKey, access);
    Log(std::string("RegOpenKeyExA ") + subKey);
    if (Fails("RegOpenKeyExA"))
        return ERROR_ACCESS_DENIED;
    SimKey* found = FindKey(root, subKey);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    if (found->readOnly && AsksToWrite(access))
        return ERROR_ACCESS_DENIED;
    *key = NewHandle(root, subKey);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* key, DWORD*)
{
    RecordRegCall("create", root, subKey, access);
    Log(std::string("RegCreateKeyExA ") + subKey);
    if (Fails("RegCreateKeyExA") || keyClass != nullptr || security != nullptr ||
        options != REG_OPTION_NON_VOLATILE)
        return ERROR_ACCESS_DENIED;
    SimKey* found = FindKey(root, subKey);
    if (found && found->readOnly && AsksToWrite(access))
        return ERROR_ACCESS_DENIED;
    if (!found)
        SimAddKey(root, subKey);
    *key = NewHandle(root, subKey);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    const auto* open = FromHandle(key);
    RecordRegCall("query", open ? open->first : nullptr, open ? open->second : "", 0, name, 0,
                  "", size ? *size : 0);
    Log(std::string("RegQueryValueExA ") + name);
    if (Fails("RegQueryValueExA") || !open) {
        if (data && size)
            memset(data, 0xCC, *size);  // what a failed read leaves is never to be trusted
        return ERROR_ACCESS_DENIED;
    }
    const SimValue* value = FindValue(open->first, open->second, name);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->type;
    DWORD needed = static_cast<DWORD>(value->bytes.size());
    if (data && size && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data && size)
        memcpy(data, value->bytes.data(), needed);  // no NUL added: the caller terminates
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    const auto* open = FromHandle(key);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    RecordRegCall("set", open ? open->first : nullptr, open ? open->second : "", 0, name, type,
                  bytes, size);
    Log(std::string("RegSetValueExA ") + name);
    if (Fails("RegSetValueExA") || !open)
        return ERROR_ACCESS_DENIED;
    SimSetValue(open->first, open->second, name, type, bytes);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (!FromHandle(key))
        return ERROR_ACCESS_DENIED;
    --gSim.openKeys;
    return ERROR_SUCCESS;
}

// A folder that a call reports: the length, or the capacity it needs when it does not fit.
// Where it writes no folder, the buffer holds another, whole one: a caller that reads it all
// the same takes a folder that is not the one asked for.
static UINT CopyFolder(const char* call, const std::string& folder, LPSTR buffer, UINT capacity)
{
    static const char kStale[] = "C:\\Stale\\";
    Log(call);
    UINT length = static_cast<UINT>(folder.size());
    bool fails = Fails(call);
    if (fails || length + 1 > capacity) {
        if (capacity >= sizeof kStale)
            memcpy(buffer, kStale, sizeof kStale);
        return fails ? 0 : length + 1;
    }
    memcpy(buffer, folder.c_str(), length + 1);
    return length;
}

// The ANSI code page, as far as the tests need it: ASCII; in a single-byte code page the
// Latin-1 letters; in a double-byte one each lead byte with the byte after it, as a character
// of its own (U+4000 on, not the real ones); and three letters that best fit turns into
// look-alikes. Anything else becomes the default character "?".
static const struct {
    char16_t wide;
    char lookAlike;
} kBestFit[] = {{u'\u0141', 'L'}, {u'\uFF0E', '.'}, {u'\uFF3C', '\\'}};
const char16_t kFirstDoubleByte = 0x4000;  // lead byte 0x80, trail byte 0x00

static char16_t DoubleByteCharacter(unsigned char lead, unsigned char trail)
{
    return static_cast<char16_t>(kFirstDoubleByte + ((lead - 0x80) << 8) + trail);
}

static bool IsSimLeadByte(unsigned char byte)
{
    for (size_t i = 0; i + 1 < gSim.leadBytes.size(); i += 2) {
        if (byte >= gSim.leadBytes[i] && byte <= gSim.leadBytes[i + 1])
            return true;
    }
    return false;
}

static std::u16string SimToWide(const std::string& text)
{
    std::u16string wide;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (IsSimLeadByte(byte) && i + 1 < text.size())
            wide += DoubleByteCharacter(byte, static_cast<unsigned char>(text[++i]));
        else
            wide += static_cast<char16_t>(byte);
    }
    return wide;
}

static std::string SimToAnsi(const std::u16string& wide, bool bestFit)
{
    std::string text;
    for (char16_t c : wide) {
        unsigned lead = c >= kFirstDoubleByte ? 0x80 + ((c - kFirstDoubleByte) >> 8) : 0;
        char mapped = '?';
        for (const auto& fit : kBestFit) {
            if (c == fit.wide && bestFit)
                mapped = fit.lookAlike;
        }
        if (c < 0x80 || (c < 0x100 && gSim.leadBytes.empty()))
            text += static_cast<char>(c);
        else if (lead != 0 && lead < 0x100 && IsSimLeadByte(static_cast<unsigned char>(lead)))
            text += {static_cast<char>(lead), static_cast<char>(c & 0xFF)};
        else
            text += mapped;
    }
    return text;
}

static std::u16string SimWideDirectory()
{
    return gSim.wideDirectory.empty() ? SimToWide(gSim.currentDirectory) : gSim.wideDirectory;
}

DWORD GetCurrentDirectoryA(DWORD capacity, LPSTR buffer)
{
    // NT converts its Unicode name with best fit.
    std::string folder = gSim.wideDirectory.empty() ? gSim.currentDirectory
                                                    : SimToAnsi(gSim.wideDirectory, true);
    return CopyFolder("GetCurrentDirectoryA", folder, buffer, capacity);
}

DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer)
{
    Log("GetCurrentDirectoryW");
    if (gSim.platformId == VER_PLATFORM_WIN32_WINDOWS) {  // a stub on Windows 95 to Me
        gSim.lastError = ERROR_CALL_NOT_IMPLEMENTED;
        return 0;
    }
    if (Fails("GetCurrentDirectoryW")) {
        gSim.lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    std::u16string folder = SimWideDirectory();
    DWORD length = static_cast<DWORD>(folder.size());
    if (length + 1 > capacity)
        return length + 1;
    std::copy(folder.c_str(), folder.c_str() + length + 1, buffer);
    return length;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR text,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    Log("WideCharToMultiByte " + std::to_string(flags));
    if (Fails("WideCharToMultiByte") || codePage != CP_ACP || wideCount != -1 || defaultChar ||
        usedDefaultChar || (flags & ~WC_NO_BEST_FIT_CHARS) != 0 ||
        (flags != 0 && gSim.refusesNoBestFit)) {
        gSim.lastError = ERROR_INVALID_FLAGS;
        return 0;
    }
    std::string converted = SimToAnsi(wide, flags == 0);
    if (converted.size() + 1 > static_cast<size_t>(capacity)) {
        gSim.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    memcpy(text, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size() + 1);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR wide,
                        int capacity)
{
    Log("MultiByteToWideChar");
    if (Fails("MultiByteToWideChar") || codePage != CP_ACP || flags != 0 || count != -1) {
        gSim.lastError = ERROR_INVALID_FLAGS;
        return 0;
    }
    std::u16string converted = SimToWide(text);
    if (converted.size() + 1 > static_cast<size_t>(capacity)) {
        gSim.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::copy(converted.c_str(), converted.c_str() + converted.size() + 1, wide);
    return static_cast<int>(converted.size() + 1);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT capacity)
{
    return CopyFolder("GetSystemDirectoryA", gSim.systemDirectory, buffer, capacity);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT capacity)
{
    return CopyFolder("GetWindowsDirectoryA", gSim.windowsDirectory, buffer, capacity);
}

BOOL SetCurrentDirectoryA(LPCSTR path)
{
    Log(std::string("SetCurrentDirectoryA ") + path);
    if (Fails("SetCurrentDirectoryA"))
        return FALSE;
    std::string folder = path;
    if (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();  // as the system reports it: a backslash only at a drive's root
    gSim.currentDirectory = folder;
    gSim.wideDirectory.clear();
    return TRUE;
}

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, void*, void*, BOOL inheritHandles,
                    DWORD creationFlags, LPVOID, LPCSTR currentDirectory, STARTUPINFOA* startup,
                    PROCESS_INFORMATION* process)
{
    Log(std::string("CreateProcessA ") + (application ? application : "(null)"));
    SimProcess started = {application ? application : "",
                          commandLine ? commandLine : "(null)",
                          currentDirectory ? currentDirectory : "(null)",
                          gSim.currentDirectory,
                          *startup,
                          inheritHandles != FALSE,
                          creationFlags,
                          false};
    started.started = !Fails("CreateProcessA") && gSim.createProcessError == 0;
    gSim.processes.push_back(started);
    if (!started.started) {
        gSim.lastError = gSim.createProcessError ? gSim.createProcessError : ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    process->hProcess = reinterpret_cast<HANDLE>(uintptr_t{0x70});
    process->hThread = reinterpret_cast<HANDLE>(uintptr_t{0x74});
    return TRUE;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD,
                    DWORD* threadId)
{
    Log("CreateThread");
    if (Fails("CreateThread") || !gSim.threadsCanStart || threadId == nullptr)
        return nullptr;
    *threadId = 0x77;
    gThreads.push_back({routine, parameter});
    return reinterpret_cast<HANDLE>(uintptr_t{0x78});
}

void Sleep(DWORD milliseconds)
{
    gSim.sleeps.push_back(milliseconds);
    Log("Sleep " + std::to_string(milliseconds));
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM extra)
{
    Log("EnumWindows");
    if (Fails("EnumWindows"))
        return FALSE;
    ++gSim.searches;
    for (const auto& window : gSim.windows) {
        if (window.fromSearch <= gSim.searches && !callback(window.handle, extra))
            return FALSE;
    }
    return TRUE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int capacity)
{
    if (capacity > 0)
        buffer[0] = '\0';
    if (Fails("GetWindowTextA") || capacity <= 0)
        return 0;
    for (const auto& window : gSim.windows) {
        if (window.handle != handle)
            continue;
        size_t count = std::min(window.title.size(), static_cast<size_t>(capacity - 1));
        memcpy(buffer, window.title.data(), count);
        buffer[count] = '\0';
        return static_cast<int>(count);
    }
    return 0;
}

// A modal loop without real threads: the dialog is initialised, the messages a test sends
// while the worker is still busy are delivered, then the worker runs to its end and what it
// posted is delivered. A dialog that nothing ends would hang on Windows; here it is logged.
INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam)
{
    Log("DialogBoxParamA " +
                       std::to_string(reinterpret_cast<uintptr_t>(templateName)));
    if (Fails("DialogBoxParamA") || owner != nullptr)
        return -1;
    gSim.dialogShown = true;
    if (Deliver(procedure, WM_INITDIALOG, static_cast<WPARAM>(initParam)))
        return gSim.dialogResult;
    for (const auto& message : gSim.messagesBeforeWorker) {
        if (Deliver(procedure, message.first, message.second))
            return gSim.dialogResult;
    }
    for (const auto& thread : gThreads) {
        gSim.workerRan = true;
        thread.routine(thread.parameter);
    }
    gThreads.clear();
    if (gSim.afterWorker)
        gSim.afterWorker();
    while (!gPosted.empty()) {
        UINT message = gPosted.front();
        gPosted.pop_front();
        if (Deliver(procedure, message, 0))
            return gSim.dialogResult;
    }
    Log("DialogBoxParamA hung");
    return -1;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    Log("EndDialog " + std::to_string(result));
    if (dialog != kDialog)
        return FALSE;
    gSim.dialogEnded = true;
    gSim.dialogResult = result;
    return TRUE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Log("PostMessageA " + std::to_string(message));
    if (window != kDialog || wParam != 0 || lParam != 0)
        return FALSE;
    gPosted.push_back(message);
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    Log("PostQuitMessage " + std::to_string(exitCode));
    gSim.quitPosted = true;
}

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    Log("GetVersionExA " + std::to_string(info->dwOSVersionInfoSize));
    if (Fails("GetVersionExA"))
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
    Log(std::string("ShellExecuteExA ") + (info->lpFile ? info->lpFile : "(null)"));
    gSim.shellStarts.push_back({*info, info->lpFile ? info->lpFile : "(null)",
                                info->lpParameters ? info->lpParameters : "(null)",
                                info->lpDirectory ? info->lpDirectory : "(null)"});
    return !Fails("ShellExecuteExA");
}

// Reached only through GetProcAddress on kernel32.
static BOOL SimSetDefaultDllDirectories(DWORD directoryFlags)
{
    Log("SetDefaultDllDirectories " + std::to_string(directoryFlags));
    gSim.defaultDllDirectories = directoryFlags;
    return TRUE;
}

static const SimModule* FindModuleFile(const std::string& path)
{
    for (const auto& module : gSim.modules) {
        if (SameText(module.path, path))
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

static HMODULE LoadModule(const std::string& name)
{
    const SimModule* module = ResolveModule(name);
    if (!module)
        return nullptr;
    gSim.modulesRead.push_back(module->path);
    ++gSim.loadedModules;
    return reinterpret_cast<HMODULE>(kFirstModuleHandle + 0x10 * (module - gSim.modules.data()));
}

static const SimModule* ModuleOf(HMODULE handle)
{
    uintptr_t offset = reinterpret_cast<uintptr_t>(handle) - kFirstModuleHandle;
    return offset % 0x10 == 0 && offset / 0x10 < gSim.modules.size() ? &gSim.modules[offset / 0x10]
                                                                     : nullptr;
}

static bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && SameText(text.substr(text.size() - end.size()), end);
}

HMODULE LoadLibraryA(LPCSTR fileName)
{
    Log(std::string("LoadLibraryA ") + fileName);
    if (Fails("LoadLibraryA"))
        return nullptr;
    return LoadModule(fileName);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    Log(std::string("GetProcAddress ") + name);
    if (Fails("GetProcAddress"))
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
    Log(std::string("LoadLibraryExA ") + fileName + " " + std::to_string(flags));
    if (Fails("LoadLibraryExA"))
        return nullptr;
    return LoadModule(fileName);
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int capacity)
{
    Log("LoadStringA " + std::to_string(id) + " " + std::to_string(capacity));
    const SimModule* file = ModuleOf(module);
    if (Fails("LoadStringA") || !file || id != 1 || file->string1.empty() || capacity <= 0)
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
    Log(std::string("GetModuleHandleA ") + moduleName);
    if (Fails("GetModuleHandleA") || !SameText(moduleName, "kernel32.dll"))
        return nullptr;
    return kKernel32;
}

LPSTR GetCommandLineA(void)
{
    return &gSim.commandLine[0];
}

void ExitProcess(UINT exitCode)
{
    Log("ExitProcess " + std::to_string(exitCode));
    gSim.exited = true;
    gSim.exitCode = exitCode;
    throw SimProcessEnded{};
}

HANDLE GetCurrentProcess(void)
{
    return kCurrentProcess;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode)
{
    Log(std::string("TerminateProcess ") + (process == kCurrentProcess ? "itself " : "another ") +
        std::to_string(exitCode));
    if (process != kCurrentProcess)
        return FALSE;
    gSim.exited = true;
    gSim.exitCode = exitCode;
    throw SimProcessEnded{};
}

DWORD GetCurrentProcessId(void)
{
    return gSim.processId;
}

DWORD GetCurrentThreadId(void)
{
    return gSim.threadId;
}

DWORD GetTickCount(void)
{
    return gSim.tickCount;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter)
{
    counter->QuadPart = gSim.performanceCounter;
    return TRUE;
}

UINT GetACP(void)
{
    return gSim.codePage;
}

BOOL GetCPInfo(UINT codePage, CPINFO* info)
{
    if (Fails("GetCPInfo") || codePage != gSim.codePage)
        return FALSE;
    memset(info, 0, sizeof(*info));
    info->MaxCharSize = gSim.leadBytes.empty() ? 1 : 2;
    for (size_t i = 0; i < gSim.leadBytes.size() && i < MAX_LEADBYTES - 2; ++i)
        info->LeadByte[i] = gSim.leadBytes[i];
    return TRUE;
}
