// The DirectX probe over arbitrary value bytes, types and lengths, checked against what can
// be told without decoding: a value longer than the 256-byte buffer gives 0; for one that
// fits, the number depends on the nine digit positions alone (not on the type, the dots, or
// anything past the twelfth byte), and where those hold digits it is the nine digits read as
// one decimal number. What a malformed text decodes to is checked against worked examples in
// the host tests: an oracle for it here would be the decode written again.
#include <stdlib.h>
#include <string.h>

#include "app/directx_probe.h"
#include "tests/fuzz/fuzz_common.h"

static const unsigned kDigitPositions[] = {0, 2, 3, 5, 6, 8, 9, 10, 11};

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    FreshMachine();
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, data[0], bytes);
    DWORD version = ProbeDirectXVersion();
    FUZZ_CHECK(gSim.openKeys == 0);
    char buffer[256] = {};
    if (bytes.size() > sizeof buffer) {
        FUZZ_CHECK(version == 0);
        return 0;
    }
    memcpy(buffer, bytes.data(), bytes.size());
    std::string masked(12, '#'), digits;
    bool allDigits = true;
    for (unsigned position : kDigitPositions) {
        masked[position] = buffer[position];
        digits += buffer[position];
        allDigits &= buffer[position] >= '0' && buffer[position] <= '9';
    }
    SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, REG_SZ, masked);
    FUZZ_CHECK(ProbeDirectXVersion() == version);
    if (allDigits)
        FUZZ_CHECK(version == strtoul(digits.c_str(), NULL, 10));
    return 0;
}
