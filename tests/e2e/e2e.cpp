// Runs the real launcher and checks from outside what it did: its exit code, the registry
// afterwards, which stand-in child started, from where, with what command line and when; and
// the 32-bit program's resources, version and signature as Windows reads them. The same
// cases run in a Wine suite, which plays every Windows version in a prefix of its own, and in
// the kit, on the system as it is (a real Windows, or Wine left at its defaults).
//
//   e2e --wine [--wow64 | --code-page-932 | --signed] <launcher to run>
//       <32-bit launcher.exe> <tools folder> <work drive> <root drive> <picture>
//   e2e --kit [--yes] <kit's programs folder> <results folder>
//   e2e --case <key> <launcher.exe> <tools folder> <work folder> <root drive or -> <picture>
//   e2e --sandbox <kit folder>
//   e2e --splash-picture <32-bit launcher.exe> <picture>
//   e2e --version-info <launcher.exe>
//
// It is built for the launcher's architecture, so its registry view is the launcher's.
// --wine: a Wine suite (tests/wine/run_e2e.sh); --wow64: the 32-bit launcher in a 64-bit
// prefix; --code-page-932: only the first run from a folder ending in a double-byte
// character; --signed: only the first runs and the signature. --kit: every case, each in a process of its
// own (--case), with a report and the machine put back as it was (e2e_kit.cpp). --sandbox:
// writes the kit's configuration for Windows Sandbox, which names folders by full path.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include "tests/e2e/e2e.h"

const Case kCases[] = {
    {"branches", "both branches start their child", BothBranchesStartTheirChild, true},
    {"shell-wait", "the shell wait, on each Windows version", TheShellWaitDependsOnTheVersion,
     true},
    {"directx-poll", "a DirectX window ends the DirectX poll early",
     ADirectXWindowEndsTheDirectXPollEarly, true},
    {"missing-child", "a missing child still ends the run", AMissingChildStillEndsTheRun, true},
    {"first-run", "a first run records its folder", AFirstRunRecordsItsFolder, true},
    {"unnamed-folders", "a first run starts nothing from a folder it cannot record",
     AFirstRunStartsNothingFromAFolderItCannotRecord, true},
    {"code-page-932", "a first run from a folder ending in a trail byte 0x5C, code page 932",
     AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator, true},
    {"run-once", "the RunOnce record, and the driver installer at the next logon",
     TheRunOnceRecordRunsTheDriverInstallerAtTheNextLogon, true},
    {"wow64", "under WoW64 each value is in the 32-bit view", UnderWow64EachValueIsInThe32BitView,
     true},
    {"hostile", "hostile registries and folders", HostileInputs, true},
    {"planted", "nothing planted in its folders loads into the launcher",
     NothingPlantedInItsFoldersLoadsIntoTheLauncher, true},
    {"stack-cookie", "a stack overrun ends the process at once", AnOverrunStackEndsTheProcess,
     false},
    {"resources", "the resources and the splash as Windows shows them",
     TheResourcesAreAsWindowsSeesThem, false},
    {"version", "the version as Windows reads it", TheVersionIsAsWindowsReadsIt, false},
    {"signature", "Windows trusts launcher.exe's signature", WindowsTrustsTheSignature, false},
};
const size_t kCaseCount = sizeof kCases / sizeof kCases[0];

static const Case* FindCase(const char* key)
{
    for (const Case& c : kCases) {
        if (strcmp(c.key, key) == 0)
            return &c;
    }
    return NULL;
}

static int Tally()
{
    printf("%d passed, %d failed, %d skipped\n", gPassed, gFailed, gSkipped);
    return gFailed > 0 ? 1 : gPassed == 0 && gSkipped > 0 ? 77 : 0;
}

static int Usage()
{
    printf("usage: e2e --wine [--wow64 | --code-page-932 | --signed] <launcher> <launcher32> "
           "<tools\\> <work\\> <root\\> <picture.bmp>\n"
           "       e2e --kit [--yes] <kit's programs\\> <results\\>\n"
           "       e2e --case <key> <launcher> <tools\\> <work\\> <root\\ or -> <picture.bmp>\n"
           "       e2e --sandbox <kit\\>\n");
    return 2;
}

