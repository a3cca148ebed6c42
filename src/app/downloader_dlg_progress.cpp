// The progress tick and the stall watchdog.
#include <cstdio>

#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"

namespace {
constexpr size_t kProgressTextMax = 1022;
}

int CZELVDownloaderDlg::CaculateProgressPos() {
    m_logFile.WriteLog("+++++ CaculateProgressPos()", FALSE, LOG_INFO);
    if (m_pDLInfo == NULL || m_nServerFileSize == 0) {
        m_logFile.WriteLog("----- CaculateProgressPos() return -1", FALSE, LOG_INFO);
        return -1;
    }
    DWORD dwTotal = 0;
    const int nSplit = m_nSplitNum;
    for (int i = 0; i < nSplit; ++i) {
        const DWORD dwWritten = m_pDLInfo[i].dwWrittenBytes.load();
        WriteLogLine(LOG_INFO, "Connect%d has written = %d Bytes.", i, static_cast<int>(dwWritten));
        dwTotal += dwWritten;
    }
    if (dwTotal == m_nLastWritten && m_nLastWritten != m_nServerFileSize)
        ++m_nStallTicks;
    else
        m_nStallTicks = 0;
    m_nLastWritten = dwTotal;

    const double dPercent = static_cast<double>(dwTotal) * 100.0 / m_nServerFileSize;
    m_progress.SendMessage(PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(dPercent)), 0);

    CString strText =
        FormatText(IDS_PROGRESS_FMT, dwTotal / 1048576.0, m_nServerFileSize / 1048576.0);
    if (static_cast<size_t>(strText.GetLength()) > kProgressTextMax)
        strText = strText.Left(static_cast<int>(kProgressTextMax));
    m_logFile.WriteLog(strText, TRUE, LOG_INFO);

    if (dPercent >= 100.0) {
        CString strClose;
        strClose.LoadString(IDS_BUTTON_CLOSE);
        SetDlgItemText(IDC_BUTTON_EXIT, strClose);
        KillTimer(IDT_PROGRESS);
        m_bCompletionCheck = TRUE;
        BackToStartNewEnv(FALSE);
        const BOOL bLaunched = ExecuteInstallation();
        m_bCompletionCheck = FALSE;
        if (bLaunched)
            PostMessage(WM_CLOSE, 0, 0);
    }
    m_logFile.WriteLog("----- CaculateProgressPos()", FALSE, LOG_INFO);
    return 0;
}

void CZELVDownloaderDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == IDT_PROGRESS) {
        CaculateProgressPos();
        if (m_nStallTicks >= STALL_TICK_LIMIT) {
            m_logFile.WriteLog(
                "File size not changed over 60 seconds, start to pause all "
                "threads and resume them after for retrying.",
                FALSE, LOG_INFO);
            OnPause();
            OnResume();
            m_nStallTicks = 0;
            // A resume that failed (its box left the exit button alone) stays paused: the main
            // button must offer the resume.
            if (m_nStatus == STATUS_PAUSED)
                SyncUIStatus();
        }
    }
    CDialog::OnTimer(nIDEvent);
}
