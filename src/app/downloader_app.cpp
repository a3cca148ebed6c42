#include "app/downloader_app.h"

#include "app/downloader_dlg.h"
#include "platform/base/lasterror.h"
#include "platform/kernel/sync.h"
#include "platform/modules/resources.h"
#include "platform/window/messages.h"
#include "platform/window/window_ops.h"

BEGIN_MESSAGE_MAP(CZELVDownloaderApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CZELVDownloaderApp::CZELVDownloaderApp() = default;

CZELVDownloaderApp theApp;

BOOL CZELVDownloaderApp::InitInstance() {
    // The handle stays open until the process ends: it keeps the name in existence while
    // this copy runs.
    HANDLE hMutex = CreateMutexA(NULL, FALSE, "Corvantis Tessarine Setup");
    if (hMutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        ReleaseMutex(hMutex);
        return FALSE;
    }

    HMODULE hResource = LoadLibraryA("ZELVDlderRes.dll");

    INITCOMMONCONTROLSEX initCtrls;
    initCtrls.dwSize = sizeof(initCtrls);
    initCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&initCtrls);

    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey("Local AppWizard-Generated Applications");

    AfxSetResourceHandle(hResource);

    {
        CZELVDownloaderDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        EndIfWorkerOutlivedClose(dlg);

        FreeLibrary(hResource);
        ReleaseMutex(hMutex);
        m_pMainWnd = NULL;
    }
    return FALSE;
}
