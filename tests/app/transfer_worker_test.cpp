// Whole downloads through the engine, driven as the main button drives it, against the
// in-process fault server: a correct server gives a byte-exact file over 1 to 12 connections;
// a misbehaving one gives either a correct file or a reported failure, never a wrong file
// shown as done.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/dl_info.h"
#include "platform/kernel/clock.h"
#include "platform/registry/registry.h"
#include "support/app/engine_fixture.h"
#include "support/fault_server.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using fixtures::Fault;

class DownloadTest : public ServedEngineTest {
  protected:
    // Starts with the main button and pumps until the download has settled.
    void Download(TestDlg& dlg, int split) {
        Start(dlg, split);
        EXPECT_TRUE(WaitSettled(dlg, 60000));
    }

    size_t CountRequests(const std::string& method) const {
        size_t count = 0;
        for (const auto& request : server_.Requests())
            count += request.method == method;
        return count;
    }

    static constexpr DWORD kStallAt = 30000;
};

TEST_F(DownloadTest, TheHeaderRequestAcceptsOnly200AndASizeTheDownloadCanHold) {
    struct Case {
        const char* why;
        std::vector<Fault> faults;
        bool passes;
        DWORD size;
        BOOL ranges;
        UINT boxText;  // 0: no box
    };
    const Case cases[] = {
        {"a plain answer", {}, true, kSize, TRUE, 0},
        {"no byte ranges", {Fault::NoAcceptRanges()}, true, kSize, FALSE, 0},
        {"ranges none", {Fault::AcceptRangesNone()}, true, kSize, FALSE, 0},
        {"no size", {Fault::NoContentLength()}, true, 0, TRUE, 0},
        {"a redirect is not followed", {Fault::HeadStatus(301, "/elsewhere")}, false, 0, 0, 0},
        {"not found", {Fault::HeadStatus(404)}, false, 0, 0, 0},
        {"server error", {Fault::HeadStatus(500)}, false, 0, 0, 0},
        {"beyond 2 GiB", {Fault::LyingLength(0x80000001ll)}, false, 0, 0, IDS_FILE_TOO_LARGE},
        {"beyond 4 GiB", {Fault::LyingLength(0x100000005ll)}, false, 0, 0, IDS_FILE_TOO_LARGE},
        {"never answered", {Fault::NeverAnswer()}, false, 0, 0, IDS_DOWNLOAD_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        server_.ClearFaults("/setup.exe");
        for (const Fault& f : c.faults)
            server_.AddFault("/setup.exe", f);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.m_nHeaderTimeout = 2;
            dlg.m_nServerFileSize = 77;
            dlg.m_bRangesByte = TRUE;
            EXPECT_EQ(c.passes, dlg.CheckHTTPHeader() != FALSE);
            if (c.passes) {
                EXPECT_EQ(c.size, dlg.m_nServerFileSize);
                EXPECT_EQ(c.ranges, dlg.m_bRangesByte.load());
            } else {
                EXPECT_EQ(77u, dlg.m_nServerFileSize) << "a failed probe changes nothing";
            }
        }));
        const auto boxes = responder_.boxes();
        if (c.boxText == 0) {
            EXPECT_EQ(boxesBefore, boxes.size());
        } else {
            ASSERT_EQ(boxesBefore + 1, boxes.size());
            EXPECT_EQ(FormatText(c.boxText, Url().c_str()).GetString(), boxes.back().text);
            EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes.back().caption);
        }
    }
}

TEST_F(DownloadTest, ACorrectServerGivesTheExactFileOverEverySplit) {
    for (int split : {1, 4, 12}) {
        SCOPED_TRACE(split);
        std::remove(target_.c_str());
        const size_t requestsBefore = server_.Requests().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Download(dlg, split);
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
            EXPECT_EQ(nullptr, dlg.m_pDLInfo);
            EXPECT_EQ(Res(IDS_DOWNLOAD_VERIFIED), dlg.Text(IDC_STATIC_STATUS));
        }));
        EXPECT_TRUE(TargetBytes() == bytes_);
        EXPECT_TRUE(StoreEmpty()) << "the saved state goes at completion";
        const auto requests = server_.Requests();
        int ranged = 0;
        for (size_t i = requestsBefore; i < requests.size(); ++i)
            ranged += requests[i].method == "GET" && !requests[i].range.empty();
        EXPECT_EQ(split, ranged) << "one ranged request per connection";
    }
}

