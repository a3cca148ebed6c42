#include "platform/fs/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/fs/folders.h"

namespace {

std::atomic<platform::FileReader*> g_reader{nullptr};

ssize_t ReadSome(int fd, void* buffer, size_t count) {
    if (platform::FileReader* reader = g_reader.load())
        return static_cast<ssize_t>(reader->Read(fd, buffer, count));
    return ::read(fd, buffer, count);
}

// Windows codes the layer reports that types.h has no other use for.
constexpr LONG kErrorInvalidDrive = 15;
constexpr LONG kErrorCurrentDirectory = 16;
constexpr LONG kErrorWriteProtect = 19;
constexpr LONG kErrorCrc = 23;
constexpr LONG kErrorSeek = 25;
constexpr LONG kErrorGenFailure = 31;
constexpr LONG kErrorCannotMake = 82;
constexpr LONG kErrorNegativeSeek = 131;

// errno values whose nearest Windows code the general table does not give.
LONG OsErrorFromErrno(int err) {
    switch (err) {
        case EIO:
            return kErrorGenFailure;
        case EFBIG:
            return ERROR_DISK_FULL;
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case ESPIPE:
            return kErrorSeek;
        default:
            return static_cast<LONG>(platform::WindowsErrorFromErrno(err));
    }
}

LONG OsErrorOfOpen(int err, const std::string& nativePath) {
    if (err == ENOENT)
        return static_cast<LONG>(platform::WindowsErrorOfPath(err, nativePath));
    return OsErrorFromErrno(err);
}

BOOL Fail(CFileException* error, int cause, LONG osError, const CString& fileName) {
    if (error != nullptr) {
        error->m_cause = cause;
        error->m_lOsError = osError;
        error->m_strFileName = fileName;
    }
    return FALSE;
}

BOOL FailWithOsError(CFileException* error, LONG osError, const CString& fileName) {
    return Fail(error, CFileException::OsErrorToException(osError), osError, fileName);
}

// A folder whose entries another user can replace: one that its group or others may write, or
// one of another user's (the system's own are trusted).
bool OthersMayChange(int folder) {
    struct stat st {};
    if (fstat(folder, &st) != 0)
        return true;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (st.st_uid != geteuid() && st.st_uid != 0);
}

// The access of a file made in `folder`: as a new file on Windows inherits its folder's access
// list, others may read it where they may read the folder, and only its owner may write it.
mode_t NewFileMode(int folder) {
    struct stat st {};
    const mode_t others = fstat(folder, &st) == 0 ? st.st_mode & (S_IRGRP | S_IROTH) : 0;
    return S_IRUSR | S_IWUSR | others;
}

// Opens `native` one folder at a time, following no link that lies in a folder another user can
// change: a link planted there could name any file of this user. Opens without waiting (a
// named pipe would wait for its other end); the caller takes only a regular file. A file that
// O_CREAT | O_EXCL makes gets the mode of NewFileMode, whatever the umask.
int OpenGuarded(const std::string& native, int flags) {
    int folder = ::open(native[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    size_t at = 0;
    while (folder >= 0) {
        while (at < native.size() && native[at] == '/')
            ++at;
        const size_t end = std::min(native.find('/', at), native.size());
        std::string part = native.substr(at, end - at);
        at = end;
        const bool last = native.find_first_not_of('/', at) == std::string::npos;
        if (part.empty())
            part = ".";  // the path names a folder: the open below refuses it
        const int noFollow = OthersMayChange(folder) ? O_NOFOLLOW : 0;
        const mode_t mode = last && (flags & O_CREAT) != 0 ? NewFileMode(folder) : 0;
        const int next =
            last ? ::openat(folder, part.c_str(), flags | O_NONBLOCK | noFollow, mode)
                 : ::openat(folder, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | noFollow);
        const int err = errno;
        // Only a file this open made (O_EXCL refuses one that was there). Should the change
        // fail, the umask's narrower mode stays, never a wider one.
        if (last && next >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
            ::fchmod(next, mode);
        ::close(folder);
        errno = err;
        if (last) {
            // A refused link or a pipe without a reader is no file to open here.
            if (next < 0 && ((noFollow != 0 && errno == ELOOP) || errno == ENXIO))
                errno = EACCES;
            return next;
        }
        folder = next;
    }
    return -1;
}

// A regular file of the user the process runs as that neither its group nor others may write.
bool OwnedByUserAlone(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Empties the opened file; a descriptor open for reading only is opened again for writing
// through itself, never by its path, which may name another file by now.
bool TruncateOpened(int fd, bool readOnly) {
    if (!readOnly)
        return ::ftruncate(fd, 0) == 0;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int writer = ::open(self.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (writer < 0)
        return false;
    const bool emptied = ::ftruncate(writer, 0) == 0;
    const int err = errno;
    ::close(writer);
    errno = err;
    return emptied;
}

int OpenFlagsFor(UINT access) {
    switch (access) {
        case CFile::modeWrite:
            return O_WRONLY;
        case CFile::modeReadWrite:
            return O_RDWR;
        default:
            return O_RDONLY;
    }
}

// The text around the file name.
struct MessageParts {
    const char* before;
    const char* after;
};

MessageParts MessageFor(int cause) {
    switch (cause) {
        case CFileException::none:
            return {"No error occurred with ", "."};
        case CFileException::fileNotFound:
            return {"The file ", " could not be found."};
        case CFileException::badPath:
            return {"The path of ", " is not valid or too long."};
        case CFileException::tooManyOpenFiles:
            return {"", " could not be opened: too many files are open."};
        case CFileException::accessDenied:
            return {"Access to ", " was refused."};
        case CFileException::invalidFile:
            return {"The file handle used for ", " is not valid."};
        case CFileException::removeCurrentDir:
            return {"", " is the current folder and cannot be removed."};
        case CFileException::directoryFull:
            return {"The folder of ", " has no room for more entries."};
        case CFileException::badSeek:
            return {"Moving the position in ", " failed."};
        case CFileException::hardIO:
            return {"The device reported an input/output error for ", "."};
        case CFileException::sharingViolation:
            return {"", " is in use by another open."};
        case CFileException::lockViolation:
            return {"A locked region of ", " was accessed."};
        case CFileException::diskFull:
            return {"The disk is full while writing ", "."};
        case CFileException::endOfFile:
            return {"An access went beyond the end of ", "."};
        default:
            return {"An unexpected error occurred while accessing ", "."};
    }
}

}  // namespace

platform::FileReader* platform::SetFileReader(FileReader* reader) {
    return g_reader.exchange(reader);
}

CFileException::CFileException(int cause, LONG osError, LPCSTR fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName ? fileName : "") {}

int CFileException::OsErrorToException(LONG osError) {
    switch (osError) {
        case ERROR_SUCCESS:
            return none;
        case ERROR_FILE_NOT_FOUND:
            return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case kErrorInvalidDrive:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case kErrorWriteProtect:
            return accessDenied;
        case ERROR_INVALID_HANDLE:
            return invalidFile;
        case kErrorCurrentDirectory:
            return removeCurrentDir;
        case kErrorCannotMake:
            return directoryFull;
        case kErrorSeek:
        case kErrorNegativeSeek:
            return badSeek;
        case kErrorCrc:
        case kErrorGenFailure:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
            return hardIO;
        case ERROR_SHARING_VIOLATION:
            return sharingViolation;
        case ERROR_LOCK_VIOLATION:
            return lockViolation;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return diskFull;
        case ERROR_HANDLE_EOF:
            return endOfFile;
        default:
            return genericException;
    }
}

BOOL CFileException::GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext) const {
    if (helpContext != nullptr)
        *helpContext = 0;
    if (buffer == nullptr || maxChars == 0)
        return FALSE;
    const char* name = m_strFileName.IsEmpty() ? "an unnamed file" : m_strFileName.GetString();
    const MessageParts parts = MessageFor(m_cause);
    std::snprintf(buffer, maxChars, "%s%s%s", parts.before, name, parts.after);
    return TRUE;
}

CFile::CFile() = default;

CFile::~CFile() {
    CFile::Abort();
}

BOOL CFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error) {
    if (IsOpen())
        Abort();
    m_strFileName = fileName ? fileName : "";
    if (m_strFileName.IsEmpty())
        return Fail(error, CFileException::badPath, ERROR_PATH_NOT_FOUND, m_strFileName);
    if (platform::IsPathTooLong(fileName)) {
        return Fail(error, CFileException::badPath, -1, m_strFileName);
    }
    const UINT access = openFlags & 0x3;
    if (access == 0x3)
        return FailWithOsError(error, ERROR_INVALID_PARAMETER, m_strFileName);

    const std::string native = platform::ToNativePath(fileName);
    const int flags = OpenFlagsFor(access) | O_CLOEXEC | O_NOCTTY;
    const bool create = (openFlags & modeCreate) != 0;
    const bool truncate = create && (openFlags & modeNoTruncate) == 0;

    // Knowing whether this open made the file matters: a new file is writable through this
    // open whatever the umask gave it, and there is nothing in it to truncate.
    int fd = -1;
    bool created = false;
    if (create) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            fd = OpenGuarded(native, flags | O_CREAT | O_EXCL);
            if (fd >= 0) {
                created = true;
                break;
            }
            if (errno != EEXIST)
                break;
            fd = OpenGuarded(native, flags);
            if (fd >= 0 || errno != ENOENT)
                break;
        }
    } else {
        fd = OpenGuarded(native, flags);
    }
    if (fd < 0)
        return FailWithOsError(error, OsErrorOfOpen(errno, native), m_strFileName);

    auto refuse = [&](LONG osError) {
        ::close(fd);
        return FailWithOsError(error, osError, m_strFileName);
    };
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return refuse(OsErrorFromErrno(errno));
    // Only a regular file: a pipe, a device or a folder is no file of the user's.
    if (!S_ISREG(st.st_mode))
        return refuse(ERROR_ACCESS_DENIED);
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
        return refuse(OsErrorFromErrno(errno));
    // Root would be let through by the system; the missing bits still mean read-only.
    const bool writes = access != modeRead || truncate;
    if (writes && !created && (st.st_mode & 0222) == 0)
        return refuse(ERROR_ACCESS_DENIED);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return refuse(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : OsErrorFromErrno(errno));
    }
    if (truncate && !created && st.st_size != 0) {
        if (!TruncateOpened(fd, access == modeRead))
            return refuse(OsErrorFromErrno(errno));
    }
    m_fd = fd;
    return TRUE;
}

