// The first-run splash: a logo shown while a worker records where the launcher was started.
#pragma once

#include "platform/win32.h"

void RunSplash(HINSTANCE instance);