TEST_F(DownloadTest, AMisbehavingServerGivesACorrectFileOrAReportedFailure) {
    enum Outcome { kCorrect, kReported };
    struct Case {
        const char* why;
        std::vector<Fault> faults;
        Outcome outcome;
        const char* logged;  // a line that names what happened
        bool stall = false;
    };
    const Case cases[] = {
        {"ranges announced but ignored",
         {Fault::IgnoreRange()},
         kCorrect,
         "The server ignores byte ranges: one connection from now on"},
        // Each answer starts and ends 100 bytes early: what is held is skipped, and the last
        // bytes of a range never come.
        {"Content-Range before the position, always",
         {Fault::ShiftStart(-100)},
         kReported,
         "the server ended the answer with"},
        {"Content-Range before the position, once",
         {Fault::ShiftStart(-100).Times(4)},
         kCorrect,
         "the server ended the answer with"},
        {"Content-Range after the position",
         {Fault::ShiftStart(100)},
         kReported,
         "Content-Range starts after the position asked for"},
        {"another total in Content-Range",
         {Fault::WrongTotal(kSize + 10)},
         kReported,
         "names another file size"},
        {"more than asked, claimed as asked",
         {Fault::ExtraClaimAsked(4096)},
         kCorrect,
         "the server sent more than the range"},
        {"more than asked, claimed honestly", {Fault::ExtraClaimHonest(4096)}, kCorrect, ""},
        {"garbage after the end of the file", {Fault::GarbageAfterEnd(4096)}, kCorrect, ""},
        {"fewer bytes, always",
         {Fault::ShortBody(100)},
         kReported,
         "the server ended the answer with"},
        {"fewer bytes, twice",
         {Fault::ShortBody(100).Times(2)},
         kCorrect,
         "the server ended the answer with"},
        {"a probe that claims more",
         {Fault::LyingLength(kSize + 1000)},
         kReported,
         "names another file size"},
        {"a probe that claims less",
         {Fault::LyingLength(kSize - 1000)},
         kReported,
         "names another file size"},
        {"drops on the first four connections",
         {Fault::DropAfter(20000).Times(4)},
         kCorrect,
         "Detect this download process is dropped!!"},
        {"drops on every connection",
         {Fault::DropAfter(20000)},
         kReported,
         "Detect this download process is dropped!!"},
        {"a stall that the watchdog restarts",
         {Fault::StallAfter(kStallAt).Times(4)},
         kCorrect,
         "File size not changed over 60 seconds",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        server_.ClearFaults("/setup.exe");
        for (const Fault& f : c.faults)
            server_.AddFault("/setup.exe", f);
        std::remove(target_.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        const size_t boxesBefore = responder_.boxes().size();
        int finalStatus = -1;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            dlg.OnBnClickedAction();
            if (c.stall) {
                // Every connection stalled and a tick has counted it: the watchdog's 200th tick
                // without growth is the next one.
                EXPECT_TRUE(platform::testing::PumpUntil(
                    [&] { return dlg.m_nLastWritten == 4u * kStallAt && dlg.m_nStallTicks > 0; },
                    20000));
                dlg.m_nStallTicks = CZELVDownloaderDlg::STALL_TICK_LIMIT - 1;
            }
            EXPECT_TRUE(WaitSettled(dlg, 60000));
            finalStatus = dlg.m_nStatus;
        }));
        if (c.logged[0] != '\0') {
            EXPECT_TRUE(LogHas(c.logged)) << c.logged;
        }
        const auto boxes = responder_.boxes();
        if (c.outcome == kCorrect) {
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus);
            EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";
        } else {
            EXPECT_NE(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus)
                << "never a wrong file shown as done";
            bool failureShown = false;
            for (size_t i = boxesBefore; i < boxes.size(); ++i)
                failureShown |=
                    boxes[i].text == FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString();
            EXPECT_TRUE(failureShown) << "the failure reaches the user";
        }
    }
}

