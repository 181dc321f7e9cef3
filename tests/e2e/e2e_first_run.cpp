// A first run records its folder and starts its child from there, and from nowhere else.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

void AFirstRunRecordsItsFolder()
{
    struct {
        const char* name;
        std::string folder;
    } cases[] = {{"first run from a folder", gWork + "first\\"},
                 {"first run from a drive's root", gRoot}};
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
    for (const auto& c : cases) {
        gCase = c.name;
        if (c.folder.empty()) {
            SkipRow(c.name, "no drive could be made whose root is a folder of the kit's own");
            continue;
        }
        LayOut(c.folder);
        SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, "C:\\elsewhere\\");
        ChildStart start = RunAndExpectChild(c.folder, "", kDriverChild);
        std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        CHECK(record == c.folder, "record %s", record.c_str());
        CHECK(start.self == c.folder + kDriverChild, "child %s", start.self.c_str());
    }
}

// A first run starts a child only from the folder it recorded, and records only a folder it
// can name exactly. Named in Unicode, a folder whose letters the ANSI code page lacks reads
// through GetCurrentDirectoryA as a look-alike ("Łukasz" as "Lukasz", two fullwidth full
// stops as ".." in code page 1252); a folder that cannot be recorded leaves an older record
// behind; and another program of the user may rewrite the record the moment the worker has
// written it. None of them may start a child, from anywhere.
struct Rewrite {
    HANDLE changed, runOver;
    std::string to;
};

// Ends with 1 once it has rewritten the record, or with 0 when the run was over and the
// record never changed: the worker never wrote it. A change and the run's end together count
// as the change, which came first.
static DWORD WINAPI RewriteRecordOnChange(LPVOID parameter)
{
    Rewrite* rewrite = static_cast<Rewrite*>(parameter);
    HANDLE events[2] = {rewrite->changed, rewrite->runOver};
    if (WaitForMultipleObjects(2, events, FALSE, kRunTimeoutMs + kChildrenTimeoutMs) !=
        WAIT_OBJECT_0)
        return 0;
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, rewrite->to);
    return 1;
}

void AFirstRunStartsNothingFromAFolderItCannotRecord()
{
    const std::string unicode = gWork + "unicode\\", a = unicode + "A\\", b = unicode + "B\\";
    const std::wstring wideUnicode = Widen(unicode);
    struct {
        const char* name;
        std::wstring from;
        const char* version;
        std::string olderRecord, rewrittenTo;  // rewrittenTo empty: nobody rewrites it
        std::vector<std::string> installFolders;  // where a child would be started from
        bool codePage1252;  // its name reads as a look-alike, or not at all, in code page 1252
    } cases[] = {
        {"a first run from \u0141ukasz, a Lukasz beside it", wideUnicode + L"\x0141ukasz\\",
         "4.09.00.0904", "C:\\elsewhere\\", "", {unicode + "Lukasz\\"}, true},
        {"a first run from a folder named with two fullwidth full stops",
         wideUnicode + L"\xFF0E\xFF0E\\", "4.09.00.0904", "C:\\elsewhere\\", "", {gWork, unicode},
         true},
        {"a first run from a folder code page 1252 cannot show, an older record",
         wideUnicode + L"\x4E2D\\", "4.08.00.0400", a, "", {a}, true},
        {"a first run whose record is rewritten once the worker has written it", Widen(a),
         "4.08.00.0400", "C:\\elsewhere\\", b, {a, b}, false},
    };
    for (const auto& c : cases) {
        gCase = c.name;
        if (c.codePage1252 && GetACP() != 1252) {
            SkipRow(c.name, "a name written for code page 1252; this system's ANSI code page is " +
                                std::to_string(GetACP()));
            continue;
        }
        for (const std::string& folder : c.installFolders)
            LayOut(folder);
        CreateDirectoryW(wideUnicode.c_str(), NULL);
        CreateDirectoryW(c.from.c_str(), NULL);
        CopyFileW(Widen(gLauncher).c_str(), (c.from + L"launcher.exe").c_str(), FALSE);
        SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, c.version);
        SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, c.olderRecord);
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);

        // The rewriter waits for the worker's write, as any program of the user could.
        HKEY key = NULL;
        HANDLE changed = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!c.rewrittenTo.empty())
            CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, KEY_NOTIFY, &key) == 0 &&
                      RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed,
                                              TRUE) == 0,
                  "cannot watch the record");
        Rewrite rewrite = {changed, CreateEventA(NULL, TRUE, FALSE, NULL), c.rewrittenTo};
        HANDLE rewriter = key ? CreateThread(NULL, 0, RewriteRecordOnChange, &rewrite, 0, NULL) : NULL;

        Run run = RunLauncherFrom(c.from, "");
        CHECK(run.exitCode == 1, "exit code %lu", run.exitCode);
        if (rewriter) {
            SetEvent(rewrite.runOver);
            DWORD rewrote = 0;
            WaitForSingleObject(rewriter, kRunTimeoutMs);
            GetExitCodeThread(rewriter, &rewrote);
            CHECK(rewrote == 1, "the worker never wrote the record (the rewriter ended with %lu)",
                  rewrote);
            CloseHandle(rewriter);
            RegCloseKey(key);
        }
        CloseHandle(rewrite.runOver);
        CloseHandle(changed);
        for (const std::string& folder : c.installFolders) {
            for (const char* child : {kDriverChild, kSetupChild}) {
                size_t starts = ChildStarts(folder + child).size();
                CHECK(starts == 0, "started %s%s", folder.c_str(), child);
            }
        }
        std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
        const std::string& expected = c.rewrittenTo.empty() ? c.olderRecord : c.rewrittenTo;
        CHECK(record == expected, "record %s", record.c_str());
        std::string runOnce = GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue);
        CHECK(runOnce == "(none)", "RunOnce %s", runOnce.c_str());
    }
}

// Under code page 932 "表" is 0x95 0x5C: a folder whose name ends in it does not end in a
// backslash, and the record must have one after it.
void AFirstRunFromAFolderEndingInATrailByteRecordsItsSeparator()
{
    gCase = "first run from a folder ending in \x95\x5C, code page 932";
    if (!gWineSuite && GetACP() != 932) {
        SkipRow("a folder ending in a trail byte 0x5C", "only a system whose ANSI code page is 932 "
                "shows it; this one's is " + std::to_string(GetACP()));
        return;
    }
    CHECK(GetACP() == 932, "the ANSI code page is %u", GetACP());
    std::string folder = gWork + "Dev\x95\x5C";
    LayOut(folder + "\\");
    SetString(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, "4.09.00.0904");
    SetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue, "C:\\elsewhere\\");
    ChildStart start = RunAndExpectChild(folder + "\\", "", kDriverChild);
    std::string record = GetString(HKEY_CURRENT_USER, kInstallKey, kInstallValue);
    CHECK(record == folder + "\\", "record %s", record.c_str());
    CHECK(start.self == folder + "\\" + kDriverChild, "child %s", start.self.c_str());
    printf("code page %u: a first run from %s recorded %s and started %s\n", GetACP(),
           folder.c_str(), record.c_str(), start.self.c_str());
}
