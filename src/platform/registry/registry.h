// The registry the application keeps its saved progress in: keys under four root trees, each
// key holding named, typed values. One store per user; every value write is one transaction.
#pragma once

#include "platform/base/types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(ULONG_PTR)0x80000003u)

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

// RegCreateKeyExA options and dispositions.
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Access rights of a key handle.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define MAXIMUM_ALLOWED 0x02000000u

// Every function returns ERROR_SUCCESS or a Windows error code: ERROR_FILE_NOT_FOUND for a
// missing key or value, ERROR_INVALID_HANDLE for a key handle that is not open,
// ERROR_KEY_DELETED for a handle whose key has been deleted, ERROR_ACCESS_DENIED for a handle
// opened without the right the call needs.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);
// Creates the key and every missing key above it; an existing key is opened.
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
// With data null and cbData given, *cbData is set to the stored size; with a buffer smaller than
// the value, ERROR_MORE_DATA, *cbData set to the stored size and the buffer left untouched.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD cbData);
// Stores the cbData bytes as given (a text's terminating zero is counted by the caller).
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegCloseKey(HKEY key);
// Puts every committed value of the store (every key's, not only this one's) into its database
// file, for an end of the process that skips the exit's own checkpoint.
LONG RegFlushKey(HKEY key);
// Deletes the key, its values and its whole subtree.
LONG SHDeleteKeyA(HKEY key, LPCSTR subKey);
