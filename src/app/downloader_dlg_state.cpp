// The state display: the main button's caption and the control group from the download state.
#include "app/downloader_dlg.h"
#include "app/resource_text.h"

namespace {
constexpr int HTTP_STATUS_PROXY_AUTH_REQ = 407;

// The status line shows a proxy's refusal of the probe: it tells the user what to change
// (the proxy settings), which "paused" would hide.
BOOL ShowsProxyRefusal(const CString& strStatus) {
    const CString strRefusal = FormatText(IDS_HTTP_STATUS_ERROR, HTTP_STATUS_PROXY_AUTH_REQ, "");
    return strStatus.Left(strRefusal.GetLength()) == strRefusal;
}
}  // namespace

void CZELVDownloaderDlg::DisableChoiceControls() {
    if (CWnd* pProduct = GetDlgItem(IDC_COMBO_PRODUCT))
        pProduct->EnableWindow(FALSE);
    if (CWnd* pBrowse = GetDlgItem(IDC_BUTTON_BROWSE))
        pBrowse->EnableWindow(FALSE);
}

int CZELVDownloaderDlg::SyncUIStatus() {
    m_logFile.WriteLog("+++++ SyncUIStatus()", FALSE, LOG_INFO);
    EnableControls(TRUE);
    CString strCaption;
    switch (m_nStatus.load()) {
        case STATUS_PAUSED: {
            strCaption.LoadString(IDS_BUTTON_RESUME);
            SetDlgItemText(IDC_BUTTON_ACTION, strCaption);
            CString strPaused, strStatus;
            strPaused.LoadString(IDS_PAUSED);
            GetDlgItemText(IDC_STATIC_STATUS, strStatus);
            m_logFile.WriteLog(strPaused, !ShowsProxyRefusal(strStatus), LOG_INFO);
            if (OnUserInterfaceThread() && !m_strResumeRefusal.IsEmpty())
                SetDlgItemText(IDC_STATIC_STATUS, m_strResumeRefusal);
            break;
        }
        case STATUS_START_NEW:
        case STATUS_FINISHED:
            // The check runs on the user-interface thread only: on the worker (its drop path
            // meeting a completion or a discard) the state is shown as it stands.
            if ((OnUserInterfaceThread() && CheckMd5()) || m_nStatus == STATUS_FINISHED) {
                strCaption.LoadString(IDS_BUTTON_INSTALL);
                m_nStatus = STATUS_FINISHED;
            } else {
                strCaption.LoadString(IDS_BUTTON_START);
            }
            SetDlgItemText(IDC_BUTTON_ACTION, strCaption);
            break;
        case STATUS_DOWNLOADING:
            strCaption.LoadString(IDS_BUTTON_PAUSE);
            SetDlgItemText(IDC_BUTTON_ACTION, strCaption);
            DisableChoiceControls();
            break;
        default:
            m_logFile.WriteLog("Should not be here [switch case]", FALSE, LOG_INFO);
            break;
    }
    if (OnUserInterfaceThread())
        m_strResumeRefusal.Empty();
    WriteLogLine(LOG_INFO, "Current status is %d", m_nStatus.load());
    m_logFile.WriteLog("----- SyncUIStatus()", FALSE, LOG_INFO);
    return 0;
}
