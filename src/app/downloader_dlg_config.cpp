// The configuration reader (not built yet).
#include "app/downloader_dlg.h"

int CZELVDownloaderDlg::LoadConfigFileSettings() {
    return 0;
}
