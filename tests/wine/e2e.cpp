// Runs the real launcher under Wine and checks from outside what it did: its exit code, the
// registry afterwards, which stand-in child started, from where, with what command line and
// when; and the 32-bit program's resources as Windows sees them.
//
//   e2e [--wow64 | --code-page-932 | --first-run] <launcher to run> <32-bit launcher.exe>
//       <tools folder> <work drive> <root drive> <picture>
//   e2e --splash-picture <32-bit launcher.exe> <picture>
//   e2e --version-info <launcher.exe>
//
// It is built for the launcher's architecture, so its registry view is the launcher's.
// --wow64: the 32-bit launcher in a 64-bit prefix; the registry views are checked too.
// --code-page-932: only the first run from a folder ending in a double-byte character.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "tests/wine/e2e.h"

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--version-info") == 0)
        return PrintVersionInfo(argv[2]);
    if (argc == 4 && strcmp(argv[1], "--splash-picture") == 0) {  // the demo's picture alone
        gPicture = argv[3];
        HMODULE module = LoadLibraryExA(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (module)
            TheSplashShowsTheLogoCentred(module);
        return module && gFailed == 0 ? 0 : 1;
    }
    bool wow64 = false, codePage932 = false, firstRun = false;
    for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        wow64 |= strcmp(argv[1], "--wow64") == 0;
        codePage932 |= strcmp(argv[1], "--code-page-932") == 0;
        firstRun |= strcmp(argv[1], "--first-run") == 0;
    }
    if (argc != 7) {
        printf("usage: e2e [--wow64 | --code-page-932 | --first-run] <launcher> <launcher32> "
               "<tools\\> <work\\> <root\\> <picture.bmp>\n");
        return 2;
    }
    gLauncher = argv[1];
    gLauncher32 = argv[2];
    gTools = argv[3];
    gWork = argv[4];
    gRoot = argv[5];
    gPicture = argv[6];
    BOOL underWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &underWow64);
    printf("driver: %d-bit%s\n", static_cast<int>(sizeof(void*) * 8),
           underWow64 ? ", under WoW64" : "");
    gCase = "the driver's own architecture";
    CHECK(!underWow64 == !wow64, "under WoW64: %d", underWow64);

    InstallShellModule(gTools + "progman.exe");
    gShellWindow = TopLevelWindow(kShellTitle);  // the shell is up unless a case says not
    if (codePage932 || firstRun) {
        if (codePage932)
            AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator();
        else
            AFirstRunRecordsItsFolder();
        DestroyWindow(gShellWindow);
        printf("%d passed, %d failed\n", gPassed, gFailed);
        return gFailed == 0 ? 0 : 1;
    }

    BothBranchesStartTheirChild();
    TheShellWaitDependsOnTheVersion();
    ADirectXWindowEndsTheDirectXPollEarly();
    AMissingChildStillEndsTheRun();
    AFirstRunRecordsItsFolder();
    AFirstRunStartsNothingFromAFolderItCannotRecord();
    TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon();
    if (wow64)
        UnderWow64EachValueIsInThe32BitView();
    HostileInputs();
    NothingPlantedInItsFoldersLoadsIntoTheLauncher();
    AnOverrunStackEndsTheProcess();

    HMODULE module = LoadLibraryExA(gLauncher32.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    gCase = "32-bit launcher.exe";
    CHECK(module != NULL, "cannot read %s", gLauncher32.c_str());
    if (module) {
        TheResourcesAreAsWindowsSeesThem(module);
        TheSplashShowsTheLogoCentred(module);
        FreeLibrary(module);
    }
    DestroyWindow(gShellWindow);
    printf("timing: the launcher's 100 ms after each start, over %d runs: smallest margin %.1f ms\n",
           gAfterStartRuns, gAfterStartMargin);
    printf("%d passed, %d failed\n", gPassed, gFailed);
    return gFailed == 0 ? 0 : 1;
}
