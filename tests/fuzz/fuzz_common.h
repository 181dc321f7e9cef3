// What every fuzz target shares: a fresh simulated machine per input, and a check that
// stops the fuzzer with the input that broke it.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app/launcher_state.h"
#include "app/start.h"
#include "tests/contract.h"
#include "tests/win32/machine.h"

#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            abort();                                                            \
        }                                                                       \
    } while (0)

inline void FreshMachine()
{
    SimReset();
    FoundWindow = NULL;
    TitleFragment[0] = '\0';
    SimAddKey(HKEY_LOCAL_MACHINE, kRunOnceKey);
}
