// What only a Wine suite does to the system, in a prefix of its own that is thrown away
// afterwards; on a real Windows none of it may happen, so each refuses to run elsewhere.
#include <windows.h>
#include <sddl.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "tests/e2e/e2e.h"

static const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\launcher.exe";
static const char kDllOverrides[] = "Software\\Wine\\AppDefaults\\launcher.exe\\DllOverrides";

static void OnlyInAWineSuite(const char* what)
{
    if (gWineSuite && UnderWine())
        return;
    printf("FAIL %s: only a Wine suite may do this, in its own prefix\n", what);
    ExitProcess(2);
}

// The Windows version that Wine reports to launcher.exe, and the shell module that goes with
// it: the tests' own progman.exe in the system and the Windows folder (Wine's has no string
// 1), or none at all, as on Windows Vista to 11.
void WineSetVersion(const char* version, bool progman)
{
    OnlyInAWineSuite("setting the Windows version");
    if (version)
        SetString(HKEY_CURRENT_USER, kAppDefaults, "Version", version);
    else
        DeleteValue(HKEY_CURRENT_USER, kAppDefaults, "Version");
    InstallShellModule(progman ? gTools + "progman.exe" : "");
}

// Wine reads WINEDLLOVERRIDES from a process's Unix environment, not from the one that
// CreateProcess hands down; the per-program key is read by each run.
void WinePreferNativeModule(const char* module, bool prefer)
{
    OnlyInAWineSuite("preferring a native module");
    if (prefer)
        SetString(HKEY_CURRENT_USER, kDllOverrides, module, "native,builtin");
    else
        RegDeleteKeyA(HKEY_CURRENT_USER, kDllOverrides);
}

// wineboot -r is the prefix's restart: it runs the RunOnce commands and deletes them.
void WineRestart()
{
    OnlyInAWineSuite("restarting the prefix");
    char commandLine[] = "wineboot.exe -r";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

// "D:(A;;KR;;;WD)" lets everyone read an HKLM key and nobody write it, as a standard user
// sees HKLM; "D:(A;;KA;;;WD)" gives it back.
void WineSetKeyAccess(const char* key, const char* sddl)
{
    OnlyInAWineSuite("changing a key's security");
    PSECURITY_DESCRIPTOR descriptor = NULL;
    HKEY k;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              NULL))
        return;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, WRITE_DAC, &k) == 0) {
        RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(k);
    }
    LocalFree(descriptor);
    bool readOnly = strstr(sddl, ";KR;") != NULL;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &k);
    if (opened == 0)
        RegCloseKey(k);
    CHECK((opened == ERROR_ACCESS_DENIED) == readOnly, "opening %s for all access gave %ld", key,
          opened);
}
