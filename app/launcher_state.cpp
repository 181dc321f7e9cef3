#include "app/launcher_state.h"

// Zero at start, as all static storage is; without initialisers they take no room in the file.
HWND FoundWindow;
char TitleFragment[kTitleFragmentSize];
