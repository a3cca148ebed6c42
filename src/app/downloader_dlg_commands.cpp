// The download commands: start, pause, resume, and the disk-space check of a start.
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"
#include "platform/base/lasterror.h"
#include "platform/fs/folders.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"
#include "platform/registry/registry.h"

int CZELVDownloaderDlg::OnStart() {
    m_logFile.WriteLog("+++++ OnStart()", FALSE, LOG_INFO);
    const BOOL bHeader = CheckHTTPHeader();
    ShowProxyLink(!bHeader);
    if (bHeader && m_nServerFileSize == 0) {
        // A run without a size has no range to fetch: it would write nothing and never end.
        ShowResumeWarning();
        m_logFile.WriteLog(LoadText(IDS_START_WITHOUT_SIZE), TRUE, LOG_ERROR);
    } else if (bHeader) {
        DWORD dwQueryError = ERROR_SUCCESS;
        BOOL bSpace = CheckDiskSpace(&dwQueryError);
        while (!bSpace) {
            if (dwQueryError == ERROR_PATH_NOT_FOUND) {
                // No free space comes of Retry: the folder itself is missing.
                m_logFile.WriteLog(
                    FormatText(IDS_TARGET_FOLDER_MISSING, TargetFolder().GetString()), TRUE,
                    LOG_ERROR);
                break;
            }
            CString strText, strCaption;
            strText.LoadString(IDS_DISK_SPACE_LOW);
            strCaption.LoadString(IDS_MSGBOX_CAPTION);
            m_logFile.WriteLog(strText, TRUE, LOG_INFO);
            if (MessageBox(strText, strCaption, MB_RETRYCANCEL) == IDCANCEL)
                break;
            m_logFile.WriteLog(
                "Disk space is not enough!! Please select another path or cleanup current space.",
                FALSE, LOG_ERROR);
            bSpace = CheckDiskSpace(&dwQueryError);
        }
        if (bSpace) {
            HKEY hKey = WriteRegProgressInfo();
            if (m_bSettingsUnsaved)
                ReportProgressNotSaved();
            OnResume();
            m_logFile.WriteLog("----- OnStart()", FALSE, LOG_INFO);
            if (hKey != NULL)
                RegCloseKey(hKey);
            return 0;
        }
    }
    m_logFile.WriteLog("----- OnStart()", FALSE, LOG_INFO);
    return 0;
}

int CZELVDownloaderDlg::OnPause() {
    m_logFile.WriteLog("+++++ OnPause()", FALSE, LOG_INFO);
    const BOOL bActive = IsWorkerActive();  // read before the stop request
    m_nStatus = STATUS_PAUSED;
    if (bActive) {
        m_logFile.WriteLog("Wait thread leave ++++++", FALSE, LOG_INFO);
        WaitForSingleObject(m_hThread, m_dwWorkerWaitMs);
        m_logFile.WriteLog("Wait thread leave ------", FALSE, LOG_INFO);
    }
    KillTimer(IDT_PROGRESS);
    if (!SaveRegConnectionInfo() && m_pDLInfo != NULL) {
        ReportProgressNotSaved();
        m_strResumeRefusal = LoadText(IDS_PROGRESS_NOT_SAVED);  // the paused display shows it
    }
    m_logFile.WriteLog("----- OnPause()", FALSE, LOG_INFO);
    return 0;
}

