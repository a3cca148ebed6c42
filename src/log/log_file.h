// CLogFile: the run's "Download.log", one stamped line per write, shared by the user-interface
// thread and the worker.
#pragma once

#include <mutex>

#include "platform/base/cstring.h"
#include "platform/base/types.h"
#include "platform/fs/file.h"

class CWnd;

constexpr int LOG_INFO = 0;
constexpr int LOG_ERROR = 1;
constexpr int LOG_FATAL = 2;

class CLogFile : public CStdioFile {
  public:
    CLogFile();
    ~CLogFile() override;

    // Chooses the folder (the Windows folder's Temp\ZELV_Debug\, else the temporary folder's),
    // names it in strLogDir, opens or creates Download.log there and writes the start banner.
    void InitLogFile(CWnd* pOwner, CString& strLogDir);
    // One stamped line, flushed before the call returns. The text is written literally.
    void WriteLog(CString strMsg, BOOL bShowStatus, int nLevel);
    // One stamped line of formatted text, left in the stream's buffer until the next flush.
    void WriteLogFormat(int nLevel, LPCSTR lpszFormat, ...) ZELV_PRINTF(3, 4);
    // Hands the buffered lines to the system; a line that cannot go is dropped, never thrown.
    void Flush() override;
    // Flushes and closes; a line that cannot reach the disk is dropped, never thrown.
    void Close() override;

  protected:
    CWnd* m_pOwner;

  private:
    void EchoToStatusLine(const CString& text);
    // Opens the file in one of the two ways InitLogFile tries; FALSE leaves it closed.
    BOOL OpenLog(const CString& path, UINT openFlags);
    void WriteLine(const CString& line, bool flush);

    // Writers on both threads and Close share the stream; every use of it happens under this.
    std::mutex m_streamMutex;
};
