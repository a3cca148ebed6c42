// Folder and disk services: free space, deleting files, making folders, and the current,
// temporary and Windows folders. Paths go in and come out in the Windows form
// (platform/base/path.h). Failures return FALSE (or 0) and leave the reason in GetLastError.
#pragma once

#include <string>

#include "platform/base/types.h"

// statvfs of `directoryName` (or what an installed FreeSpaceSource says); the empty text or NULL
// names the current folder. Each out pointer may be NULL.
BOOL GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                         PULARGE_INTEGER totalNumberOfBytes,
                         PULARGE_INTEGER totalNumberOfFreeBytes);

// As on Windows, a read-only file (no write permission bit, also for root) and a file that an
// open of the layer holds are not deleted: ERROR_ACCESS_DENIED and ERROR_SHARING_VIOLATION.
BOOL DeleteFileA(LPCSTR fileName);

// Makes the last folder of the path only: ERROR_ALREADY_EXISTS when the name exists,
// ERROR_PATH_NOT_FOUND when the parent is missing. The attributes are not consulted: the folder
// is its owner's alone (0700), since what the program keeps in its folders (the log with its
// URLs and proxy user) is no one else's to read.
BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);

// These three follow the buffer protocol of platform::CopyToBuffer: the length copied, or the
// size needed (with the terminating zero) when the buffer is too small; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);
// A temporary folder that only this user can change, ending in '\': $TMPDIR when it is this
// user's and others may not write it, else a private folder of the layer's own. 0 with
// ERROR_PATH_NOT_FOUND when there is none.
DWORD GetTempPathA(DWORD bufferLength, LPSTR buffer);
// The layer's own Windows folder, with its Temp folder made on demand; no trailing '\'.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);

namespace platform {

// What GetDiskFreeSpaceExA reports instead of the disk's own figures, for tests that need a
// given amount of free space or a failing query.
class FreeSpaceSource {
  public:
    virtual ~FreeSpaceSource() = default;
    // The bytes free in `directoryName` (as the caller gave it), or false with the error that
    // the query fails with.
    virtual bool FreeBytes(const std::string& directoryName, ULONGLONG* freeBytes,
                           DWORD* error) = 0;
};

// Makes GetDiskFreeSpaceExA answer from `source` (nullptr restores statvfs) and returns the one
// it replaces. The caller keeps the source alive until it is replaced.
FreeSpaceSource* SetFreeSpaceSource(FreeSpaceSource* source);

// The Windows error for a call on `nativePath` that failed with `err`: ENOENT is
// ERROR_PATH_NOT_FOUND when a folder on the way is missing, else ERROR_FILE_NOT_FOUND.
DWORD WindowsErrorOfPath(int err, const std::string& nativePath);
}  // namespace platform
