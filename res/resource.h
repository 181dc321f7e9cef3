// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_SPLASH 103
#define IDB_SPLASH 114
#define IDI_MAIN 117
#define IDC_SPLASH_IMAGE 1001
// The splash dialog's size, in dialog units; its picture fills it.
#define SPLASH_WIDTH 198
#define SPLASH_HEIGHT 71
