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

// A full folder path ending in a backslash, on a drive ("C:\...\") or a share
// ("\\server\...\"), perhaps behind the prefix that asks Win32 to take a path as it
// stands ("\\?\C:\...\", "\\?\UNC\server\...\"). Any other "?" stands where
// GetCurrentDirectoryA met a character the ANSI code page cannot show; it is never part of
// a file name (nor the second byte of a double-byte character), so such a path can never
// be opened.
bool IsInstallPath(const char* text)
{
    bool share = text[0] == '\\' && text[1] == '\\' && text[2] != '\0';
    if (TextStartsWith(text, "\\\\?\\")) {
        text += 4;
        share = TextStartsWith(text, "UNC\\") && text[4] != '\0';
    }
    bool drive = ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
                 text[1] == ':' && text[2] == '\\';
    return (drive || share) && EndsInBackslash(text) && !TextHasByte(text, '?');
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
bool ComposeFromInstallPath(char* buffer, const char* relativePath)
{
    ReadInstallPath(buffer, kPathBufferSize);
    return buffer[0] != '\0' && AppendText(buffer, kPathBufferSize, relativePath);
}
