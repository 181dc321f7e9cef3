#include "app/directx_probe.h"

static const char kDirectXKey[] = "Software\\Microsoft\\DirectX";
static const char kDirectXValue[] = "Version";
const DWORD kVersionBufferSize = 256;

// The version text is d.dd.dd.dddd; these are its digit positions and their weights.
static const struct {
    unsigned position;
    DWORD weight;
} kVersionDigits[] = {
    {0, 100000000}, {2, 10000000}, {3, 1000000}, {5, 100000}, {6, 10000},
    {8, 1000},      {9, 100},      {10, 10},     {11, 1},
};

// Reads the first twelve bytes, whatever they hold. Characters are signed 8-bit values less
// the code of '0', and the sum wraps in 32 bits, so a malformed text still gives a number.
static DWORD DecodeDirectXVersion(const char* text)
{
    DWORD sum = 0;
    for (const auto& digit : kVersionDigits) {
        int value = static_cast<signed char>(text[digit.position]) - '0';
        sum += static_cast<DWORD>(value) * digit.weight;
    }
    return sum;
}

// 0 when the key or the value cannot be read. Opened for reading only: a standard user may
// not write this key, and must not be told that no DirectX is installed.
DWORD ProbeDirectXVersion()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDirectXKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    // Zero-filled, so the positions behind a short text decode as 0 minus '0'.
    char text[kVersionBufferSize] = {};
    DWORD size = kVersionBufferSize;
    DWORD version = 0;
    if (RegQueryValueExA(key, kDirectXValue, NULL, NULL, reinterpret_cast<BYTE*>(text), &size) ==
        ERROR_SUCCESS)
        version = DecodeDirectXVersion(text);
    RegCloseKey(key);
    return version;
}
