// The process's entry point: no C runtime, so this is where the program begins and ends.
#pragma once

#include "platform/stack_cookie.h"

extern "C" NO_STACK_COOKIE void WINAPI StartLauncher(void);
