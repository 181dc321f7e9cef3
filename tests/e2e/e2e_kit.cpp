// The kit: every case on the system as it is, each in a process of its own with a time limit,
// a report for people (report.txt) and for CI (report.xml, JUnit), and the machine put back
// as it was. Before its first change it writes a journal of every value it will touch,
// present or absent, type and bytes, and of the folder and drive it makes; it puts them back
// at its end, after a failure, on Ctrl+C or a closed window, and at its next start when a run
// was cut short. Its exit status is the number of failed cases.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/e2e.h"

static const DWORD kCaseTimeLimitMs = 600000;  // winetest allows 120 s; the shell wait takes more
static const UINT kInterrupted = 0xC000013A;   // what Windows ends a process with on Ctrl+C
static const int kNotRun = 255;                 // the exit status when no case could run
static const wchar_t kWorkName[] = L"launcher-kit-work";

// ---- text ---------------------------------------------------------------------------------

static std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return "";
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, NULL, NULL);
    out.resize(strlen(out.c_str()));
    return out;
}

static std::wstring FromCodePage(UINT codePage, const std::string& text)
{
    if (text.empty())
        return L"";
    int length = MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0);
    std::wstring out(length, L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

// The ANSI form of a path, or "" where the ANSI code page cannot name it exactly.
static std::string ExactAnsi(const std::wstring& path)
{
    BOOL lossy = FALSE;
    char ansi[MAX_PATH];
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, ansi,
                                     MAX_PATH, NULL, &lossy);
    return length > 0 && !lossy && FromCodePage(CP_ACP, ansi) == path ? ansi : "";
}

static std::string Hex(const BYTE* bytes, size_t count)
{
    std::string hex;
    for (size_t i = 0; i < count; ++i) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

static std::string Unhex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), NULL, 16));
    return bytes;
}

static std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
        fields.push_back(line.substr(at, tab - at));
    fields.push_back(line.substr(at));
    return fields;
}

// ---- files: each written whole into a file of its own, then put in place, or not at all ----

static bool WriteWhole(const std::wstring& path, const std::string& bytes)
{
    std::wstring partial = path + L".partial";
    DeleteFileW(partial.c_str());
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
                 written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    whole = whole && MoveFileExW(partial.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!whole)
        DeleteFileW(partial.c_str());
    return whole;
}

static bool ReadWhole(const std::wstring& path, std::string* bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char block[4096];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof block, &read, NULL) && read > 0)
        bytes->append(block, read);
    CloseHandle(file);
    return true;
}

