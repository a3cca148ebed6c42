// The Windows path form that the application sees: a Unix path with '\' as the separator
// ("/home/a/Desktop" is "\home\a\Desktop"). Every path the layer returns is in that form and
// every path handed in is converted back here, at the layer's boundary. A Linux file name that
// itself holds a backslash therefore cannot be named.
#pragma once

#include <string>

#include "platform/base/types.h"

namespace platform {

std::string ToNativePath(const char* windowsPath);
std::string ToWindowsPath(const std::string& nativePath);

// Windows refuses paths of MAX_PATH characters or more before it asks the file system.
inline bool IsPathTooLong(const char* windowsPath) {
    return windowsPath != nullptr && std::char_traits<char>::length(windowsPath) >= MAX_PATH;
}

// Copies `text` into a caller's buffer of `size` characters. Returns the length copied, or,
// when the buffer is too small, the size needed including the terminating zero (the
// GetCurrentDirectoryA / GetTempPathA convention).
DWORD CopyToBuffer(const std::string& text, LPSTR buffer, DWORD size);

}  // namespace platform