int CZELVDownloaderDlg::OnResume() {
    m_logFile.WriteLog("+++++ OnResume()", FALSE, LOG_INFO);
    m_strResumeRefusal.Empty();
    if (m_nStatus == STATUS_PAUSED) {
        const DWORD dwPausedSize = m_nServerFileSize;
        const BOOL bPausedRanges = m_bRangesByte;
        const BOOL bHeader = CheckHTTPHeader();
        ShowProxyLink(!bHeader);
        if (!bHeader)
            return 0;
        if (m_nServerFileSize == 0 && dwPausedSize != 0) {
            // A run without a size would take the kept file for another one and empty it: what
            // is kept waits for a probe that gives the size again.
            m_nServerFileSize = dwPausedSize;
            m_bRangesByte = bPausedRanges;
            return RefuseResume(IDS_RESUME_WITHOUT_SIZE);
        }
        if (m_nServerFileSize == 0 || !m_bRangesByte || m_nStallTicks >= STALL_TICK_LIMIT)
            ShowResumeWarning();
    }
    // One run at a time, and the state says 2 only for the new one: an earlier run that still
    // sees 2 would go on writing the records that the new one writes.
    if (!WaitForWorkerEnd())
        return RefuseResume(IDS_WORKER_STILL_ENDING);
    if (m_hThread != NULL) {
        CloseHandle(m_hThread);
        m_hThread = NULL;
    }
    m_nStatus = STATUS_DOWNLOADING;
    m_logFile.WriteLog("Begin thread to perform download!!!", FALSE, LOG_INFO);
    ResetEvent(m_hEvent);

    m_nLiveWorkers.fetch_add(1);
    CWinThread* pThread = AfxBeginThread(&CZELVDownloaderDlg::PerformDownload, this);
    if (pThread == NULL) {
        // Nothing runs: the download is paused again, so the main button offers the resume.
        m_nLiveWorkers.fetch_sub(1);
        m_nStatus = STATUS_PAUSED;
        m_logFile.WriteLog("The transfer run could not be started", TRUE, LOG_FATAL);
        m_logFile.WriteLog("----- OnResume()", FALSE, LOG_INFO);
        return 0;
    }
    if (!DuplicateHandle(GetCurrentProcess(), pThread->m_hThread, GetCurrentProcess(), &m_hThread,
                         0, FALSE, DUPLICATE_SAME_ACCESS)) {
        // Without a handle nothing can wait for this run: no next one starts while it lives.
        m_hThread = NULL;
        m_logFile.WriteLog("The transfer run's handle could not be kept", FALSE, LOG_ERROR);
    }
    WaitForSingleObject(m_hEvent, INFINITE);
    m_logFile.WriteLog("----- OnResume()", FALSE, LOG_INFO);
    return 1;
}

CString CZELVDownloaderDlg::TargetFolder() const {
    const int nSlash = m_strDLFullName.ReverseFind('\\');
    return nSlash >= 0 ? m_strDLFullName.Left(nSlash) : CString();
}

BOOL CZELVDownloaderDlg::CheckDiskSpace(DWORD* pdwQueryError) {
    m_logFile.WriteLog("+++++ CheckDiskSpace()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    const BOOL bAnswered = GetDiskFreeSpaceExA(TargetFolder(), &freeToCaller, &total, &totalFree);
    if (pdwQueryError != NULL)
        *pdwQueryError = bAnswered ? ERROR_SUCCESS : GetLastError();
    if (bAnswered) {
        WriteLogLine(LOG_INFO, "Get disk space = %d MBs",
                     static_cast<int>(freeToCaller.QuadPart >> 20));
        bResult = freeToCaller.QuadPart > static_cast<ULONGLONG>(m_nServerFileSize);
    } else {
        m_logFile.WriteLog("ERROR TO CHECK DISK", FALSE, LOG_ERROR);
    }
    m_logFile.WriteLog("----- CheckDiskSpace()", FALSE, LOG_INFO);
    return bResult;
}

void CZELVDownloaderDlg::ShowProxyLink(BOOL bShow) {
    if (CWnd* pLink = GetDlgItem(IDC_STATIC_PROXY_LINK))
        pLink->ShowWindow(bShow ? SW_SHOW : SW_HIDE);
}

void CZELVDownloaderDlg::ShowResumeWarning() {
    MessageHandler(LoadText(IDS_ERROR_CAPTION),
                   FormatText(IDS_RESUME_WARNING, m_strURL.GetString()));
}

void CZELVDownloaderDlg::ReportProgressNotSaved() {
    m_logFile.WriteLog(LoadText(IDS_PROGRESS_NOT_SAVED), TRUE, LOG_ERROR);
}

int CZELVDownloaderDlg::RefuseResume(UINT nTextID) {
    m_strResumeRefusal = LoadText(nTextID);
    m_logFile.WriteLog(m_strResumeRefusal, TRUE, LOG_ERROR);
    m_logFile.WriteLog("----- OnResume()", FALSE, LOG_INFO);
    return 0;
}

LRESULT CZELVDownloaderDlg::OnAutoResume(WPARAM, LPARAM) {
    // A completion, a new start or the user's own resume may have come first: the drop's resume
    // is for a download that is still paused, and only then is it a click of the main button.
    if (m_nStatus != STATUS_PAUSED) {
        WriteLogLine(LOG_INFO, "The automatic resume is not needed in state %d", m_nStatus.load());
        return 0;
    }
    OnBnClickedAction();
    return 0;
}
