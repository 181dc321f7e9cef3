#include "app/launcher_state.h"

HWND FoundWindow = NULL;
char TitleFragment[kTitleFragmentSize] = "";
