// The simulated Win32's shellapi.h: ShellExecuteExA's record, reached through GetProcAddress.
#pragma once

#include <windows.h>

#define SEE_MASK_NOASYNC 0x100u
#define SEE_MASK_FLAG_NO_UI 0x400u

typedef struct {
    DWORD cbSize;
    DWORD fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
} SHELLEXECUTEINFOA;
