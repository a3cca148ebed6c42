// Text conversion: MultiByteToWideChar and WideCharToMultiByte. WCHAR is a 32-bit code point,
// and the ANSI code page is UTF-8.
#pragma once

#include "platform/base/types.h"

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001u
#define MB_COMPOSITE 0x00000002u
#define MB_USEGLYPHCHARS 0x00000004u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

// Every ANSI code page is UTF-8. srcLen -1 converts up to and including the terminating zero;
// dstLen 0 returns the size needed; a buffer too small gets nothing and the call gives 0 with
// ERROR_INSUFFICIENT_BUFFER. Invalid input becomes U+FFFD, or fails with
// ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);