// A folder and all it holds; paths past MAX_PATH too (the hostile case makes some).
static void RemoveFolder(const std::wstring& folder)
{
    std::wstring long_ = folder.compare(0, 4, L"\\\\?\\") == 0 ? folder : L"\\\\?\\" + folder;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((long_ + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = long_ + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            RemoveFolder(path);
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path.c_str());
        else
            DeleteFileW(path.c_str());
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    RemoveDirectoryW(long_.c_str());
}

// ---- what the kit touches, and the journal that puts it back ------------------------------

// Every registry value a case may change, in each view this system has, and the outermost
// key the run may make for it; nothing else is ever put back, whatever a journal says.
// WinVerifyTrust may make its user's settings where there were none (Wine does).
struct Touched {
    HKEY root;
    const char* rootName;
    const char* key;
    const char* value;
    const char* mayMake;
};
static const char kTrustProvider[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WinTrust\\Trust Providers\\Software Publishing";
static const Touched kTouched[] = {
    {HKEY_LOCAL_MACHINE, "HKLM", kDirectXKey, kDirectXValue, kDirectXKey},
    {HKEY_LOCAL_MACHINE, "HKLM", kRunOnceKey, kRunOnceValue, kRunOnceKey},
    {HKEY_CURRENT_USER, "HKCU", kInstallKey, kInstallValue, kInstallKey},
    {HKEY_CURRENT_USER, "HKCU", kTrustProvider, "State",
     "Software\\Microsoft\\Windows\\CurrentVersion\\WinTrust"},
};

static std::vector<REGSAM> Views()
{
    return UnderWow64() ? std::vector<REGSAM>{KEY_WOW64_32KEY, KEY_WOW64_64KEY} : std::vector<REGSAM>{0};
}

static const Touched* FindTouched(const std::string& root, const std::string& key,
                                  const std::string& value)
{
    for (const Touched& t : kTouched) {
        if (root == t.rootName && key == t.key && value == t.value)
            return &t;
    }
    return NULL;
}

static bool KnownView(REGSAM view)
{
    for (REGSAM known : Views()) {
        if (view == known)
            return true;
    }
    return false;
}

// "value <root> <view> <key> <name> absent", or "... <type> <bytes in hex>"; where its key is
// not there, "key <root> <view> <key> <name> <the outermost key missing on its path>".
static std::string SaveValue(const Touched& t, REGSAM view)
{
    char head[512];
    snprintf(head, sizeof head, "\t%s\t%lu\t%s\t%s\t", t.rootName,
             static_cast<unsigned long>(view), t.key, t.value);
    if (!KeyExists(t.root, t.key, view)) {
        std::string missing = t.key;
        for (size_t cut; (cut = missing.rfind('\\')) != std::string::npos &&
                         !KeyExists(t.root, missing.substr(0, cut), view);)
            missing.resize(cut);
        return "key" + std::string(head) + missing + "\n";
    }
    HKEY key;
    static BYTE data[65536];
    DWORD type = 0, size = sizeof data;
    LONG read = RegOpenKeyExA(t.root, t.key, 0, KEY_QUERY_VALUE | view, &key);
    if (read == 0) {
        read = RegQueryValueExA(key, t.value, NULL, &type, data, &size);
        RegCloseKey(key);
    }
    if (read != 0)
        return "value" + std::string(head) + "absent\n";
    return "value" + std::string(head) + std::to_string(type) + "\t" + Hex(data, size) + "\n";
}

// A key and everything in it: all of it made by the run, since the key was not there before.
static void DeleteKeyTree(HKEY root, const std::string& key, REGSAM view)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, &k) == 0) {
        char name[256];
        for (DWORD size = sizeof name; RegEnumKeyExA(k, 0, name, &size, NULL, NULL, NULL, NULL) == 0;
             size = sizeof name) {
            std::string sub = key + "\\" + name;
            if (!KeyExists(root, sub, view))
                break;
            DeleteKeyTree(root, sub, view);
            if (KeyExists(root, sub, view))
                break;  // it would not go: no endless loop over it
        }
        RegCloseKey(k);
    }
    typedef LONG(WINAPI * DeleteKeyExFunction)(HKEY, LPCSTR, REGSAM, DWORD);
    auto deleteKeyEx = CallOf<DeleteKeyExFunction>("advapi32.dll", "RegDeleteKeyExA");
    if (deleteKeyEx && view != 0)
        deleteKeyEx(root, key.c_str(), view, 0);
    else
        RegDeleteKeyA(root, key.c_str());
}

// Whether `outer` is `key` or a key on its path.
static bool OnPath(const std::string& outer, const std::string& key)
{
    return key.compare(0, outer.size(), outer) == 0 &&
           (key.size() == outer.size() || key[outer.size()] == '\\');
}

// One line of a journal put back: a value as it was, a key that was not there, the work
// folder, the drive. A line that names anything else is passed over.
static void PutBackLine(const std::string& line)
{
    std::vector<std::string> f = Fields(line);
    if ((f[0] == "value" || f[0] == "key") && (f.size() == 6 || f.size() == 7)) {
        const Touched* t = FindTouched(f[1], f[3], f[4]);
        REGSAM view = static_cast<REGSAM>(strtoul(f[2].c_str(), NULL, 10));
        if (!t || !KnownView(view))
            return;
        if (f[0] == "key" && OnPath(t->mayMake, f[5]) && OnPath(f[5], t->key))
            DeleteKeyTree(t->root, f[5], view);
        else if (f[0] == "value" && f[5] == "absent")
            DeleteValue(t->root, t->key, t->value, view);
        else if (f[0] == "value" && f.size() == 7)
            SetValue(t->root, t->key, t->value, strtoul(f[5].c_str(), NULL, 10), Unhex(f[6]),
                     view);
    } else if (f[0] == "folder" && f.size() == 2) {
        std::wstring folder = FromCodePage(CP_UTF8, f[1]);
        size_t name = folder.find_last_of(L'\\');
        if (name != std::wstring::npos && folder.substr(name + 1) == kWorkName)
            RemoveFolder(folder);
    } else if (f[0] == "drive" && f.size() == 3 && f[1].size() == 2 && f[1][1] == ':') {
        DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                         FromCodePage(CP_UTF8, f[1]).c_str(), FromCodePage(CP_UTF8, f[2]).c_str());
    }
}