// The kit's own folders may be named in any letters: they are taken as Windows hands them.
static int KitMain()
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return Usage();
    std::vector<std::wstring> words(arguments + 1, arguments + count);
    LocalFree(arguments);
    if (words.size() == 2 && words[0] == L"--sandbox")
        return WriteSandboxConfiguration(words[1]);
    bool yes = words.size() == 4 && words[1] == L"--yes";
    if (words.size() != (yes ? 4u : 3u))
        return Usage();
    return RunKit(words[yes ? 2 : 1], words[yes ? 3 : 2], yes);
}

// The Wine suite's order, each suite's share of it, and the shell's window up unless a case
// says not; under WoW64 the registry views too.
static int WineMain(int argc, char** argv)
{
    if (!UnderWine()) {
        printf("--wine plays Windows versions and changes the security of system keys: it runs "
               "only in a Wine prefix of its own\n");
        return 2;
    }
    gWineSuite = true;
    bool wow64 = false, codePage932 = false, signed_ = false;
    for (; argc > 1 && strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        wow64 |= strcmp(argv[1], "--wow64") == 0;
        codePage932 |= strcmp(argv[1], "--code-page-932") == 0;
        signed_ |= strcmp(argv[1], "--signed") == 0;
    }
    if (argc != 7)
        return Usage();
    gLauncher = argv[1];
    gLauncher32 = argv[2];
    gTools = argv[3];
    gWork = argv[4];
    gRoot = argv[5];
    gPicture = argv[6];
    gStackSmash = gLauncher.substr(0, gLauncher.find_last_of("\\/") + 1) + "stack_smash.exe";
    printf("driver: %d-bit%s\n", static_cast<int>(sizeof(void*) * 8),
           UnderWow64() ? ", under WoW64" : "");
    gCase = "the driver's own architecture";
    CHECK(UnderWow64() == wow64, "under WoW64: %d", UnderWow64());
    UseWindowsVersion(NULL);
    if (codePage932) {
        AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator();
        return Tally();
    }
    if (signed_) {
        AFirstRunRecordsItsFolder();
        WindowsTrustsTheSignature();
        return Tally();
    }
    for (const Case& c : kCases) {
        if (strcmp(c.key, "code-page-932") != 0)
            c.run();
    }
    printf("timing: the launcher's 100 ms after each start, over %d runs: smallest margin %.1f ms\n",
           gAfterStartRuns, gAfterStartMargin);
    return Tally();
}

// One case of the kit, in a process of its own: its lines, then its tally; exit 0 passed,
// 1 failed, 77 every row skipped.
static int CaseMain(int argc, char** argv)
{
    const Case* c = argc == 8 ? FindCase(argv[2]) : NULL;
    if (!c)
        return Usage();
    gLauncher = gLauncher32 = argv[3];
    gTools = argv[4];
    gStackSmash = gTools + "stack_smash.exe";
    gWork = argv[5];
    gRoot = strcmp(argv[6], "-") == 0 ? "" : argv[6];
    gPicture = argv[7];
    std::string why = UseWindowsVersion(NULL);
    if (!why.empty() && c->changesTheSystem) {
        SkipRow(c->title, why);
        return Tally();
    }
    c->run();
    if (gAfterStartRuns > 0)
        printf("timing: the launcher's 100 ms after each start, over %d runs: smallest margin "
               "%.1f ms\n", gAfterStartRuns, gAfterStartMargin);
    return Tally();
}

int main(int argc, char** argv)
{
    // Where this driver runs elevated from a folder others may write, the modules it loads by
    // name (version.dll, wintrust.dll and theirs) come from the system folder alone.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    if (auto restrict = CallOf<SetDefaultDllDirectoriesFunction>("kernel32.dll",
                                                                 "SetDefaultDllDirectories"))
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    setvbuf(stdout, NULL, _IONBF, 0);  // a case's lines reach its log before any crash
    if (argc == 3 && strcmp(argv[1], "--version-info") == 0)
        return PrintVersionInfo(argv[2]);
    if (argc == 4 && strcmp(argv[1], "--splash-picture") == 0) {  // the demo's picture alone
        gPicture = argv[3];
        HMODULE module = LoadLibraryExA(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (module)
            TheSplashShowsTheLogoCentred(module);
        return module && gFailed == 0 ? 0 : 1;
    }
    if (argc >= 2 && strcmp(argv[1], "--wine") == 0)
        return WineMain(argc - 1, argv + 1);
    if (argc >= 2 && strcmp(argv[1], "--case") == 0)
        return CaseMain(argc, argv);
    if (argc >= 2 && (strcmp(argv[1], "--kit") == 0 || strcmp(argv[1], "--sandbox") == 0))
        return KitMain();
    return Usage();
}
