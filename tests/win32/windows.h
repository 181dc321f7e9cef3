// The simulated Win32's windows.h: the subset of Win32 the launcher uses, with Windows' names,
// layouts and values, so that the launcher's sources compile unchanged on the host and link
// against the simulated machine (tests/win32/machine.h). The host build puts this folder first
// on the include path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

typedef int BOOL;
typedef unsigned char BYTE;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef DWORD REGSAM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef uintptr_t WPARAM;
typedef uintptr_t UINT_PTR;
typedef intptr_t LPARAM;
typedef intptr_t INT_PTR;
typedef struct SimHwnd* HWND;
typedef struct SimHkey* HKEY;
typedef struct SimHinstance* HINSTANCE;
typedef HINSTANCE HMODULE;

#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_MORE_DATA 234L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_FLAGS 1004L
#define CP_ACP 0u
#define WC_NO_BEST_FIT_CHARS 0x400u
#define KEY_QUERY_VALUE 0x0001u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_OPTION_NON_VOLATILE 0u
#define STARTF_USESHOWWINDOW 0x1u
#define SW_SHOWNORMAL 1
#define WM_ACTIVATE 0x0006u
#define WM_CLOSE 0x0010u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u
#define LOAD_LIBRARY_AS_DATAFILE 0x2u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800u
#define MAX_LEADBYTES 12
#define MAX_DEFAULTCHAR 2
#define MAKEINTRESOURCEA(id) ((LPSTR)(uintptr_t)(WORD)(id))

typedef struct {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOA;

typedef struct {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION;

typedef struct {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
} OSVERSIONINFOA;

// The basic record, and after it what NT 4 SP6, 98 and later add.
struct OSVERSIONINFOEXA : OSVERSIONINFOA {
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};

typedef union {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    long long QuadPart;
} LARGE_INTEGER;

typedef struct {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
} CPINFO;

typedef intptr_t (*FARPROC)(void);
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, HKEY* key);
LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* key, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegCloseKey(HKEY key);

DWORD GetCurrentDirectoryA(DWORD capacity, LPSTR buffer);
DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR text,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR wide,
                        int capacity);
BOOL SetCurrentDirectoryA(LPCSTR path);
UINT GetSystemDirectoryA(LPSTR buffer, UINT capacity);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT capacity);

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, void* processSecurity,
                    void* threadSecurity, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, STARTUPINFOA* startup,
                    PROCESS_INFORMATION* process);
HANDLE CreateThread(void* security, size_t stackSize, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD creationFlags, DWORD* threadId);
void Sleep(DWORD milliseconds);

BOOL EnumWindows(WNDENUMPROC callback, LPARAM extra);
int GetWindowTextA(HWND window, LPSTR buffer, int capacity);

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

BOOL GetVersionExA(OSVERSIONINFOA* info);
HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
DWORD GetLastError(void);
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int capacity);
BOOL FreeLibrary(HMODULE module);

HMODULE GetModuleHandleA(LPCSTR moduleName);
LPSTR GetCommandLineA(void);
void ExitProcess(UINT exitCode);
HANDLE GetCurrentProcess(void);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
DWORD GetCurrentProcessId(void);
DWORD GetCurrentThreadId(void);
DWORD GetTickCount(void);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
UINT GetACP(void);
BOOL GetCPInfo(UINT codePage, CPINFO* info);

// The host's C library owns the names GCC's stack checks use; the launcher's cookie and its
// answer to a mismatch take these instead, which the tests read and call.
#define __stack_chk_guard SimStackCookie
#define __stack_chk_fail SimStackCookieMismatch
extern "C" [[noreturn]] void __stack_chk_fail(void);
