#include "app/launcher.h"

#include "app/directx_probe.h"
#include "app/install_path.h"
#include "app/launcher_state.h"
#include "app/launches.h"
#include "app/text.h"
#include "app/window_search.h"
#include "splash/splash.h"

static const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kRunOnceValue[] = "OV_INSTALLER";
static const char kDirectXSetupTitle[] = "Microsoft(R) DirectX(R)";
const DWORD kArgumentPauseMs = 1;
const DWORD kDriverPollPauseMs = 2;
const DWORD kDirectXPollPauseMs = 1;

// The RunOnce data is a command line run at the next logon: a path with a space goes in
// quotes, or "C:\Program Files\..." would start C:\Program.exe.
static bool ComposeRunOnceCommand(char* command, const char* installPath)
{
    char driverInstaller[kPathBufferSize];
    if (!ComposeFromInstallPath(driverInstaller, installPath, kDriverInstallerPath))
        return false;
    if (!TextHasByte(driverInstaller, ' '))
        return CopyText(command, kPathBufferSize, driverInstaller);
    command[0] = '\0';
    return AppendText(command, kPathBufferSize, "\"") &&
           AppendText(command, kPathBufferSize, driverInstaller) &&
           AppendText(command, kPathBufferSize, "\"");
}

// Registers the driver installer to run at the next logon, after the DirectX setup has
// rebooted the machine. Skipped when the key does not open (a standard user) or when there
// is no full path to register.
static void RegisterDriverInstallerRunOnce(const char* command)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, kRunOnceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                   static_cast<DWORD>(TextLength(command)));
    RegCloseKey(key);
}

static void RunDriverBranch(const char* installPath)
{
    // The fragment is still empty here, so the first titled window ends the poll.
    PollForWindow(kDriverPollPauseMs);
    LaunchDriverInstaller(installPath);
}

static void RunDirectXBranch(const char* installPath)
{
    FoundWindow = NULL;
    char command[kPathBufferSize];
    bool haveCommand = ComposeRunOnceCommand(command, installPath);
    CopyText(TitleFragment, kTitleFragmentSize, kDirectXSetupTitle);
    if (haveCommand)
        RegisterDriverInstallerRunOnce(command);
    PollForWindow(kDirectXPollPauseMs);
    LaunchDirectXSetup(installPath);
}

// A first run takes the record only when it names the folder that the worker made current:
// otherwise the worker could not record this folder, or did not run, and the record is an
// older run's, or another process rewrote it after the worker. An empty install path then
// registers and starts nothing.
static void ReadFirstRunInstallPath(char* installPath)
{
    ReadInstallPath(installPath, kPathBufferSize);
    char currentFolder[kPathBufferSize];
    if (!ReadCurrentFolder(currentFolder) || !TextEquals(currentFolder, installPath))
        installPath[0] = '\0';
}

int LauncherMain(HINSTANCE instance, const char* argumentTail)
{
    // The install path is read once, and the RunOnce record and the launch use this copy:
    // the record is the current user's, and any of the user's programs could change it
    // between two reads of an elevated run.
    char installPath[kPathBufferSize];
    if (TextEquals(argumentTail, "")) {
        RunSplash(instance);
        ReadFirstRunInstallPath(installPath);
    } else {
        ReadInstallPath(installPath, kPathBufferSize);
        if (TextEquals(argumentTail, "1"))
            Sleep(kArgumentPauseMs);
    }

    if (ProbeDirectXVersion() > kDirectXThreshold)
        RunDriverBranch(installPath);
    else
        RunDirectXBranch(installPath);
    return kLauncherExitCode;
}
