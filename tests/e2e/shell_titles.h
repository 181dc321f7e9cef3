// String 1 of the tests' own shell modules, for their resource scripts and the programs that
// look for the windows so titled.
#pragma once

#define TEST_SHELL_TITLE "Launcher Test Shell"      // progman.exe
#define PLANTED_SHELL_TITLE "Planted Shell Title"   // planted_progman.exe