TEST_F(DownloadTest, BytesPastWhatAnAnswerClaimsAreNeverWritten) {
    struct Case {
        const char* why;
        Fault fault;
        bool completes;
    };
    // Each answer's Content-Range claims the first half of the asked range; its body is as long
    // as asked, the second half other bytes. The resume of each drop asks for the rest.
    const Case cases[] = {
        {"on the first four answers", Fault::ClaimFirstHalf().Times(4), true},
        {"on every answer", Fault::ClaimFirstHalf(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        server_.ClearFaults("/setup.exe");
        server_.AddFault("/setup.exe", c.fault);
        std::remove(target_.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        const size_t boxesBefore = responder_.boxes().size();
        int finalStatus = -1;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            // No MD5 value: nothing after the transfers would notice a wrong byte.
            Prepare(dlg, Url(), 4, "");
            dlg.OnBnClickedAction();
            EXPECT_TRUE(WaitSettled(dlg, 60000));
            finalStatus = dlg.m_nStatus;
        }));
        EXPECT_TRUE(LogHas("more bytes than its Content-Range claims"));
        if (c.completes) {
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus);
            EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";
        } else {
            EXPECT_NE(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus);
            const auto boxes = responder_.boxes();
            ASSERT_GT(boxes.size(), boxesBefore);
            EXPECT_EQ(FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString(),
                      boxes.back().text);
        }
    }
}

TEST_F(DownloadTest, ARunWhoseRangesHoldEveryByteCompletesThoughItsTransfersFailAtTheEnd) {
    // Each answer announces 4096 bytes more than its range and closes after the range's last
    // byte: every transfer fails, with every byte written.
    server_.AddFault("/setup.exe", Fault::ExtraClaimAsked(4096));
    server_.AddFault("/setup.exe", Fault::ShortBody(4096));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
        EXPECT_EQ(CZELVDownloaderDlg::DEFAULT_RETRY_COUNT, dlg.m_nRetryCount.load())
            << "no drop was counted";
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    EXPECT_FALSE(LogHas("Detect this download process is dropped!!"));
    EXPECT_EQ(1u, CountRequests("HEAD")) << "no automatic resume";
}

TEST_F(DownloadTest, ARangeAtByteZeroAnsweredWholeCompletesAtOnce) {
    // A cache that answers its first request, the range at byte 0, with the whole file.
    server_.AddFault("/setup.exe", Fault::IgnoreRangeAtZero());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        EXPECT_TRUE(WaitSettled(dlg, 30000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
        EXPECT_EQ(4, dlg.m_nSplitNum.load()) << "nothing was missing: the split stays";
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    EXPECT_FALSE(LogHas("File size not changed over 60 seconds"));
    EXPECT_EQ(4u, CountRequests("GET")) << "nothing fetched twice";
    EXPECT_TRUE(responder_.boxes().empty());
}

TEST_F(DownloadTest, EveryLineTheWorkerLogsIsOnTheDiskAtOnce) {
    // One connection stalls, so the run stays in its loop after the other three have ended; the
    // interface is not pumped meanwhile, so no line of its own flushes the log.
    server_.AddFault("/setup.exe", Fault::StallAfter(1000).Times(1));
    server_.AddFault("/setup.exe", Fault::RateLimit(1048576));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        size_t ended = 0;
        while (ended < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const std::string log = Log();
            ended = 0;
            for (size_t at = log.find("Succeeded to complete task."); at != std::string::npos;
                 at = log.find("Succeeded to complete task.", at + 1))
                ++ended;
        }
        EXPECT_EQ(3u, ended) << "the lines of the ended transfers are on the disk";
        dlg.OnPause();
        EXPECT_TRUE(WaitSettled(dlg));
    }));
}

}  // namespace
}  // namespace apptest
