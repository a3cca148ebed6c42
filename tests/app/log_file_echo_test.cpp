#include <gtest/gtest.h>

#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"
#include "support/app/app_fixture.h"

namespace apptest {
namespace {

TEST_F(DialogTest, LogEchoesTheBareTextInTheStatusLineOnceItHasAnOwner) {
    std::string logPath;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.SetDlgItemText(IDC_STATIC_STATUS, "template text");
        dlg.m_logFile.WriteLog("before the log is opened", TRUE, LOG_INFO);
        EXPECT_EQ("template text", dlg.Text(IDC_STATIC_STATUS)) << "no owner yet";

        logPath = dlg.OpenLog();
        dlg.m_logFile.WriteLog("Can't find config file!!", TRUE, LOG_FATAL);
        EXPECT_EQ("Can't find config file!!", dlg.Text(IDC_STATIC_STATUS));
        dlg.m_logFile.WriteLog("not shown", FALSE, LOG_INFO);
        EXPECT_EQ("Can't find config file!!", dlg.Text(IDC_STATIC_STATUS));
        dlg.m_logFile.WriteLog("100% done", TRUE, LOG_INFO);
        EXPECT_EQ("100% done", dlg.Text(IDC_STATIC_STATUS)) << "written literally";
        dlg.m_logFile.WriteLog("", TRUE, LOG_INFO);
        EXPECT_EQ("", dlg.Text(IDC_STATIC_STATUS)) << "an empty text empties it";

        // From a worker, while the user-interface thread waits for it.
        CWinThread* worker = AfxBeginThread(
            [](LPVOID param) -> UINT {
                static_cast<TestDlg*>(param)->m_logFile.WriteLog("from the worker", TRUE,
                                                                 LOG_ERROR);
                return 0;
            },
            &dlg, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
        ASSERT_NE(nullptr, worker);
        HANDLE handle = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker->m_hThread, GetCurrentProcess(),
                                    &handle, 0, FALSE, DUPLICATE_SAME_ACCESS));
        worker->ResumeThread();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handle, 10000));
        CloseHandle(handle);
        EXPECT_EQ("from the worker", dlg.Text(IDC_STATIC_STATUS));

        dlg.m_logFile.Close();
        dlg.m_logFile.WriteLog("after the close", TRUE, LOG_INFO);
        EXPECT_EQ("after the close", dlg.Text(IDC_STATIC_STATUS))
            << "the echo outlives the file while the window exists";
    }));
    const auto lines = LogLines(logPath);
    const std::vector<std::string> expected = {"FATAL ERROR:Can't find config file!!",
                                               "INFO: not shown", "INFO: 100% done",
                                               "INFO: ", "ERROR: from the worker"};
    EXPECT_EQ(expected, lines);
}

}  // namespace
}  // namespace apptest
