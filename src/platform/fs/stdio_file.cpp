#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/lasterror.h"
#include "platform/fs/file.h"

namespace {

// Text mode's line end on disk; the converted text is built whole so that it goes out in one
// stdio call.
std::string WithCrLf(const char* data, size_t count) {
    std::string out;
    out.reserve(count + count / 8 + 16);
    for (size_t i = 0; i < count; ++i) {
        if (data[i] == '\n')
            out.push_back('\r');
        out.push_back(data[i]);
    }
    return out;
}

const char* StreamModeFor(UINT access) {
    switch (access) {
        case CFile::modeWrite:
            return "w";  // fdopen never truncates
        case CFile::modeReadWrite:
            return "r+";
        default:
            return "r";
    }
}

// Stdio does not always set errno when a call fails; a failure must still be reported as one.
int ErrnoOr(int err, int fallback) {
    return err != 0 ? err : fallback;
}

}  // namespace

CStdioFile::CStdioFile() = default;

CStdioFile::~CStdioFile() {
    CStdioFile::Abort();
}

BOOL CStdioFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error) {
    if (IsOpen())
        Abort();
    if (!CFile::Open(fileName, openFlags, error))
        return FALSE;
    errno = 0;
    m_pStream = fdopen(m_fd, StreamModeFor(openFlags & 0x3));
    if (m_pStream == nullptr) {
        const LONG osError =
            static_cast<LONG>(platform::WindowsErrorFromErrno(ErrnoOr(errno, ENOMEM)));
        CFile::Abort();
        if (error != nullptr)
            *error =
                CFileException(CFileException::OsErrorToException(osError), osError, m_strFileName);
        return FALSE;
    }
    m_text = (openFlags & typeBinary) == 0;
    m_direction.store(kNone);
    return TRUE;
}

void CStdioFile::ThrowStreamError(int err) const {
    clearerr(m_pStream);
    ThrowErrno(ErrnoOr(err, EIO));
}

void CStdioFile::TurnTo(Direction direction) {
    const int previous = m_direction.exchange(direction);
    if (previous == kNone || previous == direction)
        return;
    errno = 0;
    if (fseeko(m_pStream, 0, SEEK_CUR) != 0)
        ThrowStreamError(errno);
}

void CStdioFile::WriteBytes(const char* data, size_t count) {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    if (count == 0)
        return;
    TurnTo(kWriting);
    std::string converted;
    if (m_text && std::memchr(data, '\n', count) != nullptr) {
        converted = WithCrLf(data, count);
        data = converted.data();
        count = converted.size();
    }
    errno = 0;
    if (fwrite(data, 1, count, m_pStream) != count)
        ThrowStreamError(errno);
}

void CStdioFile::WriteString(LPCSTR text) {
    if (text == nullptr)
        AfxThrowInvalidArgException();
    WriteBytes(text, std::strlen(text));
}

void CStdioFile::Write(const void* buffer, UINT count) {
    if (count != 0 && buffer == nullptr)
        AfxThrowInvalidArgException();
    WriteBytes(static_cast<const char*>(buffer), count);
}

UINT CStdioFile::Read(void* buffer, UINT count) {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    if (count == 0)
        return 0;
    if (buffer == nullptr)
        AfxThrowInvalidArgException();
    TurnTo(kReading);
    char* out = static_cast<char*>(buffer);
    errno = 0;
    if (!m_text) {
        const size_t got = fread(out, 1, count, m_pStream);
        if (got < count && ferror(m_pStream))
            ThrowStreamError(errno);
        return static_cast<UINT>(got);
    }
    UINT done = 0;
    flockfile(m_pStream);
    while (done < count) {
        int ch = getc_unlocked(m_pStream);
        if (ch == EOF)
            break;
        if (ch == '\r') {
            const int next = getc_unlocked(m_pStream);
            if (next == '\n') {
                ch = '\n';
            } else if (next != EOF) {
                ungetc(next, m_pStream);
            }
        }
        out[done++] = static_cast<char>(ch);
    }
    const bool failed = ferror(m_pStream) != 0;
    funlockfile(m_pStream);
    if (failed)
        ThrowStreamError(errno);
    return done;
}

BOOL CStdioFile::ReadString(CString& line) {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    TurnTo(kReading);
    std::string text;
    bool any = false;
    bool ended = false;
    errno = 0;
    flockfile(m_pStream);
    for (int ch; (ch = getc_unlocked(m_pStream)) != EOF;) {
        any = true;
        if (ch == '\n') {
            ended = true;
            break;
        }
        text.push_back(static_cast<char>(ch));
    }
    const bool failed = ferror(m_pStream) != 0;
    funlockfile(m_pStream);
    if (failed)
        ThrowStreamError(errno);
    if (m_text && ended && !text.empty() && text.back() == '\r')
        text.pop_back();
    line = CString(text.data(), static_cast<int>(text.size()));
    return any ? TRUE : FALSE;
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    const int whence = WhenceOf(from);
    errno = 0;
    // fseeko writes the buffer out first; a failure there is the write's, not the seek's.
    if (fseeko(m_pStream, static_cast<off_t>(offset), whence) != 0) {
        const int err = ErrnoOr(errno, EIO);
        clearerr(m_pStream);
        ThrowSeekErrno(err);
    }
    m_direction.store(kNone);
    return GetPosition();
}

ULONGLONG CStdioFile::GetLength() const {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    errno = 0;
    if (m_direction.load() == kWriting && fflush(m_pStream) != 0)
        ThrowStreamError(errno);
    return CFile::GetLength();
}

void CStdioFile::SetLength(ULONGLONG newLength) {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    // Buffered bytes written after the cut would land past the new end.
    errno = 0;
    if (fflush(m_pStream) != 0)
        ThrowStreamError(errno);
    CFile::SetLength(newLength);
}

ULONGLONG CStdioFile::GetPosition() const {
    if (m_pStream == nullptr)
        ThrowNotOpen();
    errno = 0;
    const off_t at = ftello(m_pStream);
    if (at < 0)
        ThrowSeekErrno(ErrnoOr(errno, EIO));
    return static_cast<ULONGLONG>(at);
}

void CStdioFile::Flush() {
    if (m_pStream == nullptr)
        return;
    errno = 0;
    if (fflush(m_pStream) != 0)
        ThrowStreamError(errno);
}

FILE* CStdioFile::DetachStream() {
    FILE* stream = m_pStream;
    m_pStream = nullptr;
    m_fd = -1;  // fclose closes the descriptor
    m_direction.store(kNone);
    return stream;
}

void CStdioFile::Close() {
    if (m_pStream == nullptr) {
        CFile::Close();
        return;
    }
    FILE* stream = DetachStream();
    errno = 0;
    if (fclose(stream) != 0)
        ThrowErrno(ErrnoOr(errno, EIO));
}

void CStdioFile::Abort() {
    if (m_pStream == nullptr) {
        CFile::Abort();
        return;
    }
    fclose(DetachStream());
}
