// The user's commands: the main button, exit, close, Enter and Esc, browse and product change.
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"
#include "app/url_file_name.h"
#include "platform/afx/file_dialog.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"

namespace {
constexpr DWORD ACTION_DEBOUNCE_MS = 500;
// The previous click of the main button, ignored clicks included; one for the process.
DWORD s_dwLastClickTick = 0;
}  // namespace

void CZELVDownloaderDlg::SelectProductOfURL() {
    // A product whose URL is the saved one wins over one whose URL only begins it.
    int nFound = -1;
    for (int i = 0; i < m_arrProductURL.GetSize(); ++i) {
        const CString& strProduct = m_arrProductURL[i];
        if (m_strURL == strProduct) {
            nFound = i;
            break;
        }
        if (nFound < 0 && m_strURL.Left(strProduct.GetLength()) == strProduct)
            nFound = i;
    }
    if (nFound >= 0)
        m_cbProduct.SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nFound), 0);
}

BOOL CZELVDownloaderDlg::WorkerRuns() const {
    return m_nLiveWorkers.load() > 0 || m_nStatus == STATUS_DOWNLOADING;
}

void CZELVDownloaderDlg::OnBnClickedAction() {
    const DWORD dwNow = GetTickCount();
    const DWORD dwElapsed = dwNow - s_dwLastClickTick;
    s_dwLastClickTick = dwNow;
    if (dwElapsed < ACTION_DEBOUNCE_MS)
        return;
    EnableControls(FALSE);
    switch (m_nStatus.load()) {
        case STATUS_PAUSED:
            OnResume();
            break;
        case STATUS_START_NEW:
            OnStart();
            break;
        case STATUS_DOWNLOADING:
            OnPause();
            break;
        case STATUS_FINISHED:
            if (OnLaunch()) {
                PostMessage(WM_CLOSE, 0, 0);
            } else {
                // The dialog stays, and the state display checks the file again as a new start.
                m_nStatus = STATUS_START_NEW;
            }
            break;
        default:
            break;
    }
    SyncUIStatus();
}

void CZELVDownloaderDlg::OnExit() {
    EnableControls(FALSE);
    BOOL bWasRunning = FALSE;
    if (m_nStatus == STATUS_DOWNLOADING) {
        OnPause();
        bWasRunning = TRUE;
    }
    const CString strQuestion = LoadText(IDS_ASK_KEEP_DOWNLOAD);
    const CString strCaption = LoadText(IDS_MSGBOX_CAPTION);
    if (m_nStatus != STATUS_START_NEW && m_nStatus != STATUS_FINISHED) {
        if (!m_bRangesByte) {
            BackToStartNewEnv(TRUE);
        } else {
            const int nAnswer = MessageBox(strQuestion, strCaption, MB_YESNOCANCEL);
            if (nAnswer == IDNO) {
                BackToStartNewEnv(TRUE);
            } else if (nAnswer == IDCANCEL) {
                // Decided by the state after the question: its loop may have run a queued click
                // (an automatic resume) that set the download going again meanwhile.
                EnableControls(TRUE);
                // A run that stops before it begins leaves the download paused: shown, with why.
                if (bWasRunning && m_nStatus == STATUS_PAUSED && OnResume() &&
                    m_nStatus == STATUS_PAUSED)
                    SyncUIStatus();
                if (WorkerRuns())
                    DisableChoiceControls();
                return;
            }
        }
    }
    PostMessage(WM_CLOSE, 0, 0);
}

void CZELVDownloaderDlg::OnClose() {
    EnableControls(FALSE);
    m_arrProductURL.RemoveAll();
    m_arrGuideURL.RemoveAll();
    m_arrFAQURL.RemoveAll();
    m_arrProductMD5.RemoveAll();
    const BOOL bWasRunning = IsWorkerActive();
    if (bWasRunning) {
        m_nStatus = STATUS_PAUSED;
        WaitForSingleObject(m_hThread, THREAD_WAIT_MS);
    }
    KillTimer(IDT_PROGRESS);
    // What a worker that outlived the wait still uses stays: the records, its handle, the log
    // and the start event (the process then ends without destroying this object).
    const BOOL bWorkerEnded = m_nLiveWorkers.load() == 0;
    if (bWorkerEnded) {
        // A close from the window manager keeps what the run has put on the disk, as a pause
        // does: the next start resumes there instead of starting every range again.
        if (bWasRunning && m_bRangesByte)
            SaveRegConnectionInfo();
        delete[] m_pDLInfo;
        m_pDLInfo = NULL;
        if (m_hThread != NULL) {
            CloseHandle(m_hThread);
            m_hThread = NULL;
        }
    }
    m_logFile.WriteLog("!!!!!  WM_CLOSE  !!!!!", FALSE, LOG_INFO);
    if (bWorkerEnded)
        m_logFile.Close();
    Default();
    if (bWorkerEnded && m_hEvent != NULL) {
        CloseHandle(m_hEvent);
        m_hEvent = NULL;
    }
}

void CZELVDownloaderDlg::OnOK() {
    // Enter never ends the dialog behind a running download's back; without one it leaves the
    // way the close handler does, so everything is released in order.
    if (!WorkerRuns())
        PostMessage(WM_CLOSE, 0, 0);
}

void CZELVDownloaderDlg::OnCancel() {
    if (!WorkerRuns())
        PostMessage(WM_CLOSE, 0, 0);
}

void CZELVDownloaderDlg::OnBrowse() {
    CFileDialog dlgFile(FALSE, "*.*", FileNameOfURL(m_strURL),
                        OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "*.exe|*.exe||", this);
    if (dlgFile.DoModal() != IDOK)
        return;
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const CString strPath = dlgFile.GetPathName();
    if (m_nStatus == STATUS_PAUSED && strPath != m_strDLFullName) {
        if (MessageBox("This operation will delete currently downloaded files. Do you want to "
                       "continue?",
                       "Tessarine", MB_YESNO) != IDYES)
            return;
        BackToStartNewEnv(TRUE);
    }
    UpdateDLFullName(strPath);
    if (m_nStatus == STATUS_FINISHED) {
        // The file at the new path has not been verified: the main button must not start it.
        m_nStatus = STATUS_START_NEW;
        SyncUIStatus();
    }
}

void CZELVDownloaderDlg::OnSelChangeProduct() {
    if (m_nStatus == STATUS_PAUSED) {
        if (MessageBox(LoadText(IDS_ASK_CHANGE_PRODUCT), LoadText(IDS_MSGBOX_CAPTION), MB_YESNO) !=
            IDYES) {
            SelectProductOfURL();
            return;
        }
        BackToStartNewEnv(TRUE);
    }
    const int nSel = m_cbProduct.GetCurSel();
    if (nSel < 0 || nSel >= m_arrProductURL.GetSize())
        return;  // no entry for the selection: nothing changes
    if (m_nStatus == STATUS_FINISHED)
        m_nStatus = STATUS_START_NEW;
    m_strURL = m_arrProductURL[nSel];
    const int nSlash = m_strDLFullName.ReverseFind('\\');
    UpdateDLFullName(m_strDLFullName.Left(nSlash + 1) + FileNameOfURL(m_strURL));
    SyncUIStatus();
}
