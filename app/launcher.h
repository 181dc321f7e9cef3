// The whole run: splash on a first run, the DirectX gate, then one of two branches.
#pragma once

#include "platform/win32.h"

// DirectX 4.08.00.0400; only a newer one lets the driver installer run straight away.
const DWORD kDirectXThreshold = 408000400;
const int kLauncherExitCode = 1;

int LauncherMain(HINSTANCE instance, const char* argumentTail);
