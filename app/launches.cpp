#include "app/launches.h"

#include "app/install_path.h"
#include "app/window_search.h"
#include "platform/win32.h"

const char kDriverInstallerPath[] = "PX_Drivers\\QuaverlineDrivers40.exe";
static const char kDriverFolder[] = "PX_Drivers\\";
static const char kDirectXSetupFolder[] = "DirectX\\9.0\\";
static const char kDirectXSetupPath[] = "DirectX\\9.0\\dxsetup.exe";
const DWORD kAfterLaunchPauseMs = 100;

// The child gets an empty command line, not even its own name. CreateProcessA may write to
// the command line, so it is a writable buffer.
static char gEmptyCommandLine[1] = "";

void LaunchFromInstallPath(const char* folder, const char* program)
{
    WaitForShell();
    char folderPath[kPathBufferSize];
    char programPath[kPathBufferSize];
    if (!ComposeFromInstallPath(folderPath, folder) ||
        !ComposeFromInstallPath(programPath, program))
        return;
    SetCurrentDirectoryA(folderPath);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process = {};
    // Neither the result nor the child's handles are used: the launcher only starts it.
    CreateProcessA(programPath, gEmptyCommandLine, NULL, NULL, FALSE, 0, NULL, folderPath,
                   &startup, &process);
    Sleep(kAfterLaunchPauseMs);
}

void LaunchDirectXSetup()
{
    LaunchFromInstallPath(kDirectXSetupFolder, kDirectXSetupPath);
}

void LaunchDriverInstaller()
{
    LaunchFromInstallPath(kDriverFolder, kDriverInstallerPath);
}
