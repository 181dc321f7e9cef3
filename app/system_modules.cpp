#include "app/system_modules.h"

#include "app/install_path.h"
#include "app/text.h"

static const char kKernelModule[] = "kernel32.dll";
static const char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);

// Modules that the process loads by name from here on (the system's own, for the splash and
// the shell) come from the system folder, never from the launcher's folder or the current
// directory. Windows 8 and later have the call, and 7 with its 2011 update; elsewhere it is
// missing and the search stays as it was, so it is looked up rather than imported. Not
// SetDllDirectory: children would inherit it, and the installers get Windows' own search.
void KeepDllSearchInSystemFolder()
{
    HMODULE kernel = GetModuleHandleA(kKernelModule);
    if (kernel == NULL)
        return;
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)(void)>(
            GetProcAddress(kernel, kSetDefaultDllDirectories)));
    if (setDefaultDllDirectories != NULL)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The full path of a file in the system or the Windows folder, or false when the folder
// cannot be read or the whole does not fit a path buffer.
bool ComposeSystemFilePath(char* buffer, SystemFolderQuery folderOf, const char* fileName)
{
    UINT length = folderOf(buffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize)
        return false;
    return (EndsInBackslash(buffer) || AppendText(buffer, kPathBufferSize, "\\")) &&
           AppendText(buffer, kPathBufferSize, fileName);
}
