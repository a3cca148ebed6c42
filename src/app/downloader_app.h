// The application object: single instance, resource library, modal main dialog.
#pragma once

#include "platform/app.h"
#include "platform/message_map.h"

class CZELVDownloaderApp : public CWinApp {
  public:
    CZELVDownloaderApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CZELVDownloaderApp theApp;
