// GetVersionExA: version 6.1 with the kernel's release as the build.
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/base/lasterror.h"
#include "platform/kernel/version.h"

namespace {

DWORD KernelBuild() {
    utsname name{};
    if (uname(&name) != 0)
        return 0;
    unsigned major = 0, minor = 0, patch = 0;
    std::sscanf(name.release, "%u.%u.%u", &major, &minor, &patch);
    return (major << 16) + (std::min(minor, 255u) << 8) + std::min(patch, 255u);
}

}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = KernelBuild();
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    if (size == sizeof(OSVERSIONINFOEXA)) {
        auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
        ex->wServicePackMajor = 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = VER_NT_WORKSTATION;
        ex->wReserved = 0;
    }
    return TRUE;
}
