// The application object: single instance, resource library, modal main dialog.
#pragma once

#include "platform/afx/app.h"
#include "platform/afx/message_map.h"

class CZELVDownloaderDlg;

class CZELVDownloaderApp : public CWinApp {
  public:
    CZELVDownloaderApp();

    BOOL InitInstance() override;
    // Ends the process at once when a worker outlived the close handler's wait: it still uses
    // the dialog, its records, the log and the resource library, so none of them may be
    // destroyed. The log's buffered lines and the registry go to the disk first. Returns when
    // no worker lives.
    static void EndIfWorkerOutlivedClose(CZELVDownloaderDlg& dlg);

    DECLARE_MESSAGE_MAP()
};

extern CZELVDownloaderApp theApp;
