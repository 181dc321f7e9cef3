#include "app/install_path.h"

#include "app/text.h"

static const char kInstallKey[] = "SOFTWARE\\Orvalent";
static const char kInstallValue[] = "QB62_INSTALL_PATH";

void WriteInstallPath(const char* path)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    // Stored without its NUL, as every earlier release stored it.
    RegSetValueExA(key, kInstallValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   static_cast<DWORD>(TextLength(path)));
    RegCloseKey(key);
}

// Whether a component of the path, between two backslashes, is made only of dots, or the
// path holds a "/" anywhere. Windows takes "." and ".." for steps, and Windows 95 to Me take
// "..." for the grandparent, "...." for the folder above it and so on, so such a path can
// name a folder above or beside the one written; no real folder is named only with dots.
// Win32 takes "/" for a separator too, so a "/" can hide such a step ("C:\a/..\evil\");
// Windows never names a folder with a "/", so the worker never records one. Walked a
// character at a time, so that a double-byte character's second byte is never taken for a
// backslash (no second byte is ever a dot).
static bool HasStepOrSlash(const char* text)
{
    CPINFO codePage = {};
    ReadLeadBytes(&codePage);
    unsigned seen = 0;  // of the component so far: 1, dots alone; 2 or 3, anything else too
    for (const char* p = text; *p != '\0'; p = NextCharacter(codePage, p)) {
        // A "/" after a lead byte is no second byte of any code page's: it stands for itself.
        if (*p == '/' || p[1] == '/')
            return true;
        if (*p != '\\')
            seen |= *p == '.' ? 1 : 2;
        else if (seen == 1)
            return true;
        else
            seen = 0;
    }
    return false;
}

// A full folder path ending in a backslash, on a drive ("C:\...\") or a share
// ("\\server\...\"), perhaps behind the prefix that asks Win32 to take a path as it
// stands ("\\?\C:\...\", "\\?\UNC\server\...\"), with no component made only of dots
// and no "/".
// Any other "?" stands where a conversion met a character the ANSI code page cannot show; it
// is never part of a file name (nor the second byte of a double-byte character), so such a
// path can never be opened.
bool IsInstallPath(const char* text)
{
    bool share = text[0] == '\\' && text[1] == '\\' && text[2] != '\0';
    if (TextStartsWith(text, "\\\\?\\")) {
        text += 4;
        share = TextStartsWith(text, "UNC\\") && text[4] != '\0';
    }
    bool drive = ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
                 text[1] == ':' && text[2] == '\\';
    return (drive || share) && EndsInBackslash(text) && !TextHasByte(text, '?') &&
           !HasStepOrSlash(text);
}

// The name in the ANSI code page, or false when the code page cannot show it exactly. Best
// fit is refused where Windows knows the flag (2000 on); where it is refused in turn (NT 4, a
// UTF-8 code page) the plain conversion is taken. Either way the name must convert back to
// itself: only then do the ANSI calls that get it open the same folder.
static bool ConvertExactly(const WCHAR* wide, char* text)
{
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text,
                            static_cast<int>(kPathBufferSize), NULL, NULL) == 0 &&
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, static_cast<int>(kPathBufferSize), NULL,
                            NULL) == 0)
        return false;
    WCHAR back[kPathBufferSize];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, back, static_cast<int>(kPathBufferSize)) == 0)
        return false;
    for (DWORD i = 0; back[i] == wide[i]; ++i) {
        if (wide[i] == 0)
            return true;
    }
    return false;
}

// The current directory with a trailing backslash, exactly as Windows names it, or false.
// On NT the name is Unicode, and GetCurrentDirectoryA converts it with best fit: a letter the
// code page lacks comes back as a look-alike ("Ł" as "L", a fullwidth full stop as "."),
// which names another folder. So the Unicode name is read and converted here. Windows 95 to
// Me have no Unicode call; there the names are the code page's own.
bool ReadCurrentFolder(char* folder)
{
    WCHAR wide[kPathBufferSize];
    DWORD length = GetCurrentDirectoryW(kPathBufferSize, wide);
    if (length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED)
        length = GetCurrentDirectoryA(kPathBufferSize, folder);
    else if (length > 0 && length < kPathBufferSize && !ConvertExactly(wide, folder))
        return false;
    return length > 0 && length < kPathBufferSize &&
           (EndsInBackslash(folder) || AppendText(folder, kPathBufferSize, "\\"));
}

// Leaves the install path in the buffer, or an empty text when there is no usable record:
// no key or value, a failed read, a text that does not fit with its NUL, or one that is not
// a full folder path. The key is opened for reading only, so a standard user reads it too.
void ReadInstallPath(char* buffer, DWORD size)
{
    if (size == 0)
        return;
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstallKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD count = size;
    LONG result = RegQueryValueExA(key, kInstallValue, NULL, NULL,
                                   reinterpret_cast<BYTE*>(buffer), &count);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || count > size) {
        buffer[0] = '\0';
        return;
    }
    if (count > 0 && buffer[count - 1] == '\0')
        --count;
    if (count >= size) {
        buffer[0] = '\0';
        return;
    }
    buffer[count] = '\0';
    if (!IsInstallPath(buffer))
        buffer[0] = '\0';
}

// The install path followed by a relative path, or false when there is no install path or
// the whole would not fit a path buffer: a relative or cut-off path never reaches the
// registry or a process start.
bool ComposeFromInstallPath(char* buffer, const char* installPath, const char* relativePath)
{
    return installPath[0] != '\0' && CopyText(buffer, kPathBufferSize, installPath) &&
           AppendText(buffer, kPathBufferSize, relativePath);
}
