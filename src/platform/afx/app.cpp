#include "platform/afx/app.h"

#include <atomic>
#include <cerrno>

#include "platform/base/exceptions.h"
#include "platform/view/qt_session.h"
#include "platform/window/dispatch.h"
#include "platform/window/ui_queue.h"

namespace {
std::atomic<CWinApp*> g_app{nullptr};
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR appName) {
    appName_ = appName != nullptr ? appName : program_invocation_short_name;
    m_pszAppName = appName_.c_str();
    CWinApp* none = nullptr;
    if (g_app.compare_exchange_strong(none, this))
        platform::SetFailureCaptionSource(&AfxGetAppName);
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    if (g_app.compare_exchange_strong(self, nullptr))
        platform::SetFailureCaptionSource(nullptr);
}

BOOL CWinApp::InitApplication() {
    return TRUE;
}
BOOL CWinApp::InitInstance() {
    return TRUE;
}
int CWinApp::ExitInstance() {
    return platform::QuitCode();
}

int CWinApp::Run() {
    platform::RunNestedLoop([] { return platform::QuitRequested(); });
    return ExitInstance();
}

void CWinApp::SetRegistryKey(LPCSTR key) {
    registryKey_ = key != nullptr ? key : "";
    m_pszRegistryKey = registryKey_.c_str();
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
    return g_app.load();
}

LPCSTR AfxGetAppName() {
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->m_pszAppName != nullptr ? app->m_pszAppName
                                                          : program_invocation_short_name;
}

CWnd* AfxGetMainWnd() {
    CWinApp* app = AfxGetApp();
    return app != nullptr ? app->m_pMainWnd : nullptr;
}

void AfxEnableControlContainer() {}

int AfxWinMain(int argc, char** argv) {
    // Qt keeps a reference to the count for the application object's lifetime.
    static int s_argc;
    s_argc = argc;
    platform::StartUi(s_argc, argv);
    int code = -1;
    if (CWinApp* app = AfxGetApp()) {
        try {
            if (!app->InitApplication() || !app->InitInstance()) {
                code = app->ExitInstance();
            } else {
                code = app->Run();
            }
        } catch (CException* e) {
            platform::ReportException(nullptr, e);
        }
    }
    platform::StopUi();
    return code;
}

namespace platform {

void ForgetMainWindow(CWnd* wnd) {
    CWinApp* app = AfxGetApp();
    if (app != nullptr && wnd != nullptr && app->m_pMainWnd == wnd)
        app->m_pMainWnd = nullptr;
}

}  // namespace platform