static std::wstring gJournal;
static volatile LONG gPutBack;

// Puts back what the journal holds, once however many ask (the run's end, Ctrl+C, a closed
// window), and removes the journal; false when there was none.
static bool PutBack()
{
    std::string journal;
    if (InterlockedExchange(&gPutBack, 1) != 0 || !ReadWhole(gJournal, &journal))
        return false;
    size_t at = 0;
    for (size_t end; (end = journal.find('\n', at)) != std::string::npos; at = end + 1)
        PutBackLine(journal.substr(at, end - at));
    DeleteFileW(gJournal.c_str());
    return true;
}

// ---- the folders, the drive and the programs ------------------------------------------------

struct Places {
    std::wstring work;      // no trailing backslash
    std::string workAnsi;   // with one
    std::string root;       // "X:\" or "" where no drive could be made
    std::wstring drive, driveTarget;
};

// A folder of the kit's own whose whole path the ANSI code page names exactly, as the
// launcher must see it: in the temporary folder, or else at the system drive's root.
static std::wstring WorkFolder()
{
    wchar_t temp[MAX_PATH], full[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length > 0 && length < MAX_PATH && GetLongPathNameW(temp, full, MAX_PATH) > 0) {
        std::wstring folder = std::wstring(full) + kWorkName;
        if (!ExactAnsi(folder).empty() && folder.size() < 120)
            return folder;
    }
    wchar_t windows[MAX_PATH] = L"C:\\";
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, 3) + kWorkName;
}

// A drive whose root is a folder of the kit's, for a first run from a drive's root: the
// highest free letter. It is there only where its root can be read.
static void MakeDrive(Places* places)
{
    DWORD used = GetLogicalDrives();
    std::wstring target = places->work + L"\\root";
    CreateDirectoryW(target.c_str(), NULL);
    for (wchar_t letter = L'Z'; letter >= L'K'; --letter) {
        if (used & (1u << (letter - L'A')))
            continue;
        std::wstring drive = std::wstring(1, letter) + L":";
        wchar_t device[MAX_PATH + 8];
        swprintf(device, MAX_PATH + 8, L"\\??\\%ls", target.c_str());
        if (!DefineDosDeviceW(DDD_RAW_TARGET_PATH, drive.c_str(), device))
            return;
        places->drive = drive;
        places->driveTarget = device;
        if (GetFileAttributesW((drive + L"\\").c_str()) != INVALID_FILE_ATTRIBUTES)
            places->root = Utf8(drive) + "\\";
        return;
    }
}

static const wchar_t* const kPrograms[] = {L"launcher.exe", L"e2e.exe", L"standin.exe",
                                           L"planted.dll", L"planted_progman.exe",
                                           L"stack_smash.exe", L"starter.exe"};

// ---- the system, for the report's first lines -----------------------------------------------

static std::string RegistryText(const char* key, const char* name, REGSAM view)
{
    HKEY k;
    char data[256] = "";
    DWORD type = 0, size = sizeof data - 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &k) != 0)
        return "";
    LONG read = RegQueryValueExA(k, name, NULL, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (read != 0)
        return "";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return std::string(data, strnlen(data, size));
}

