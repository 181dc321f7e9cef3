#include "app/launches.h"

#include "app/install_path.h"
#include "app/system_modules.h"
#include "app/window_search.h"
#include "platform/win32.h"

const char kDriverInstallerPath[] = "PX_Drivers\\QuaverlineDrivers40.exe";
static const char kDriverFolder[] = "PX_Drivers\\";
static const char kDirectXSetupFolder[] = "DirectX\\9.0\\";
static const char kDirectXSetupPath[] = "DirectX\\9.0\\dxsetup.exe";
const DWORD kAfterLaunchPauseMs = 100;
// What CreateProcessA fails with on Windows Vista and later when the program is taken for an
// installer and the launcher runs without an administrator's rights.
const DWORD kElevationRequired = 740;
static const char kShellLibrary[] = "shell32.dll";
static const char kShellExecuteEx[] = "ShellExecuteExA";

typedef BOOL(WINAPI* ShellExecuteExFunction)(SHELLEXECUTEINFOA* info);

// The child gets an empty command line, not even its own name. CreateProcessA may write to
// the command line, so it is a writable buffer.
static char gEmptyCommandLine[1];

// Starts the program through the shell, which asks for the rights first: the consent
// prompt, or an administrator's password for a standard user. shell32 is loaded only here,
// so a run that never meets the refusal loads nothing new, and by its full path in the
// system folder, so a copy in the launcher's folder is never loaded. It stays loaded: the
// shell may leave threads of its own running in it, and the process ends 100 ms later.
static void StartThroughTheShell(const char* program, const char* folder)
{
    char shellPath[kPathBufferSize];
    if (!ComposeSystemFilePath(shellPath, GetSystemDirectoryA, kShellLibrary))
        return;
    HMODULE shell = LoadLibraryA(shellPath);
    if (shell == NULL)
        return;
    ShellExecuteExFunction shellExecuteEx = reinterpret_cast<ShellExecuteExFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(shell, kShellExecuteEx)));
    if (shellExecuteEx == NULL)
        return;
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof(execute);
    // No message box of the shell's own; and done before it returns, as the process ends soon.
    execute.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    execute.lpFile = program;
    execute.lpParameters = "";
    execute.lpDirectory = folder;
    execute.nShow = SW_SHOWNORMAL;
    shellExecuteEx(&execute);
}

static void LaunchFromInstallPath(const char* installPath, const char* folder, const char* program)
{
    WaitForShell();
    char folderPath[kPathBufferSize];
    char programPath[kPathBufferSize];
    if (!ComposeFromInstallPath(folderPath, installPath, folder) ||
        !ComposeFromInstallPath(programPath, installPath, program))
        return;
    SetCurrentDirectoryA(folderPath);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    // The child's handles are never used: the launcher only starts it. A failure is passed
    // over, but for the one refusal that the shell can answer.
    if (!CreateProcessA(programPath, gEmptyCommandLine, NULL, NULL, FALSE, 0, NULL, folderPath,
                        &startup, &process) &&
        GetLastError() == kElevationRequired)
        StartThroughTheShell(programPath, folderPath);
    Sleep(kAfterLaunchPauseMs);
}

void LaunchDirectXSetup(const char* installPath)
{
    LaunchFromInstallPath(installPath, kDirectXSetupFolder, kDirectXSetupPath);
}

void LaunchDriverInstaller(const char* installPath)
{
    LaunchFromInstallPath(installPath, kDriverFolder, kDriverInstallerPath);
}
