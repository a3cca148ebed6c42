// CFile, CStdioFile and CFileException over POSIX files.
//
// Every open takes an advisory exclusive lock (flock LOCK_EX|LOCK_NB), so a file that another
// open holds, in this process or another, fails with a sharing violation, as an open without
// sharing does on Windows. A file without any write permission bit counts as read-only, also
// for root. Paths of MAX_PATH characters or more are refused as a bad path without asking the
// file system. Paths are in the Windows form (see platform/base/path.h).
//
// A file that an open creates is readable by its group and by others where they may read its
// folder, and writable by its owner alone, whatever the umask: on Windows a new file inherits
// its folder's access list.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>

#include "platform/base/cstring.h"
#include "platform/base/exceptions.h"
#include "platform/base/types.h"

class CFileException : public CException {
  public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    CFileException(int cause = none, LONG osError = -1, LPCSTR fileName = nullptr);
    // The cause that matches a Windows error code; genericException for the ones without one.
    static int OsErrorToException(LONG osError);
    // A sentence naming the cause and the file; FALSE when there is no buffer to fill.
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext = nullptr) const override;

    int m_cause;
    LONG m_lOsError;  // the Windows error code, -1 when the system was not asked
    CString m_strFileName;
};

class CFile {
  public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile();
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens the file; on failure fills `error` (when given) and returns FALSE. Never throws.
    // The share flags are not consulted: every open is exclusive. An open that would truncate
    // takes the lock first, so a file that another open holds is never emptied.
    virtual BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr);
    // The operations below throw CFileException* on failure, as the class library does.
    virtual UINT Read(void* buffer, UINT count);
    virtual void Write(const void* buffer, UINT count);
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual ULONGLONG GetLength() const;
    // Grows with zero bytes or cuts the file; the position does not move.
    virtual void SetLength(ULONGLONG newLength);
    virtual ULONGLONG GetPosition() const;
    // Writes go straight to the system here, so Flush asks it to put the file on the disk.
    virtual void Flush();
    // Closing a closed file does nothing. A failing close still leaves the file closed.
    virtual void Close();
    // Closes without throwing, for clean-up paths.
    virtual void Abort();

    bool IsOpen() const { return m_fd >= 0; }
    // The open file is a regular file that the user the process runs as owns and that neither
    // its group nor others may write: no one else can have put its contents there or change
    // them. FALSE when closed.
    BOOL IsOwnedByUserAlone() const;

  protected:
    [[noreturn]] void ThrowErrno(int err) const;
    [[noreturn]] void ThrowNotOpen() const;
    [[noreturn]] void ThrowSeekErrno(int err) const;
    // The lseek/fseeko origin of a Seek; an unknown one throws as a bad seek.
    int WhenceOf(UINT from) const;
    int m_fd = -1;
    CString m_strFileName;
};

// The file at `fileName` (links followed) is one that CFile::IsOwnedByUserAlone accepts. FALSE
// otherwise, with the last error ERROR_ACCESS_DENIED when the file is there but someone else's
// or open to others' writes, and the error of the path when there is no file.
BOOL IsFileOwnedByUserAlone(LPCSTR fileName);

// A buffered stream over CFile. Text mode is the default unless typeBinary is given: each "\n"
// written reaches the file as CR LF and each CR LF read comes back as "\n". Every write is one
// stdio call, which holds the stream's lock, so lines written by two threads never mix.
class CStdioFile : public CFile {
  public:
    CStdioFile();
    ~CStdioFile() override;

    BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
    virtual void WriteString(LPCSTR text);
    // Reads one line without its line end (LF, and in text mode CR LF); FALSE at the end of
    // the file.
    virtual BOOL ReadString(CString& line);
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    ULONGLONG Seek(LONGLONG offset, UINT from) override;
    ULONGLONG GetLength() const override;
    void SetLength(ULONGLONG newLength) override;
    ULONGLONG GetPosition() const override;
    // Hands the stream's buffer to the system (no sync to the disk).
    void Flush() override;
    void Close() override;
    void Abort() override;

  protected:
    FILE* m_pStream = nullptr;
    bool m_text = false;

  private:
    enum Direction { kNone, kReading, kWriting };
    // A stream that changes between reading and writing needs a seek or a flush in between.
    void TurnTo(Direction direction);
    void WriteBytes(const char* data, size_t count);
    // Leaves the object closed and hands over the stream, which owns the descriptor.
    FILE* DetachStream();
    [[noreturn]] void ThrowStreamError(int err) const;
    std::atomic<int> m_direction{kNone};
};

namespace platform {

// What CFile::Read asks of the system, so that a short or failing read can be shown on an
// ordinary file.
class FileReader {
  public:
    virtual ~FileReader() = default;
    // As the system's read of descriptor `fd`: the count read, 0 at the end of the file, or -1
    // with errno set.
    virtual long Read(int fd, void* buffer, size_t count) = 0;
};

// Installs `reader` for every CFile in the process (the caller keeps it alive meanwhile; null:
// the system's read) and returns the one it replaces.
FileReader* SetFileReader(FileReader* reader);

}  // namespace platform
