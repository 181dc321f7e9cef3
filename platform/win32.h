// The launcher's one door to the operating system: Windows' own header, in every build. The
// host tests' build finds the simulated Win32's windows.h and shellapi.h (tests/win32/) first.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
