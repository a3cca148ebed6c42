#include "platform/fs/folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <initializer_list>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/xdg.h"

namespace platform {

namespace {
std::atomic<FreeSpaceSource*> g_freeSpaceSource{nullptr};

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}
}  // namespace

FreeSpaceSource* SetFreeSpaceSource(FreeSpaceSource* source) {
    return g_freeSpaceSource.exchange(source);
}

DWORD WindowsErrorOfPath(int err, const std::string& nativePath) {
    if (err != ENOENT)
        return WindowsErrorFromErrno(err);
    struct stat st {};
    const std::string parent = ParentOf(nativePath);
    if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

}  // namespace platform

namespace {

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The ANSI calls refuse a path of MAX_PATH characters or more, as on Windows.
bool CheckPath(LPCSTR path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (*path == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (platform::IsPathTooLong(path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

BOOL AnswerFromSource(platform::FreeSpaceSource& source, LPCSTR directoryName,
                      PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                      PULARGE_INTEGER totalFree) {
    ULONGLONG freeBytes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!source.FreeBytes(directoryName != nullptr ? directoryName : "", &freeBytes, &error))
        return FailWith(error);
    for (PULARGE_INTEGER out : {freeToCaller, total, totalFree}) {
        if (out != nullptr)
            out->QuadPart = freeBytes;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

BOOL GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                         PULARGE_INTEGER totalNumberOfBytes,
                         PULARGE_INTEGER totalNumberOfFreeBytes) {
    if (platform::FreeSpaceSource* source = platform::g_freeSpaceSource.load())
        return AnswerFromSource(*source, directoryName, freeBytesAvailableToCaller,
                                totalNumberOfBytes, totalNumberOfFreeBytes);
    const bool current = directoryName == nullptr || *directoryName == '\0';
    if (!current && !CheckPath(directoryName))
        return FALSE;
    const std::string native = current ? std::string(".") : platform::ToNativePath(directoryName);
    struct statvfs fs {};
    if (statvfs(native.c_str(), &fs) != 0) {
        // The argument names a folder, so a missing name is a missing path.
        return FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                        : platform::WindowsErrorFromErrno(errno));
    }
    const ULONGLONG unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    if (freeBytesAvailableToCaller)
        freeBytesAvailableToCaller->QuadPart = fs.f_bavail * unit;
    if (totalNumberOfBytes)
        totalNumberOfBytes->QuadPart = fs.f_blocks * unit;
    if (totalNumberOfFreeBytes)
        totalNumberOfFreeBytes->QuadPart = fs.f_bfree * unit;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteFileA(LPCSTR fileName) {
    if (!CheckPath(fileName))
        return FALSE;
    const std::string native = platform::ToNativePath(fileName);
    struct stat st {};
    if (lstat(native.c_str(), &st) != 0) {
        return FailWith(platform::WindowsErrorOfPath(errno, native));
    }
    if (S_ISDIR(st.st_mode))
        return FailWith(ERROR_ACCESS_DENIED);
    int held = -1;
    if (!S_ISLNK(st.st_mode)) {
        if ((st.st_mode & 0222) == 0)
            return FailWith(ERROR_ACCESS_DENIED);
        // Holding the lock across the unlink keeps a new open from slipping in between.
        if (S_ISREG(st.st_mode)) {
            held = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
            if (held >= 0 && flock(held, LOCK_EX | LOCK_NB) != 0) {
                const int err = errno;
                close(held);
                return FailWith(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
                                                   : platform::WindowsErrorFromErrno(err));
            }
        }
    }
    const int result = unlink(native.c_str());
    const int err = errno;
    if (held >= 0)
        close(held);
    if (result != 0)
        return FailWith(platform::WindowsErrorOfPath(err, native));
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
    if (!CheckPath(pathName))
        return FALSE;
    const std::string native = platform::ToNativePath(pathName);
    if (mkdir(native.c_str(), 0700) != 0) {
        // Only the last folder is made, so a missing name here is a missing parent.
        return FailWith(errno == ENOENT || errno == ENOTDIR
                            ? ERROR_PATH_NOT_FOUND
                            : platform::WindowsErrorFromErrno(errno));
    }
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    std::string folder(256, '\0');
    while (getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) {
            SetLastError(platform::WindowsErrorFromErrno(errno));
            return 0;
        }
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    return platform::CopyToBuffer(platform::ToWindowsPath(folder), buffer, bufferLength);
}

DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer) {
    const std::string native = platform::TempFolder();
    if (native.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string folder = platform::ToWindowsPath(native);
    if (folder.back() != '\\')
        folder += '\\';
    return platform::CopyToBuffer(folder, buffer, bufferLength);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    const std::string folder = platform::LayerStateFolder() + "/Windows";
    // A folder that cannot be made is still named: the caller's open in it fails and the
    // caller falls back, which beats handing it an unfilled buffer.
    platform::MakeFolders(folder + "/Temp", 0700);
    return platform::CopyToBuffer(platform::ToWindowsPath(folder), buffer, size);
}
