// The main button, exit, close, browse and product change (not built yet).
#include "app/downloader_dlg.h"

void CZELVDownloaderDlg::OnBnClickedAction() {}
void CZELVDownloaderDlg::OnExit() {}
void CZELVDownloaderDlg::OnClose() {
    CDialog::OnClose();
}
void CZELVDownloaderDlg::OnBrowse() {}
void CZELVDownloaderDlg::OnSelChangeProduct() {}
