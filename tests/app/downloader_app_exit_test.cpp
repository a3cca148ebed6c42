// The start-up's end when a worker outlived the close handler's wait: the process ends at once,
// without the exit's clean-up, and what the worker logged and saved after the close is on the
// disk all the same. The run is a child process (this program again), since it ends there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/dl_info.h"
#include "app/downloader_app.h"
#include "platform/afx/app.h"
#include "platform/modules/resources.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

const char kChildVar[] = "ZELV_QUICK_EXIT_CHILD";
const char kLateLine[] = "a line of the late worker";
constexpr DWORD kLateSave = 4321;

// The child: a run whose close finds a worker still alive, which then logs and saves.
TEST(QuickExitChild, EndsWhileAWorkerLives) {
    if (std::getenv(kChildVar) == nullptr)
        GTEST_SKIP() << "runs only as the child of QuickExitTest";
    platform::testing::EnsureUi();
    HMODULE resources = LoadLibraryA("ZELVDlderRes.dll");
    ASSERT_NE(nullptr, resources);
    AfxSetResourceHandle(resources);
    TestDlg dlg;
    dlg.body = [&](TestDlg& d) {
        d.OpenLog();
        d.m_nSplitNum = 1;
        d.m_pDLInfo = new DLInfo[1]();
        d.m_nLiveWorkers.fetch_add(1);  // the worker that the wait gave up on
        d.PostMessage(WM_CLOSE, 0, 0);
        ASSERT_TRUE(platform::testing::PumpUntil([&] { return d.Ended(); }, 20000));
    };
    dlg.DoModal();
    dlg.m_logFile.WriteLogFormat(LOG_INFO, "%s", kLateLine);
    dlg.m_pDLInfo[0].dwSyncedBytes.store(kLateSave);
    ASSERT_TRUE(dlg.SaveRegConnectionInfo());
    CZELVDownloaderApp::EndIfWorkerOutlivedClose(dlg);
    ADD_FAILURE() << "the process went on while a worker lives";
}

class QuickExitTest : public fixtures::SandboxTest {};

TEST_F(QuickExitTest, TheWorkersLateLinesAndSavesReachTheDisk) {
    fixtures::ChildOptions options = ThisProgram("QuickExitChild.*");
    options.setEnvironment = {std::string(kChildVar) + "=1"};
    fixtures::ChildProcess child;
    std::string why;
    ASSERT_TRUE(child.Start(options, &why)) << why;
    ASSERT_TRUE(child.WaitForExit(std::chrono::seconds(60))) << "the child did not end";
    const int status = child.status();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status));

    std::string log;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox_.root())) {
        if (entry.path().filename() == "Download.log")
            log = fixtures::Sandbox::ReadFile(entry.path().string());
    }
    EXPECT_NE(std::string::npos, log.find("!!!!!  WM_CLOSE  !!!!!")) << log;
    EXPECT_NE(std::string::npos, log.find(kLateLine)) << "the buffered line was flushed";

    // Checkpointed: the database file alone holds the values, no journal is left.
    const std::string wal = sandbox_.state() + "/ZELVDownloader/registry.sqlite3-wal";
    std::error_code error;
    const auto walSize = std::filesystem::file_size(wal, error);
    EXPECT_TRUE(error || walSize == 0) << walSize << " bytes left in the journal";
    DWORD saved = 0;
    EXPECT_TRUE(ReadSavedNumber("SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect0",
                                "WrittenBytes", &saved));
    EXPECT_EQ(kLateSave, saved);
}

}  // namespace
}  // namespace apptest
