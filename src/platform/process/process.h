// CreateProcessW and its records.
//
// Programs started here are detached: they run in a session of their own, read /dev/null as
// input and outlive the downloader. Paths are in the Windows form (see platform/base/path.h);
// arguments on a command line are handed over unchanged.
#pragma once

#include "platform/base/types.h"

#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif

#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_NO_WINDOW 0x08000000u

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;  // signalled when the program has ended
    HANDLE hThread;   // the same program: it has no thread of its own to wait for here
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program. Without `app`, the program is the first item of `cmdLine`, split by the
// Windows rules (a quote inside a quoted program name written twice); a bare name is looked up
// in PATH. A started file that lacks its owner's execute bit gets it. Without `inherit`, the
// program gets none of the caller's open files and writes its output to /dev/null. `env` is a
// Windows environment block ("k=v\0...\0"), wide with CREATE_UNICODE_ENVIRONMENT. The call
// returns once the program has been executed: a program that cannot be started, or that the
// system refuses to execute, fails the call with its reason (ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT, ERROR_DIRECTORY).
BOOL CreateProcessW(LPCWSTR app, LPWSTR cmdLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID env,
                    LPCWSTR dir, LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInfo);