static std::string Sha256(const std::wstring& path)
{
    std::string bytes;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD size = sizeof digest;
    bool done = ReadWhole(path, &bytes) &&
                CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
                CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return done ? Hex(digest, size) + ", " + std::to_string(bytes.size()) + " bytes" : "unreadable";
}

struct Token {
    bool administrator, elevated, limited;
};

static Token ThisToken()
{
    Token token = {false, false, false};
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    BOOL member = FALSE;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                 0, 0, 0, 0, 0, &administrators)) {
        CheckTokenMembership(NULL, administrators, &member);
        FreeSid(administrators);
    }
    token.administrator = member != FALSE;
    HANDLE own;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
        TOKEN_ELEVATION elevation = {};
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        // Windows before Vista knows neither: an administrator there has every right.
        if (GetTokenInformation(own, TokenElevation, &elevation, sizeof elevation, &size))
            token.elevated = elevation.TokenIsElevated != 0;
        else
            token.elevated = token.administrator;
        if (GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size))
            token.limited = type == TokenElevationTypeLimited;
        CloseHandle(own);
    }
    return token;
}

static bool MayChangeHKLM()
{
    for (REGSAM view : Views()) {
        for (const char* name : {kDirectXKey, kRunOnceKey}) {
            HKEY key;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_SET_VALUE | view, &key) != 0)
                return false;
            RegCloseKey(key);
        }
    }
    return true;
}

static std::string UserName()
{
    char name[256] = "";
    DWORD size = sizeof name - 1;
    GetEnvironmentVariableA("USERNAME", name, size);
    return name;
}

typedef std::vector<std::pair<std::string, std::string>> Lines;

static Lines Environment(const Places& places, const std::wstring& kit, const std::wstring& results)
{
    Lines lines;
    const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    REGSAM view = UnderWow64() ? KEY_WOW64_64KEY : 0;
    OSVERSIONINFOEXW version = SystemVersion();
    std::string release = RegistryText(kCurrentVersion, "DisplayVersion", view);
    if (release.empty())
        release = RegistryText(kCurrentVersion, "CSDVersion", view);
    std::string ubr = RegistryText(kCurrentVersion, "UBR", view);
    char numbers[96];
    snprintf(numbers, sizeof numbers, "%lu.%lu.%lu%s%s", version.dwMajorVersion,
             version.dwMinorVersion, version.dwBuildNumber, ubr.empty() ? "" : ".", ubr.c_str());
    std::string product = RegistryText(kCurrentVersion, "ProductName", view);
    lines.push_back({"system", product + (release.empty() ? "" : " " + release) + ", " + numbers +
                                   " (as the system reports itself, not a program's "
                                   "compatibility view)"});
    lines.push_back({"under Wine", UnderWine() ? std::string("yes, Wine ") + WineVersion() +
                                                     ": not a real Windows"
                                               : "no"});
    lines.push_back({"architecture", UnderWow64() ? "64-bit Windows; the kit's 32-bit programs under "
                                               "WoW64"
                                             : "32-bit Windows (or the kit's programs are "
                                               "native to it)"});
    Token token = ThisToken();
    lines.push_back({"account", UserName() + (token.administrator ? ", an administrator"
                                                                  : ", not an administrator") +
                                    (token.elevated ? ", elevated" : ", not elevated") +
                                    (token.limited ? " (User Account Control: a limited token)"
                                                   : "")});
    lines.push_back({"Windows Sandbox", UserName() == "WDAGUtilityAccount" ? "yes" : "no"});
    lines.push_back({"code pages", "ANSI " + std::to_string(GetACP()) + ", OEM " +
                                       std::to_string(GetOEMCP())});
    std::wstring launcher = kit + L"\\programs\\launcher.exe";
    lines.push_back({"launcher.exe", "SHA-256 " + Sha256(launcher)});
    std::string signer;
    long trust = VerifySignature(launcher, &signer);
    char verdict[160];
    snprintf(verdict, sizeof verdict, "%s (WinVerifyTrust 0x%08lX%s)",
             trust == static_cast<long>(TRUST_E_NOSIGNATURE) ? "not signed"
                                                             : ("signed by \"" + signer + "\"").c_str(),
             static_cast<unsigned long>(trust), trust == 0 ? ", trusted" : "");
    lines.push_back({"signature", verdict});
    time_t now = time(NULL);
    char stamp[64];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S UTC", gmtime(&now));
    lines.push_back({"started", stamp});
    lines.push_back({"kit", Utf8(kit)});
    lines.push_back({"results", Utf8(results)});
    lines.push_back({"work folder", Utf8(places.work) + (places.root.empty()
                                                             ? "; no drive of the kit's own"
                                                             : "; drive " + places.root +
                                                                   " is its root folder")});
    return lines;
}

