// The DirectX probe over arbitrary value bytes, types and lengths: a value that fits the
// 256-byte buffer decodes from a zero-filled copy of it, anything longer gives 0.
#include <string.h>

#include "app/directx_probe.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    FreshMachine();
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    SimSetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\DirectX", "Version", data[0], bytes);
    DWORD version = ProbeDirectXVersion();
    char expected[256] = {};
    if (bytes.size() <= sizeof expected) {
        memcpy(expected, bytes.data(), bytes.size());
        FUZZ_CHECK(version == DecodeDirectXVersion(expected));
    } else {
        FUZZ_CHECK(version == 0);
    }
    FUZZ_CHECK(gSim.openKeys == 0);
    return 0;
}
