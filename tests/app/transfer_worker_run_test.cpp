// A transfer run as a whole: one connection for a server without byte ranges, every transfer
// paused at a stop request before the run lets go of them, and the progress timer that a run
// arms (also when it has nothing left to fetch) and that a pause stops.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "app/dl_info.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

// The real libcurl with a record of the calls by which a run lets go of its transfers: every
// call goes on to the library, so the run talks to the server as it always does.
namespace {
struct CurlCall {
    char what;  // 'p' paused, 'r' removed from the multi handle
    CURL* easy;
};
std::mutex g_curlCallsMutex;
std::vector<CurlCall> g_curlCalls;

void RecordCurlCall(char what, CURL* easy) {
    std::lock_guard<std::mutex> lock(g_curlCallsMutex);
    g_curlCalls.push_back({what, easy});
}

template <typename F>
F RealCurl(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" CURLcode curl_easy_pause(CURL* easy, int bitmask) {
    static const auto real = RealCurl<CURLcode (*)(CURL*, int)>("curl_easy_pause");
    RecordCurlCall('p', easy);
    return real(easy, bitmask);
}

extern "C" CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
    static const auto real = RealCurl<CURLMcode (*)(CURLM*, CURL*)>("curl_multi_remove_handle");
    RecordCurlCall('r', easy);
    return real(multi, easy);
}

namespace apptest {
namespace {

using fixtures::Fault;
using platform::testing::PumpUntil;

class WorkerRunTest : public ServedEngineTest {
  protected:
    std::vector<CurlCall> TakeCurlCalls() {
        std::lock_guard<std::mutex> lock(g_curlCallsMutex);
        return std::exchange(g_curlCalls, {});
    }
    bool WaitFinished(TestDlg& dlg) {
        return PumpUntil(
            [&] {
                return dlg.m_nStatus == CZELVDownloaderDlg::STATUS_FINISHED &&
                       dlg.m_nLiveWorkers.load() == 0;
            },
            60000);
    }
};

TEST_F(WorkerRunTest, AServerWithoutByteRangesGetsOneConnectionForThisAndLaterRuns) {
    server_.AddFault("/setup.exe", Fault::NoAcceptRanges());
    server_.AddFault("/setup.exe", Fault::RateLimit(256 * 1024));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg, 4);
        EXPECT_EQ(1, dlg.m_nSplitNum.load());
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 0; }, 20000));
        dlg.OnBnClickedAction();  // pause
        const DWORD written = Written(dlg);
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(std::vector<std::string>{"bytes=0-"}, RangesAskedSince(server_, 0));
        const size_t resumedAt = server_.Requests().size();
        server_.ClearFaults("/setup.exe");
        server_.AddFault("/setup.exe", Fault::NoAcceptRanges());
        dlg.OnBnClickedAction();  // resume
        EXPECT_EQ(1, dlg.m_nSplitNum.load());
        EXPECT_TRUE(WaitFinished(dlg));
        EXPECT_EQ(std::vector<std::string>{"bytes=" + std::to_string(written) + "-"},
                  RangesAskedSince(server_, resumedAt));
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

TEST_F(WorkerRunTest, AStopRequestPausesEveryTransferBeforeTheRunLetsGoOfThem) {
    server_.AddFault("/setup.exe", Fault::RateLimit(64 * 1024));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg, 4);
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 0; }, 20000));
        dlg.OnBnClickedAction();  // pause
        ASSERT_EQ(0, dlg.m_nLiveWorkers.load());
        // A resumed run whose first range is finished: that transfer is made, never added.
        dlg.m_pDLInfo[0].dwWrittenBytes = kSize / 4;
        TakeCurlCalls();
        const DWORD resumed = Written(dlg);
        dlg.OnBnClickedAction();  // resume
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > resumed; }, 20000));
        dlg.OnBnClickedAction();  // pause
        ASSERT_EQ(0, dlg.m_nLiveWorkers.load());
    }));
    EXPECT_TRUE(LogHas("Add total 3 connections in multi-handle!"));
    // The probe's own transfer is let go inside libcurl too; only the run's transfers count.
    const std::vector<CurlCall> calls = TakeCurlCalls();
    std::set<CURL*> paused;
    for (const CurlCall& call : calls) {
        if (call.what == 'p')
            paused.insert(call.easy);
    }
    EXPECT_EQ(4u, paused.size()) << "every transfer of the run, added or not";
    size_t lastPause = 0, firstRemoval = calls.size();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].what == 'p')
            lastPause = i;
        else if (paused.count(calls[i].easy) != 0)
            firstRemoval = std::min(firstRemoval, i);
    }
    EXPECT_LT(lastPause, firstRemoval) << "all paused before the first one is let go";
    EXPECT_LT(firstRemoval, calls.size());
}

TEST_F(WorkerRunTest, AResumeWithEveryRangeFinishedArmsTheTimerAndCompletes) {
    sandbox_.WriteFile(target_, bytes_);
    SavedDownload saved;
    saved.url = Url();
    saved.fullName = fixtures::Sandbox::Win(target_);
    saved.size = kSize;
    const DWORD chunk = kSize / 4;
    saved.connections = {
        {0, chunk}, {chunk, chunk}, {2 * chunk, chunk}, {3 * chunk, kSize - 3 * chunk}};
    WriteSavedDownload(saved);
    const size_t requestsBefore = server_.Requests().size();
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        ASSERT_TRUE(dlg.LoadRegProgressInfo());
        ASSERT_TRUE(dlg.LoadRegConnectionInfo());
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitFinished(dlg)) << "the timer's tick sees the whole file";
    }));
    EXPECT_TRUE(LogHas("Add total 0 connections in multi-handle!"));
    EXPECT_TRUE(RangesAskedSince(server_, requestsBefore).empty());
    EXPECT_TRUE(TargetBytes() == bytes_);
}

TEST_F(WorkerRunTest, ARunArmsTheProgressTimerAndAPauseStopsIt) {
    server_.AddFault("/setup.exe", Fault::RateLimit(64 * 1024));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg, 4);
        EXPECT_TRUE(ProgressTimerArmed(dlg));
        dlg.OnBnClickedAction();  // pause
        EXPECT_FALSE(ProgressTimerArmed(dlg));
        EXPECT_TRUE(WaitSettled(dlg));
    }));
}

}  // namespace
}  // namespace apptest
