// The process's entry point: no C runtime, so this is where the program begins and ends.
#pragma once

#include "platform/win32.h"

extern "C" NO_STACK_COOKIE void WINAPI StartLauncher(void);
const char* TakeArgumentTail(const char* commandLine);
