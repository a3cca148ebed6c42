// The system proxy and the proxy-settings link (not built yet).
#include "app/downloader_dlg.h"

BOOL CZELVDownloaderDlg::GetProxySetting() {
    return FALSE;
}
void CZELVDownloaderDlg::OnBnClickedProxy() {}