// ---- running the cases -------------------------------------------------------------------

struct Outcome {
    const Case* c;
    enum { kPassed, kFailed, kSkipped } result;
    std::string log, message;  // the case's lines; the skip's reason or the first failure
    double seconds;
};

static CRITICAL_SECTION gWorkerLock;
static HANDLE gWorker;
static volatile LONG gInterruptedRun;

static BOOL WINAPI OnConsoleEvent(DWORD event)
{
    InterlockedExchange(&gInterruptedRun, 1);
    EnterCriticalSection(&gWorkerLock);
    if (gWorker)
        TerminateProcess(gWorker, kInterrupted);
    LeaveCriticalSection(&gWorkerLock);
    // A closed window ends this process when the handler returns: put everything back first.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        PutBack();
    return TRUE;
}

static std::string Quoted(const std::string& text)
{
    size_t backslashes = text.size() - (text.find_last_not_of('\\') + 1);
    return "\"" + text + std::string(backslashes, '\\') + "\"";
}

static Outcome RunCase(const Case& c, const Places& places, const std::wstring& log, bool mayChange)
{
    Outcome outcome = {&c, Outcome::kSkipped, "", "", 0};
    if (c.changesTheSystem && !mayChange) {
        outcome.message = "it changes values in HKLM, which this run may not: run the kit as an "
                          "administrator, and allow it to make changes when Windows asks";
        outcome.log = "skipped: " + outcome.message + "\n";
        return outcome;
    }
    std::string tools = places.workAnsi + "tools\\";
    std::string command = Quoted(tools + "e2e.exe") + " --case " + c.key + " " +
                          Quoted(tools + "launcher.exe") + " " + Quoted(tools) + " " +
                          Quoted(places.workAnsi + "cases\\") + " " +
                          (places.root.empty() ? std::string("-") : Quoted(places.root)) + " " +
                          Quoted(places.workAnsi + "splash.bmp");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    DWORD started = GetTickCount(), exitCode = 0xDEADBEEF;
    std::string folder = places.workAnsi + "cases";
    BOOL ran = output != INVALID_HANDLE_VALUE &&
               CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, folder.c_str(),
                              &startup, &process);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (ran) {
        EnterCriticalSection(&gWorkerLock);
        gWorker = process.hProcess;
        LeaveCriticalSection(&gWorkerLock);
        if (WaitForSingleObject(process.hProcess, kCaseTimeLimitMs) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, WAIT_TIMEOUT);
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
        EnterCriticalSection(&gWorkerLock);
        gWorker = NULL;
        LeaveCriticalSection(&gWorkerLock);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    outcome.seconds = (GetTickCount() - started) / 1000.0;
    std::string bytes;
    ReadWhole(log, &bytes);
    outcome.log = Utf8(FromCodePage(CP_ACP, bytes));
    size_t failure = outcome.log.find("FAIL "), skip = outcome.log.find("skipped: ");
    auto lineAt = [&](size_t at) { return outcome.log.substr(at, outcome.log.find('\n', at) - at); };
    char why[160];
    if (!ran) {
        snprintf(why, sizeof why, "the case's process could not start (error %lu)", GetLastError());
        outcome.result = Outcome::kFailed;
        outcome.message = why;
    } else if (exitCode == 0) {
        outcome.result = Outcome::kPassed;
    } else if (exitCode == 77) {
        outcome.message = skip != std::string::npos ? lineAt(skip + 9) : "every row skipped";
    } else {
        outcome.result = Outcome::kFailed;
        if (exitCode == 1 && failure != std::string::npos)
            outcome.message = lineAt(failure);
        else if (exitCode == WAIT_TIMEOUT)
            snprintf(why, sizeof why, "it did not end within %lu s", kCaseTimeLimitMs / 1000);
        else if (exitCode == kInterrupted)
            snprintf(why, sizeof why, "the run was interrupted during it");
        else
            snprintf(why, sizeof why, "it ended with exit code 0x%08lX", exitCode);
        if (outcome.message.empty())
            outcome.message = why;
    }
    return outcome;
}

