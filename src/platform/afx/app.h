// CWinApp and the class library's main routine.
//
// The one application object registers itself when it is constructed (during static
// initialisation). AfxWinMain makes Qt's application object (the arguments are passed through,
// so QT_QPA_PLATFORM and Qt's own options are honoured), starts the user-interface queue, its
// kernel wait pump and the view, and then runs InitApplication and InitInstance; on FALSE it
// runs ExitInstance and returns its result, otherwise it runs Run (the loop until
// PostQuitMessage). A main.cpp of a few lines calls it.
#pragma once

#include <string>

#include "platform/afx/message_map.h"
#include "platform/afx/wnd.h"

class CWinApp : public CCmdTarget {
  public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication();
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();
    // Recorded only: this layer keeps no application profile in the registry.
    void SetRegistryKey(LPCSTR key);

    // The help command has no help file to open here: it does nothing.
    afx_msg void OnHelp();

    CWnd* m_pMainWnd = nullptr;
    LPCSTR m_pszAppName = nullptr;
    LPCSTR m_pszRegistryKey = nullptr;

  private:
    std::string appName_;
    std::string registryKey_;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
// The application's name: the name given to its constructor, else the program's file name.
LPCSTR AfxGetAppName();
CWnd* AfxGetMainWnd();
void AfxEnableControlContainer();
int AfxWinMain(int argc, char** argv);

namespace platform {
// Clears m_pMainWnd when it refers to `wnd`, which is going away.
void ForgetMainWindow(CWnd* wnd);
}  // namespace platform
