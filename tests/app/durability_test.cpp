// A process killed with SIGKILL at any moment after it has saved its progress (while it
// downloads, pauses, saves again or resumes) leaves a store that the next run either resumes
// into a correct file or refuses; the last state left is resumed where it stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "app/dl_info.h"
#include "platform/afx/app.h"
#include "platform/modules/resources.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using fixtures::Fault;

const char kUrlVar[] = "ZELV_DURABILITY_URL";
const char kTargetVar[] = "ZELV_DURABILITY_TARGET";
// The number of the descriptor on which the child reports each save with one byte.
const char kSavesVar[] = "ZELV_DURABILITY_SAVES_FD";

// The child: downloads, pausing (and so saving) and resuming again and again, until it is
// killed; it reports every pause to the parent once the save is done.
TEST(DurabilityChild, PausesAndResumesUntilKilled) {
    const char* url = std::getenv(kUrlVar);
    const char* target = std::getenv(kTargetVar);
    if (url == nullptr || target == nullptr || std::getenv(kSavesVar) == nullptr)
        GTEST_SKIP() << "runs only as the child of DurabilityTest";
    const int saves = std::atoi(std::getenv(kSavesVar));
    platform::testing::EnsureUi();
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
            if (d.m_nStatus == CZELVDownloaderDlg::STATUS_PAUSED && write(saves, "s", 1) != 1)
                return;
            platform::testing::PumpFor(static_cast<int>(random() % 50));
        }
    };
    dlg.DoModal();
}

class DurabilityTest : public ServedEngineTest {
  protected:
    // A child with the read end of its save reports.
    struct Child {
        fixtures::ChildProcess process;
        int saves = -1;
        ~Child() {
            if (saves >= 0)
                close(saves);
        }
    };

    void StartChild(Child& child) {
        int pipeFds[2];
        ASSERT_EQ(0, pipe2(pipeFds, O_CLOEXEC));
        fixtures::ChildOptions options = ThisProgram("DurabilityChild.*");
        options.setEnvironment = {std::string(kUrlVar) + "=" + Url(),
                                  std::string(kTargetVar) + "=" + target_,
                                  std::string(kSavesVar) + "=" + std::to_string(pipeFds[1])};
        options.keepDescriptors = {pipeFds[1]};
        std::string error;
        const bool started = child.process.Start(options, &error);
        close(pipeFds[1]);
        child.saves = pipeFds[0];
        ASSERT_TRUE(started) << error;
    }

    // Waits for the child's next save report; false when it ended first or none came in time
    // (a bound for the slowest build, never reached by a healthy child).
    static bool NextSave(const Child& child) {
        pollfd p{child.saves, POLLIN, 0};
        if (poll(&p, 1, 120000) != 1)
            return false;
        char byte = 0;
        return read(child.saves, &byte, 1) == 1;
    }

    static void Kill(Child& child) {
        child.process.Kill();
        EXPECT_TRUE(WIFSIGNALED(child.process.status())) << "the child ended by itself";
    }
};

TEST_F(DurabilityTest, EveryKillAfterASaveLeavesAStateThatResumesWhereItStoppedOrIsRefused) {
    // About four seconds for the whole file over four connections: a child is killed well
    // before it could finish.
    server_.AddFault("/setup.exe", Fault::RateLimit(64 * 1024));
    std::mt19937 random(12345);
    int resumable = 0;
    for (int kill = 0; kill < 4; ++kill) {
        SCOPED_TRACE(kill);
        Child child;
        ASSERT_NO_FATAL_FAILURE(StartChild(child));
        // Killed after its first or second save, at a random moment of what follows:
        // downloading, pausing, saving again or resuming.
        const int savesFirst = 1 + static_cast<int>(random() % 2);
        for (int save = 0; save < savesFirst; ++save) {
            if (!NextSave(child)) {
                Kill(child);
                FAIL() << "the child reported no save";
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
        Kill(child);

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

    // The last state resumes where it stopped: each unfinished range is asked for from its
    // first byte plus what it holds, nothing from where it began.
    server_.ClearFaults("/setup.exe");
    ForgetLog();
    std::vector<std::string> expected;
    size_t requestsBefore = 0;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        ASSERT_TRUE(dlg.LoadRegProgressInfo());
        ASSERT_TRUE(dlg.LoadRegConnectionInfo()) << "the last kill left a resumable state";
        const int split = dlg.m_nSplitNum;
        const DWORD chunk = kSize / static_cast<DWORD>(split);
        for (int i = 0; i < split; ++i) {
            const DWORD position = dlg.m_pDLInfo[i].dwStartRange + dlg.m_pDLInfo[i].dwWrittenBytes;
            const DWORD end = i == split - 1 ? kSize : (static_cast<DWORD>(i) + 1) * chunk;
            if (position >= end)
                continue;
            expected.push_back("bytes=" + std::to_string(position) + "-" +
                               (i == split - 1 ? "" : std::to_string(end - 1)));
        }
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        requestsBefore = server_.Requests().size();
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    std::vector<std::string> asked = RangesAskedSince(server_, requestsBefore);
    std::sort(asked.begin(), asked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, asked);
    EXPECT_TRUE(LogHas("Detect this resume download ? 1"));
}

}  // namespace
}  // namespace apptest