// ---- the report ----------------------------------------------------------------------------

// Text for XML: the five escapes, and none of the characters that XML 1.0 does not allow.
static std::string Xml(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else if (c >= 0x20 || c == '\t' || c == '\n')
            out += static_cast<char>(c);
    }
    return out;
}

static const char* const kResultNames[] = {"passed", "FAILED", "skipped"};

static void Report(const std::wstring& results, const Lines& environment,
                   const std::vector<Outcome>& outcomes, int failed, double seconds)
{
    int skipped = 0;
    for (const Outcome& o : outcomes)
        skipped += o.result == Outcome::kSkipped;
    std::string text = "The launcher kit's report\r\n\r\n", xml, cases;
    for (const auto& line : environment) {
        text += line.first + ": " + std::string(16 - std::min<size_t>(15, line.first.size()), ' ') +
                line.second + "\r\n";
        xml += "    <property name=\"" + Xml(line.first) + "\" value=\"" + Xml(line.second) + "\"/>\n";
    }
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        char head[256];
        snprintf(head, sizeof head, "\r\ncase %zu of %zu, %s: %s (%.1f s)%s", i + 1, outcomes.size(),
                 o.c->title, kResultNames[o.result], o.seconds,
                 o.message.empty() ? "" : ": ");
        text += head + o.message + "\r\n";
        size_t at = 0;
        for (size_t end; (end = o.log.find('\n', at)) != std::string::npos; at = end + 1) {
            std::string line = o.log.substr(at, end - at);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            text += "    " + line + "\r\n";
        }
        char time[32];
        snprintf(time, sizeof time, "%.3f", o.seconds);
        cases += "    <testcase classname=\"launcher kit\" name=\"" + Xml(o.c->title) +
                 "\" time=\"" + time + "\">\n";
        if (o.result == Outcome::kSkipped)
            cases += "      <skipped message=\"" + Xml(o.message) + "\"/>\n";
        if (o.result == Outcome::kFailed)
            cases += "      <failure message=\"" + Xml(o.message) + "\">" + Xml(o.log) +
                     "</failure>\n";
        cases += "      <system-out>" + Xml(o.log) + "</system-out>\n    </testcase>\n";
    }
    char tally[256];
    snprintf(tally, sizeof tally, "\r\n%zu cases: %zu passed, %d failed, %d skipped, in %.0f s; "
             "exit status %d\r\n", outcomes.size(), outcomes.size() - failed - skipped, failed,
             skipped, seconds, failed);
    text += tally;
    char suite[256];
    snprintf(suite, sizeof suite, "  <testsuite name=\"launcher kit\" tests=\"%zu\" failures=\"%d\" "
             "errors=\"0\" skipped=\"%d\" time=\"%.3f\">\n", outcomes.size(), failed, skipped,
             seconds);
    WriteWhole(results + L"\\report.txt", text);
    WriteWhole(results + L"\\report.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<testsuites>\n" + std::string(suite) +
                                          "    <properties>\n" + xml + "    </properties>\n" +
                                          cases + "  </testsuite>\n</testsuites>\n");
    printf("%s", tally + 2);
}

// ---- the whole run --------------------------------------------------------------------------

