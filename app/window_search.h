// The launcher waits on windows, never on processes: a search through the titles of the
// top-level windows for the title fragment, and two bounded waits built on it.
#pragma once

#include "platform/win32.h"

const unsigned kMaxWindowSearches = 100;

void PollForWindow(DWORD pauseMs);
void WaitForShell();
