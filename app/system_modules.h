// Where the launcher takes other modules from: only the folders where Windows keeps its own
// files. An administrator's run is elevated and often starts from a folder that others may
// write to (a download folder, removable media); nothing there may load into the process.
#pragma once

#include "platform/win32.h"

// GetSystemDirectoryA or GetWindowsDirectoryA.
typedef UINT(WINAPI* SystemFolderQuery)(LPSTR buffer, UINT capacity);

void KeepDllSearchInSystemFolder();
bool ComposeSystemFilePath(char* buffer, SystemFolderQuery folderOf, const char* fileName);