static bool AskFirst(const Places& places)
{
    printf("The kit runs launcher.exe some 60 times on this Windows. Before it changes "
           "anything it saves, in the results folder's journal.txt, and at its end puts back:\n");
    for (const Touched& t : kTouched)
        printf("  %s\\%s \"%s\"%s\n", t.rootName, t.key, t.value,
               UnderWow64() && t.root == HKEY_LOCAL_MACHINE ? " (32- and 64-bit views)" : "");
    printf("and it makes the folder %ls%s, removed at its end.\n", places.work.c_str(),
           places.root.empty() ? "" : " and a drive letter for it");
    printf("Go on? Type y and Enter: ");
    char answer[16] = "";
    return fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
}

// Where this run may not change HKLM and Windows would give it the rights on asking (an
// administrator under User Account Control), it asks, and the elevated run does the work.
static bool RunElevated(const std::wstring& kit, const std::wstring& results, bool yes, int* status)
{
    if (MayChangeHKLM() || !ThisToken().limited)
        return false;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring parameters = std::wstring(L"--kit ") + (yes ? L"--yes " : L"") + L"\"" + kit +
                              L"\" \"" + results + L"\"";
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = self;
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        printf("Windows did not give the kit the rights it asked for: it runs without them, "
               "and skips every case that changes HKLM.\n");
        return false;
    }
    printf("The kit runs elevated, in a window of its own; this one waits for it.\n");
    DWORD code = kNotRun;
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    printf("The elevated run ended: exit status %lu (failed cases); its report is in %ls\n", code,
           results.c_str());
    *status = static_cast<int>(code);
    return true;
}

int RunKit(const std::wstring& kitGiven, const std::wstring& resultsGiven, bool yes)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // no crash dialog waits
    wchar_t full[MAX_PATH];
    std::wstring kit = GetFullPathNameW(kitGiven.c_str(), MAX_PATH, full, NULL) ? full : kitGiven;
    CreateDirectoryW(resultsGiven.c_str(), NULL);
    std::wstring results =
        GetFullPathNameW(resultsGiven.c_str(), MAX_PATH, full, NULL) ? full : resultsGiven;
    for (std::wstring* folder : {&kit, &results}) {
        while (folder->size() > 3 && (folder->back() == L'\\' || folder->back() == L'.'))
            folder->pop_back();
    }
    DWORD attributes = GetFileAttributesW(results.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        printf("The results folder %ls is not a folder of its own here: nothing was run.\n",
               results.c_str());
        return kNotRun;
    }
    gJournal = results + L"\\journal.txt";
    InitializeCriticalSection(&gWorkerLock);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (PutBack())
        printf("An earlier run was cut short: what it changed is put back as it was (%ls).\n",
               gJournal.c_str());
    gPutBack = 0;
    int status = kNotRun;
    if (RunElevated(kit, results, yes, &status))
        return status;

    Places places;
    places.work = WorkFolder();
    places.workAnsi = ExactAnsi(places.work) + "\\";
    bool mayChange = MayChangeHKLM();
    if (!yes && !AskFirst(places)) {
        printf("Nothing was changed, and no case was run.\n");
        return kNotRun;
    }
    // The journal, whole, before the first change.
    std::string journal = "# the launcher kit's journal: what it changed, as it was; put back at "
                          "its end, or at its next start\n";
    for (const Touched& t : kTouched) {
        for (REGSAM view : Views())
            journal += SaveValue(t, view);
    }
    RemoveFolder(places.work);
    journal += "folder\t" + Utf8(places.work) + "\n";
    if (!WriteWhole(gJournal, journal)) {
        printf("The journal %ls could not be written: nothing was changed.\n", gJournal.c_str());
        return kNotRun;
    }
    CreateDirectoryW(places.work.c_str(), NULL);
    CreateDirectoryW((places.work + L"\\tools").c_str(), NULL);
    CreateDirectoryW((places.work + L"\\cases").c_str(), NULL);
    MakeDrive(&places);
    if (!places.drive.empty()) {
        journal += "drive\t" + Utf8(places.drive) + "\t" + Utf8(places.driveTarget) + "\n";
        WriteWhole(gJournal, journal);
    }
    for (const wchar_t* program : kPrograms)
        CopyFileW((kit + L"\\programs\\" + program).c_str(),
                  (places.work + L"\\tools\\" + program).c_str(), FALSE);

    Lines environment = Environment(places, kit, results);
    for (const auto& line : environment)
        printf("%s: %s\n", line.first.c_str(), line.second.c_str());
    DWORD started = GetTickCount();
    std::vector<Outcome> outcomes;
    int failed = 0;
    for (size_t i = 0; i < kCaseCount; ++i) {
        const Case& c = kCases[i];
        Outcome outcome;
        if (gInterruptedRun) {
            outcome = {&c, Outcome::kFailed, "", "not run: the run was interrupted", 0};
        } else {
            printf("case %zu of %zu, %s: ", i + 1, kCaseCount, c.title);
            wchar_t log[32];
            swprintf(log, 32, L"\\case-%02u.log", static_cast<unsigned>(i + 1));
            outcome = RunCase(c, places, results + log, mayChange);
            printf("%s (%.1f s)%s%s\n", kResultNames[outcome.result], outcome.seconds,
                   outcome.message.empty() ? "" : ": ", outcome.message.c_str());
        }
        failed += outcome.result == Outcome::kFailed;
        outcomes.push_back(outcome);
    }
    CopyFileW((places.work + L"\\splash.bmp").c_str(), (results + L"\\splash.bmp").c_str(), FALSE);
    PutBack();
    printf("Everything the kit changed is put back as it was.\n");
    Report(results, environment, outcomes, failed, (GetTickCount() - started) / 1000.0);
    printf("The report: %ls\\report.txt (and report.xml)\n", results.c_str());
    return failed;
}

