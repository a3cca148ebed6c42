#include "platform/base/path.h"

#include <algorithm>
#include <cstring>

namespace platform {

std::string ToNativePath(const char* windowsPath) {
    std::string path(windowsPath ? windowsPath : "");
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ToWindowsPath(const std::string& nativePath) {
    std::string path(nativePath);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

DWORD CopyToBuffer(const std::string& text, LPSTR buffer, DWORD size) {
    const DWORD needed = static_cast<DWORD>(text.size()) + 1;
    if (buffer == nullptr || size < needed)
        return needed;
    std::memcpy(buffer, text.c_str(), needed);
    return needed - 1;
}

}  // namespace platform
