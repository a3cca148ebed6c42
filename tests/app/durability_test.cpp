// A process killed with SIGKILL at any moment, pauses and their saves included, leaves a store
// that the next run either resumes into a correct file or refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <thread>

#include "app/dl_info.h"
#include "engine_fixture.h"
#include "platform/app.h"
#include "platform/resources.h"
#include "platform/test_seams.h"

namespace apptest {
namespace {

using fixtures::Fault;

const char kUrlVar[] = "ZELV_DURABILITY_URL";
const char kTargetVar[] = "ZELV_DURABILITY_TARGET";

// The child: downloads, pausing and resuming again and again, until it is killed.
TEST(DurabilityChild, PausesAndResumesUntilKilled) {
    const char* url = std::getenv(kUrlVar);
    const char* target = std::getenv(kTargetVar);
    if (url == nullptr || target == nullptr)
        GTEST_SKIP() << "runs only as the child of DurabilityTest";
    platform::EnsureUi();
    HMODULE resources = LoadLibraryA("ZELVDlderRes.dll");
    ASSERT_NE(nullptr, resources);
    AfxSetResourceHandle(resources);
    TestTicks ticks;
    TestDlg dlg;
    dlg.body = [&](TestDlg& d) {
        PrepareDownload(d, url, 4, "", target);
        std::mt19937 random(static_cast<unsigned>(getpid()));
        for (;;) {
            d.OnBnClickedAction();  // start or resume
            platform::testing::PumpFor(100 + static_cast<int>(random() % 300));
            d.OnBnClickedAction();  // pause: the save
            platform::testing::PumpFor(static_cast<int>(random() % 50));
        }
    };
    dlg.DoModal();
}

class DurabilityTest : public ServedEngineTest {
  protected:
    pid_t SpawnChild() {
        return SpawnThisProgram("DurabilityChild.*", {std::string(kUrlVar) + "=" + Url(),
                                                      std::string(kTargetVar) + "=" + target_});
    }
};

TEST_F(DurabilityTest, EveryKillLeavesAStateThatResumesIntoTheServersFileOrIsRefused) {
    server_.AddFault("/setup.exe", Fault::RateLimit(96 * 1024));
    std::mt19937 random(12345);
    int resumable = 0;
    for (int kill = 0; kill < 6; ++kill) {
        SCOPED_TRACE(kill);
        const pid_t child = SpawnChild();
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(800 + random() % 2500));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself";

        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            if (!dlg.LoadRegProgressInfo() || !dlg.LoadRegConnectionInfo())
                return;  // refused: nothing of it is used
            ++resumable;
            const std::string onDisk = TargetBytes();
            for (int i = 0; i < dlg.m_nSplitNum; ++i) {
                const DLInfo& info = dlg.m_pDLInfo[i];
                const DWORD written = info.dwWrittenBytes.load();
                ASSERT_LE(info.dwStartRange + written, onDisk.size());
                EXPECT_TRUE(onDisk.compare(info.dwStartRange, written, bytes_, info.dwStartRange,
                                           written) == 0)
                    << "connection " << i << " counts bytes that are not on the disk";
            }
        }));
    }
    EXPECT_GT(resumable, 0) << "no kill left a resumable state: the test proved nothing";

    // The last state resumes into the server's file.
    server_.ClearFaults("/setup.exe");
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        if (dlg.LoadRegProgressInfo() && dlg.LoadRegConnectionInfo())
            dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

}  // namespace
}  // namespace apptest