// Windows Sandbox names a folder it maps by its full path, known only where the kit was
// unzipped: this writes the configuration there, maps the kit read-only and its results
// folder writable, runs run.cmd at logon, and starts it.
int WriteSandboxConfiguration(const std::wstring& kitGiven)
{
    wchar_t full[MAX_PATH];
    if (!GetFullPathNameW(kitGiven.c_str(), MAX_PATH, full, NULL))
        return 2;
    std::wstring kit = full;
    while (kit.size() > 3 && (kit.back() == L'\\' || kit.back() == L'.'))
        kit.pop_back();
    std::wstring results = kit + L"\\results";
    CreateDirectoryW(results.c_str(), NULL);
    std::string configuration =
        "<Configuration>\r\n"
        "  <Networking>Disable</Networking>\r\n"
        "  <MappedFolders>\r\n"
        "    <MappedFolder>\r\n"
        "      <HostFolder>" + Xml(Utf8(kit)) + "</HostFolder>\r\n"
        "      <SandboxFolder>C:\\launcher-kit</SandboxFolder>\r\n"
        "      <ReadOnly>true</ReadOnly>\r\n"
        "    </MappedFolder>\r\n"
        "    <MappedFolder>\r\n"
        "      <HostFolder>" + Xml(Utf8(results)) + "</HostFolder>\r\n"
        "      <SandboxFolder>C:\\launcher-kit-results</SandboxFolder>\r\n"
        "      <ReadOnly>false</ReadOnly>\r\n"
        "    </MappedFolder>\r\n"
        "  </MappedFolders>\r\n"
        "  <LogonCommand>\r\n"
        "    <Command>C:\\launcher-kit\\run.cmd /yes C:\\launcher-kit-results</Command>\r\n"
        "  </LogonCommand>\r\n"
        "</Configuration>\r\n";
    std::wstring file = kit + L"\\launcher-kit.wsb";
    if (!WriteWhole(file, configuration)) {
        printf("%ls could not be written\n", file.c_str());
        return 2;
    }
    printf("Windows Sandbox's configuration: %ls\nIts report will be in %ls\n", file.c_str(),
           results.c_str());
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(NULL, L"open", file.c_str(), NULL, NULL,
                                                SW_SHOWNORMAL)) <= 32) {
        printf("Windows Sandbox did not start: it comes with Windows 10 and 11 Pro, Enterprise "
               "and Education, as the optional feature \"Windows Sandbox\".\n");
        return 1;
    }
    return 0;
}
