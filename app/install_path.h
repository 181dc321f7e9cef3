// The install path: the folder the launcher was last started from without arguments,
// ending in a backslash, kept under the current user so every later run finds its files.
#pragma once

#include "platform/win32.h"

// The platform's path limit; every directory and program path lives in a buffer this size.
const DWORD kPathBufferSize = MAX_PATH;

void WriteInstallPath(const char* path);
void ReadInstallPath(char* buffer, DWORD size);
bool ComposeFromInstallPath(char* buffer, const char* installPath, const char* relativePath);
bool IsInstallPath(const char* text);
bool ReadCurrentFolder(char* folder);
