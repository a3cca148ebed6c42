// The end of a run whose worker outlived the close handler's wait.
#include <cstdlib>

#include "app/downloader_app.h"
#include "app/downloader_dlg.h"
#include "platform/registry/registry.h"

void CZELVDownloaderApp::EndIfWorkerOutlivedClose(CZELVDownloaderDlg& dlg) {
    if (!dlg.HasLiveWorker())
        return;
    // No exit-time clean-up runs from here on: the worker's buffered log lines and the
    // registry's last values are put on the disk now.
    dlg.FlushLog();
    RegFlushKey(HKEY_LOCAL_MACHINE);
    std::_Exit(0);
}
