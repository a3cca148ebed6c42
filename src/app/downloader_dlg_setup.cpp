// The dialog set-up (not built yet: the class library's own).
#include "app/downloader_dlg.h"

BOOL CZELVDownloaderDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    return TRUE;
}
void CZELVDownloaderDlg::InitUIText() {}