BOOL CFile::IsOwnedByUserAlone() const {
    struct stat st {};
    return IsOpen() && fstat(m_fd, &st) == 0 && OwnedByUserAlone(st) ? TRUE : FALSE;
}

BOOL IsFileOwnedByUserAlone(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::string native = platform::ToNativePath(fileName);
    struct stat st {};
    if (stat(native.c_str(), &st) != 0) {
        SetLastError(platform::WindowsErrorOfPath(errno, native));
        return FALSE;
    }
    if (!OwnedByUserAlone(st)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

void CFile::ThrowErrno(int err) const {
    LONG osError = OsErrorFromErrno(err);
    // A descriptor open for the other direction only: Windows calls that access denied.
    if ((err == EBADF || err == EINVAL) && m_fd >= 0) {
        const int mode = fcntl(m_fd, F_GETFL);
        if (mode >= 0 && (mode & O_ACCMODE) != O_RDWR)
            osError = ERROR_ACCESS_DENIED;
    }
    throw new CFileException(CFileException::OsErrorToException(osError), osError, m_strFileName);
}

void CFile::ThrowNotOpen() const {
    throw new CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
}

void CFile::ThrowSeekErrno(int err) const {
    if (err == EINVAL || err == EOVERFLOW) {
        throw new CFileException(CFileException::badSeek, kErrorNegativeSeek, m_strFileName);
    }
    if (err == ESPIPE)
        throw new CFileException(CFileException::badSeek, kErrorSeek, m_strFileName);
    ThrowErrno(err);
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!IsOpen())
        ThrowNotOpen();
    if (count == 0)
        return 0;
    if (buffer == nullptr)
        AfxThrowInvalidArgException();
    char* at = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t got = ReadSome(m_fd, at + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (got == 0)
            break;
        done += static_cast<UINT>(got);
    }
    return done;
}

void CFile::Write(const void* buffer, UINT count) {
    if (!IsOpen())
        ThrowNotOpen();
    if (count == 0)
        return;
    if (buffer == nullptr)
        AfxThrowInvalidArgException();
    const char* at = static_cast<const char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t put = ::write(m_fd, at + done, count - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (put == 0)
            ThrowErrno(ENOSPC);
        done += static_cast<UINT>(put);
    }
}

int CFile::WhenceOf(UINT from) const {
    switch (from) {
        case begin:
            return SEEK_SET;
        case current:
            return SEEK_CUR;
        case end:
            return SEEK_END;
        default:
            ThrowSeekErrno(EINVAL);
    }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    if (!IsOpen())
        ThrowNotOpen();
    const off_t at = ::lseek(m_fd, static_cast<off_t>(offset), WhenceOf(from));
    if (at < 0)
        ThrowSeekErrno(errno);
    return static_cast<ULONGLONG>(at);
}

ULONGLONG CFile::GetLength() const {
    if (!IsOpen())
        ThrowNotOpen();
    struct stat st {};
    if (fstat(m_fd, &st) != 0)
        ThrowErrno(errno);
    return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG newLength) {
    if (!IsOpen())
        ThrowNotOpen();
    if (newLength > static_cast<ULONGLONG>(INT64_MAX))
        ThrowErrno(EFBIG);
    while (::ftruncate(m_fd, static_cast<off_t>(newLength)) != 0) {
        if (errno != EINTR)
            ThrowErrno(errno);
    }
}

ULONGLONG CFile::GetPosition() const {
    if (!IsOpen())
        ThrowNotOpen();
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    if (at < 0)
        ThrowSeekErrno(errno);
    return static_cast<ULONGLONG>(at);
}

void CFile::Flush() {
    if (!IsOpen())
        return;
    // Devices and pipes have nothing to sync; that is not a failure of the caller's data.
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        ThrowErrno(errno);
}

void CFile::Close() {
    if (!IsOpen())
        return;
    const int fd = m_fd;
    m_fd = -1;
    // The descriptor is gone even when close reports a failure; retrying could close another.
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}

void CFile::Abort() {
    if (!IsOpen())
        return;
    ::close(m_fd);
    m_fd = -1;
}
