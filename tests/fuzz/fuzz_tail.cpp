// The argument tail over arbitrary command lines, with and without a double-byte code page.
#include <string.h>

#include "app/start.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    FreshMachine();
    if (data[0] & 1) {
        gSim.codePage = 932;
        gSim.leadBytes = {0x81, 0x9F, 0xE0, 0xFC};
    }
    std::string commandLine(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* text = commandLine.c_str();  // ends at the first NUL, as a real one does
    size_t length = strlen(text);
    const char* tail = TakeArgumentTail(text);
    FUZZ_CHECK(tail >= text && tail <= text + length);
    FUZZ_CHECK(*tail == '\0' || static_cast<unsigned char>(*tail) > ' ');
    if (text[0] != '"') {
        for (const char* p = text; p < tail; ++p)
            FUZZ_CHECK(static_cast<unsigned char>(*p) != 0);
        const char* name = text;
        while (static_cast<unsigned char>(*name) > ' ')
            ++name;
        FUZZ_CHECK(tail >= name);
    }
    return 0;
}
