// Back to a new start (completion or discard), and the handling of a dropped run.
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"
#include "platform/fs/folders.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"
#include "platform/registry/registry.h"

BOOL CZELVDownloaderDlg::IsWorkerActive() const {
    DWORD dwExitCode = 0;
    return m_hThread != NULL && GetExitCodeThread(m_hThread, &dwExitCode) &&
           dwExitCode == STILL_ACTIVE;
}

BOOL CZELVDownloaderDlg::WaitForWorkerEnd() {
    if (m_hThread == NULL)
        return m_nLiveWorkers.load() == 0;
    if (IsWorkerActive() && WaitForSingleObject(m_hThread, m_dwWorkerWaitMs) != WAIT_OBJECT_0) {
        m_logFile.WriteLog("The transfer run has not ended; what it uses is kept", FALSE,
                           LOG_ERROR);
        return FALSE;
    }
    return TRUE;
}

void CZELVDownloaderDlg::BackToStartNewEnv(BOOL bDeleteFile) {
    m_logFile.WriteLog("+++++ BackToStartNewEnv()", FALSE, LOG_INFO);
    // The stop request first: a run that is still in its loop (completion is seen while it
    // may be) ends before its file is deleted or verified and before its records go.
    m_nStatus = STATUS_START_NEW;
    const BOOL bWorkerEnded = WaitForWorkerEnd();
    if (bDeleteFile && !m_strDLFullName.IsEmpty())
        DeleteFileA(m_strDLFullName);
    WriteLogLine(LOG_INFO, "Force to back to START_NEW Env?? %d", bDeleteFile ? 1 : 0);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis\\Downloader");
    if (m_pDLInfo != NULL && bWorkerEnded) {
        delete[] m_pDLInfo;
        m_pDLInfo = NULL;
    }
    m_nServerFileSize = 0;
    m_bRangesByte = FALSE;
    ResetProgressBar();
    m_nStatus = STATUS_START_NEW;
    SyncUIStatus();
    if (bDeleteFile)
        SetDlgItemText(IDC_STATIC_STATUS, "");
    m_logFile.WriteLog("----- BackToStartNewEnv()", FALSE, LOG_INFO);
}

void CZELVDownloaderDlg::ConnectionsDropped() {
    m_logFile.WriteLog("+++++ ConnectionsDropped()", FALSE, LOG_INFO);
    m_nStatus = STATUS_PAUSED;
    KillTimer(IDT_PROGRESS);
    const BOOL bSaved = SaveRegConnectionInfo();
    const CString strText = FormatText(IDS_DOWNLOAD_FAILED, m_strURL.GetString());
    m_logFile.WriteLog(strText, TRUE, LOG_ERROR);
    ShowProxyLink(TRUE);
    SyncUIStatus();
    if (!bSaved)
        ReportProgressNotSaved();
    m_logFile.WriteLog("----- ConnectionsDropped()", FALSE, LOG_INFO);
    if (--m_nRetryCount > 0) {
        PostMessage(WM_AUTO_RESUME, 0, 0);
    } else {
        CString strCaption;
        strCaption.LoadString(IDS_ERROR_CAPTION);
        MessageHandler(strCaption, strText);
        m_nRetryCount = DEFAULT_RETRY_COUNT;
        // The box left the exit button alone: the main button must offer the resume again.
        if (m_nStatus == STATUS_PAUSED)
            SyncUIStatus();
    }
}
