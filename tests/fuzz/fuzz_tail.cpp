// Whole runs over arbitrary command lines, with and without a double-byte code page: no crash
// and no read past the line's end (the sanitizers), exit code 1; and a line that neither
// starts with a quote nor holds a blank is the program's name alone: a first run.
#include <string.h>

#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size == 0)
        return 0;
    FreshMachine();
    if (data[0] & 1)
        SimUseCodePage932();
    SimSetValue(HKEY_LOCAL_MACHINE, kDirectXKey, kDirectXValue, REG_SZ, "4.09.00.0904");
    SimAddWindow("Program Manager");
    std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    line.resize(strlen(line.c_str()));  // a command line ends at its first NUL
    FUZZ_CHECK(SimRunProgram(StartLauncher, line) == 1);
    bool nameAlone = line.empty() || line[0] != '"';
    for (unsigned char byte : line)
        nameAlone &= byte > ' ';
    if (nameAlone)
        FUZZ_CHECK(gSim.dialogShown);
    return 0;
}
