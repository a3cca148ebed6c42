// The control group and the failure box.
#include "app/downloader_dlg.h"

namespace {
// Switched together, always in this order.
const int kControlGroup[] = {IDC_BUTTON_EXIT, IDC_BUTTON_ACTION, IDC_COMBO_PRODUCT,
                             IDC_BUTTON_BROWSE};
}  // namespace

void CZELVDownloaderDlg::EnableControls(BOOL bEnable) {
    for (int id : kControlGroup) {
        if (CWnd* pCtrl = GetDlgItem(id))
            pCtrl->EnableWindow(bEnable);
    }
}

void CZELVDownloaderDlg::MessageHandler(CString strCaption, CString strText) {
    m_logFile.WriteLog("+++++ MessageHandler()", FALSE, LOG_FATAL);
    EnableControls(FALSE);
    if (!strText.IsEmpty()) {
        m_logFile.WriteLog(strText, FALSE, LOG_FATAL);
        MessageBox(strText, strCaption, MB_OK);
    }
    if (CWnd* pExit = GetDlgItem(IDC_BUTTON_EXIT))
        pExit->EnableWindow(TRUE);
    m_logFile.WriteLog("----- MessageHandler()", FALSE, LOG_FATAL);
}
