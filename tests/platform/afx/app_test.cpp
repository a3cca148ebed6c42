// The class library's main routine, once per program (it makes and ends Qt's application).
#include "platform/afx/app.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "platform/base/exceptions.h"
#include "platform/window/dispatch.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_ops.h"
#include "support/platform/window_test_support.h"

namespace {

class App : public CWinApp {
  public:
    App() : CWinApp("Zelv Test") {}
    std::vector<std::string> steps;
    INT_PTR dialogResult = 0;
    bool mainWindowForgotten = false;
    BOOL commonControls = FALSE;

    BOOL InitApplication() override {
        steps.push_back("InitApplication");
        return CWinApp::InitApplication();
    }
    BOOL InitInstance() override {
        steps.push_back("InitInstance");
        INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        commonControls = InitCommonControlsEx(&init);
        CWinApp::InitInstance();
        AfxEnableControlContainer();
        SetRegistryKey("Local AppWizard-Generated Applications");
        wintest::RecordingDialog dialog;
        m_pMainWnd = &dialog;
        // The window system's close command ends the dialog through WM_CLOSE's default.
        dialog.onInit = [](wintest::RecordingDialog& d) { d.PostMessage(WM_SYSCOMMAND, SC_CLOSE); };
        dialogResult = platform::testing::RunModal(dialog, wintest::StandardTemplate());
        mainWindowForgotten = m_pMainWnd == nullptr;
        return FALSE;
    }
    int ExitInstance() override {
        steps.push_back("ExitInstance");
        return CWinApp::ExitInstance();
    }
    int Run() override {
        steps.push_back("Run");
        return CWinApp::Run();
    }
};

App theApp;

TEST(AfxWinMain, RunsTheStartUpAndEndsAfterInitInstanceReturnsFalse) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_EQ(AfxGetApp(), &theApp);
    EXPECT_STREQ(AfxGetAppName(), "Zelv Test");
    static char name[] = "app_test";
    char* argv[] = {name, nullptr};
    int code = AfxWinMain(1, argv);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(theApp.steps,
              (std::vector<std::string>{"InitApplication", "InitInstance", "ExitInstance"}));
    EXPECT_TRUE(theApp.commonControls);
    EXPECT_EQ(theApp.dialogResult, IDCANCEL);
    EXPECT_TRUE(theApp.mainWindowForgotten);
    EXPECT_STREQ(theApp.m_pszRegistryKey, "Local AppWizard-Generated Applications");
    EXPECT_FALSE(platform::UiRunning());
    // A worker that asks for a box once the user interface has ended is not left waiting.
    int answer = -1;
    std::thread([&] { answer = MessageBoxA(nullptr, "late", "", MB_OK); }).join();
    EXPECT_EQ(answer, 0);
}

// The box that reports a handler's exception is captioned with the application's name.
TEST(CWinApp, AHandlersExceptionIsReportedUnderTheApplicationsName) {
    platform::testing::EnsureUi();
    platform::testing::ScriptedResponder responder;
    platform::RunGuarded(nullptr, []() -> LRESULT { AfxThrowInvalidArgException(); });
    const auto boxes = responder.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Zelv Test");
    EXPECT_EQ(boxes[0].text, "An invalid argument was encountered.");
}

}  // namespace
