#include "log/log_file.h"

#include <cstdarg>

#include "platform/afx/wnd.h"
#include "platform/fs/folders.h"
#include "platform/kernel/systime.h"

namespace {

const char kLogName[] = "Download.log";
// The owner's status line (the main dialog's IDC_STATIC_STATUS).
const int kStatusLineId = 1015;
const char kBanner[] = "\n\n\n***** Downloader Log Start *****\n";

// A level outside the table gets no prefix; nothing is read beyond the three entries.
const CString& PrefixOf(const CString (&table)[3], int level) {
    static const CString none;
    return level >= 0 && level < 3 ? table[level] : none;
}

// The stamp of the moment of the call, then the prefix, the text and the line end, in one
// format. The local time comes from one reading of the clock.
CString FormLine(const CString (&prefixes)[3], int level, LPCSTR text) {
    struct tm local;
    int month = 0, day = 0, hour = -1, minute = -1, second = -1;
    if (CTime::GetCurrentTime().GetLocalTm(&local) != NULL) {
        month = local.tm_mon + 1;
        day = local.tm_mday;
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
    }
    CString line;
    line.Format("%02d/%02d %02d:%02d:%02d\t%s%s\n", month, day, hour, minute, second,
                static_cast<LPCSTR>(PrefixOf(prefixes, level)), text);
    return line;
}

}  // namespace

CLogFile::CLogFile() : m_pOwner(NULL) {}

CLogFile::~CLogFile() {
    Close();
}

void CLogFile::InitLogFile(CWnd* pOwner, CString& strLogDir) {
    char folder[MAX_PATH] = "";
    UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    strLogDir.Format("%s\\Temp\\ZELV_Debug\\", folder);
    m_pOwner = pOwner;

    const UINT existing = CFile::modeReadWrite | CFile::typeText;
    const UINT created = CFile::modeCreate | CFile::modeReadWrite | CFile::typeText;
    BOOL opened = FALSE;
    // Without a Windows folder the formed path would lie at the root of the file system.
    if (length != 0 && length < MAX_PATH) {
        CreateDirectoryA(strLogDir, NULL);
        opened = OpenLog(strLogDir + kLogName, existing) || OpenLog(strLogDir + kLogName, created);
    }
    if (!opened) {
        folder[0] = '\0';
        length = GetTempPathA(MAX_PATH, folder);
        strLogDir.Format("%s\\ZELV_Debug\\", folder);
        if (length != 0 && length < MAX_PATH) {
            CreateDirectoryA(strLogDir, NULL);
            opened = OpenLog(strLogDir + kLogName, created);
        }
    }
    if (!opened) {
        return;
    }

    std::lock_guard<std::mutex> lock(m_streamMutex);
    try {
        Seek(0, CFile::end);
        WriteString(kBanner);
    } catch (CFileException* e) {
        e->Delete();
    }
}

// The window model takes the text at once from any thread, so a worker never waits here for
// a user-interface thread that may be waiting for it.
void CLogFile::EchoToStatusLine(const CString& text) {
    if (m_pOwner != NULL) {
        m_pOwner->SetDlgItemText(kStatusLineId, text);
    }
}

BOOL CLogFile::OpenLog(const CString& path, UINT openFlags) {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    return Open(path, openFlags);
}

void CLogFile::WriteLog(CString strMsg, BOOL bShowStatus, int nLevel) {
    static const CString strLevelPrefix[3] = {"INFO: ", "ERROR: ", "FATAL ERROR:"};

    if (bShowStatus) {
        EchoToStatusLine(strMsg);
    }

    WriteLine(FormLine(strLevelPrefix, nLevel, strMsg), true);
}

void CLogFile::WriteLogFormat(int nLevel, LPCSTR lpszFormat, ...) {
    static const CString strLevelPrefix[3] = {"INFO: ", "ERROR: ", "FATAL ERROR:"};

    CString text;
    va_list args;
    va_start(args, lpszFormat);
    text.FormatV(lpszFormat, args);
    va_end(args);

    // The stamp is taken after the formatting.
    WriteLine(FormLine(strLevelPrefix, nLevel, text), false);
}

void CLogFile::WriteLine(const CString& line, bool flush) {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    if (!IsOpen()) {
        return;
    }
    // A failed write loses its line; logging must never stop the operation that logged.
    try {
        WriteString(line);
        if (flush) {
            CStdioFile::Flush();
        }
    } catch (CFileException* e) {
        e->Delete();
    }
}

void CLogFile::Flush() {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    if (!IsOpen()) {
        return;
    }
    try {
        CStdioFile::Flush();
    } catch (CFileException* e) {
        e->Delete();
    }
}

void CLogFile::Close() {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    if (!IsOpen()) {
        return;
    }
    try {
        CStdioFile::Close();
    } catch (CFileException* e) {
        e->Delete();
        CStdioFile::Abort();
    }
}
