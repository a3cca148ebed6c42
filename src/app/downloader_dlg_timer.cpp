#include "app/downloader_dlg.h"
void CZELVDownloaderDlg::OnTimer(UINT_PTR nIDEvent) { CDialog::OnTimer(nIDEvent); }
