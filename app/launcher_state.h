// What the window search and its callers share: the found window and the title fragment.
// Process-wide because the enumeration callback must see them; touched by the main thread only.
#pragma once

#include "platform/win32.h"

const unsigned kTitleFragmentSize = 80;

extern HWND FoundWindow;
extern char TitleFragment[kTitleFragmentSize];
