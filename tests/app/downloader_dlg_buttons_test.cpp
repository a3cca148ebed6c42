// The user's commands: the main button and its double-click filter, the exit button, the close
// handler, Esc and Enter, the browse button and the product list. A running download comes
// from the fault server, slowed down so that it is still running when the command comes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/dl_info.h"
#include "platform/afx/file_dialog.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/thread.h"
#include "support/app/engine_fixture.h"
#include "support/fault_server.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using platform::SaveAsAnswer;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;

const char kUrlA[] = "http://127.0.0.1:9/a/setup_a.exe";
const char kUrlB[] = "http://127.0.0.1:9/b/setup_b.exe";
const char kConnect0[] = "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect0";
const char kPathQuestion[] =
    "This operation will delete currently downloaded files. Do you want to continue?";

class CommandsTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        server_.AddFile("/setup.exe", fixtures::PatternBytes(kSize, 5));
        // 4 connections at 32 KiB/s each: about a minute for the whole file.
        server_.AddFault("/setup.exe", fixtures::Fault::RateLimit(32768));
    }
    std::string Log(const TestDlg& dlg) const { return fixtures::Sandbox::ReadFile(dlg.LogPath()); }
    size_t Count(const TestDlg& dlg, const std::string& line) const {
        const auto lines = LogLines(dlg.LogPath());
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    // A download that runs, with some bytes written.
    void StartRunning(TestDlg& dlg) {
        Prepare(dlg, server_.Url("/setup.exe"));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 0; }, 20000));
    }
    static DWORD Written(const TestDlg& dlg) {
        DWORD sum = 0;
        if (dlg.m_pDLInfo != nullptr) {
            for (int i = 0; i < dlg.m_nSplitNum; ++i)
                sum += dlg.m_pDLInfo[i].dwWrittenBytes.load();
        }
        return sum;
    }
    // Ends a download that still runs, so that the dialog can end.
    static void StopRunning(TestDlg& dlg) {
        if (dlg.m_nStatus == CZELVDownloaderDlg::STATUS_DOWNLOADING)
            dlg.OnPause();
        EXPECT_TRUE(WaitSettled(dlg));
    }
    // A paused download at the target path: its file and its saved state.
    void Paused(TestDlg& dlg, BOOL ranges) {
        Prepare(dlg, kUrlB, 4, Md5Of("b"));
        sandbox_.WriteFile(target_, "partial");
        SavedDownload saved;
        saved.url = kUrlB;
        saved.fullName = fixtures::Sandbox::Win(target_);
        WriteSavedDownload(saved);
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        dlg.m_bRangesByte = ranges;
    }
    // Two products, A and B, B selected; the target path in the sandbox's download folder.
    void TwoProducts(TestDlg& dlg) {
        logPath_ = dlg.OpenLog();
        for (const auto& [name, url, md5] :
             {std::tuple{"A", kUrlA, Md5Of("a")}, std::tuple{"B", kUrlB, Md5Of("b")}}) {
            dlg.m_arrProductURL.Add(url);
            dlg.m_arrProductMD5.Add(md5.c_str());
            dlg.m_cbProduct.AddString(name);
        }
        dlg.m_cbProduct.SetCurSel(1);
        dlg.m_strURL = kUrlB;
        dlg.UpdateDLFullName(fixtures::Sandbox::Win(sandbox_.Path("download/setup_b.exe")).c_str());
    }
    static bool WaitEnded(TestDlg& dlg) {
        return PumpUntil([&] { return dlg.Ended(); }, 20000);
    }
    static void Show(TestDlg& dlg) {
        dlg.ShowWindow(SW_SHOW);
        ASSERT_TRUE(
            PumpUntil([&] { return platform::testing::InspectView(dlg.m_hWnd).shown; }, 5000));
    }
    static void ExpectGroupEnabled(const TestDlg& dlg, bool exit, bool action, bool product,
                                   bool browse) {
        EXPECT_EQ(exit, dlg.Enabled(IDC_BUTTON_EXIT));
        EXPECT_EQ(action, dlg.Enabled(IDC_BUTTON_ACTION));
        EXPECT_EQ(product, dlg.Enabled(IDC_COMBO_PRODUCT));
        EXPECT_EQ(browse, dlg.Enabled(IDC_BUTTON_BROWSE));
    }
    // The close handler has run: its line, the lists emptied, the records released.
    static void ExpectClosed(const TestDlg& dlg, const std::string& log) {
        EXPECT_NE(std::string::npos, log.find("!!!!!  WM_CLOSE  !!!!!"));
        EXPECT_EQ(0, dlg.m_arrProductURL.GetSize());
        EXPECT_EQ(0, dlg.m_arrProductMD5.GetSize());
        EXPECT_EQ(nullptr, dlg.m_pDLInfo);
        EXPECT_EQ(nullptr, dlg.m_hThread);
    }

    static constexpr size_t kSize = 8 * 1048576;
    fixtures::FaultServer server_;
};

TEST_F(CommandsTest, TheMainButtonIgnoresAClickWithin500MsOfThePreviousOne) {
    struct Case {
        const char* why;
        DWORD base;
        std::vector<DWORD> after;  // of the base, in unsigned 32-bit arithmetic
        std::vector<bool> acted;
    };
    const Case cases[] = {
        // Each ignored click is the reference for the next one.
        {"0, 300, 700 and 1300 ms", 10000000, {0, 300, 700, 1300}, {true, false, false, true}},
        {"499 ms apart", 20000000, {0, 499}, {true, false}},
        {"500 ms apart", 30000000, {0, 500}, {true, true}},
        {"768 ms apart across the counter's wrap", 0xFFFFFE00u, {0, 0x300}, {true, true}},
        {"496 ms apart across the counter's wrap", 0xFFFFFF00u, {0, 0x1F0}, {true, false}},
    };
    TestTicks ticks(0);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.OpenLog();
        // A state with no command: an acted-on click only disables and shows the state again.
        dlg.m_nStatus = 7;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.why);
            for (size_t i = 0; i < c.after.size(); ++i) {
                SCOPED_TRACE(c.after[i]);
                ticks.Hold(c.base + c.after[i]);
                dlg.GetDlgItem(IDC_BUTTON_EXIT)->EnableWindow(FALSE);
                const size_t shown = Count(dlg, "INFO: Current status is 7");
                dlg.OnBnClickedAction();
                EXPECT_EQ(c.acted[i], dlg.Enabled(IDC_BUTTON_EXIT))
                    << "an ignored click changes no control";
                EXPECT_EQ(shown + (c.acted[i] ? 1 : 0), Count(dlg, "INFO: Current status is 7"));
            }
        }
    }));
}

TEST_F(CommandsTest, TheMainButtonStartsPausesAndResumesByState) {
    TestTicks ticks;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        StartRunning(dlg);
        EXPECT_EQ(Res(IDS_BUTTON_PAUSE), dlg.Text(IDC_BUTTON_ACTION));
        ExpectGroupEnabled(dlg, true, true, false, false);
        EXPECT_TRUE(SavedKeyExists("Progress"));

        dlg.OnBnClickedAction();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(0, dlg.m_nLiveWorkers.load()) << "the pause waits for the worker";
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_EQ(Res(IDS_PAUSED), dlg.Text(IDC_STATIC_STATUS));
        ExpectGroupEnabled(dlg, true, true, true, true);
        EXPECT_TRUE(SavedKeyExists("Progress\\Connect3")) << "the pause saves the progress";

        const DWORD paused = Written(dlg);
        dlg.OnBnClickedAction();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
        EXPECT_TRUE(PumpUntil([&] { return Written(dlg) > paused; }, 20000)) << "it goes on";
        StopRunning(dlg);
    }));
}

TEST_F(CommandsTest, AResumeWaitsForTheEarlierRunAndNeverStartsASecondOne) {
    // A run that has not ended (a pause whose wait ran out): it goes on as long as the state
    // lets it, which it takes for 2 as a worker does.
    struct EarlierRun {
        TestDlg* dlg;
        std::atomic<bool> release{false};
        std::atomic<bool> sawDownloading{false};
    };
    TestTicks ticks;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, server_.Url("/setup.exe"));
        dlg.m_dwWorkerWaitMs = 300;
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        EarlierRun earlier;
        earlier.dlg = &dlg;
        dlg.m_nLiveWorkers.fetch_add(1);
        CWinThread* thread = AfxBeginThread(
            [](LPVOID param) -> UINT {
                auto* run = static_cast<EarlierRun*>(param);
                while (!run->release) {
                    if (run->dlg->m_nStatus == CZELVDownloaderDlg::STATUS_DOWNLOADING) {
                        run->sawDownloading = true;
                        break;
                    }
                    Sleep(5);
                }
                run->dlg->m_nLiveWorkers.fetch_sub(1);
                return 0;
            },
            &earlier);
        ASSERT_NE(nullptr, thread);
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(),
                                    &dlg.m_hThread, 0, FALSE, DUPLICATE_SAME_ACCESS));

        dlg.OnBnClickedAction();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_WORKER_STILL_ENDING), dlg.Text(IDC_STATIC_STATUS));
        EXPECT_EQ(1, dlg.m_nLiveWorkers.load()) << "no second run";
        EXPECT_EQ(0u, Count(dlg, "INFO: +++++ PerformDownload()"));

        earlier.release = true;
        ASSERT_TRUE(PumpUntil([&] { return dlg.m_nLiveWorkers.load() == 0; }, 10000));
        dlg.OnBnClickedAction();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
        EXPECT_FALSE(earlier.sawDownloading) << "the state said 2 only once the earlier run ended";
        StopRunning(dlg);
    }));
}

TEST_F(CommandsTest, ARunThatLeavesBeforeItsFirstPassStillLetsItsResumeGoOn) {
    TestTicks ticks;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, server_.Url("/setup.exe"));
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        // Another writer of the state (an earlier run's drop path, say) pauses the download as
        // soon as the resume has set 2, before the new run's first pass.
        std::atomic<bool> paused{false};
        std::thread other([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!paused && std::chrono::steady_clock::now() < deadline) {
                int expected = CZELVDownloaderDlg::STATUS_DOWNLOADING;
                paused = dlg.m_nStatus.compare_exchange_strong(expected,
                                                               CZELVDownloaderDlg::STATUS_PAUSED);
                std::this_thread::yield();
            }
        });
        dlg.OnBnClickedAction();  // returns only once the run has set the start event
        other.join();
        ASSERT_TRUE(paused);
        EXPECT_TRUE(WaitSettled(dlg));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(1u, Count(dlg, "INFO: ** Force to PAUSE all connections."));
    }));
}

TEST_F(CommandsTest, TheMainButtonInTheFinishedStateStartsTheInstallerAndCloses) {
    TestTicks ticks;
    TestIdentity user;
    const std::string marker = sandbox_.Path("installer-ran");
    std::string log;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrlB);  // no MD5 value: the file passes
        WriteInstaller(target_, marker);
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_FINISHED;
        dlg.OnBnClickedAction();
        EXPECT_FALSE(dlg.Ended()) << "the close is posted";
        ASSERT_TRUE(WaitEnded(dlg));
        log = Log(dlg);
        ExpectClosed(dlg, log);
    }));
    EXPECT_TRUE(AppearsSoon(marker)) << "the installer ran";
    const size_t launch = log.find("+++++ OnLaunch()");
    const size_t display = log.find("+++++ SyncUIStatus()", launch);
    ASSERT_NE(std::string::npos, launch);
    EXPECT_LT(display, log.find("!!!!!  WM_CLOSE  !!!!!")) << "the state display runs first";
}

// The file that passed its check was deleted since: the start fails, which the user is told
// (with the path); the dialog stays, and the state display checks the file again.
TEST_F(CommandsTest, AStartThatFailsInTheFinishedStateIsReportedAndTheDialogStays) {
    TestTicks ticks;
    TestIdentity user;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrlB, 4, Md5Of("b"));
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_FINISHED;
        dlg.OnBnClickedAction();
        PumpFor(200);
        EXPECT_FALSE(dlg.Ended()) << "no close";
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load()) << "no file there";
        EXPECT_EQ(Res(IDS_BUTTON_START), dlg.Text(IDC_BUTTON_ACTION));
        ExpectGroupEnabled(dlg, true, true, true, true);
    }));
    const auto boxes = responder_.boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(FormatText(IDS_LAUNCH_FAILED, fixtures::Sandbox::Win(target_).c_str()).GetString(),
              boxes[0].text);
    EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes[0].caption);
}

TEST_F(CommandsTest, ExitWithNothingToKeepClosesAtOnce) {
    for (int status : {CZELVDownloaderDlg::STATUS_START_NEW, CZELVDownloaderDlg::STATUS_FINISHED}) {
        SCOPED_TRACE(status);
        ForgetLog();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrlB);
            sandbox_.WriteFile(target_, "installer");
            dlg.m_nStatus = status;
            dlg.OnExit();
            ExpectGroupEnabled(dlg, false, false, false, false);
            ASSERT_TRUE(WaitEnded(dlg));
            ExpectClosed(dlg, Log(dlg));
        }));
        EXPECT_TRUE(responder_.boxes().empty());
        EXPECT_EQ("installer", TargetBytes());
    }
}

TEST_F(CommandsTest, ExitFromAPausedDownloadKeepsOrDiscardsItAsAnswered) {
    struct Case {
        const char* why;
        BOOL ranges;
        int answer;  // 0: no question
        bool closes;
        bool kept;
    };
    const Case cases[] = {
        {"no byte ranges: discarded without a question", FALSE, 0, true, false},
        {"Yes keeps it", TRUE, IDYES, true, true},
        {"No discards it", TRUE, IDNO, true, false},
        {"Cancel stays", TRUE, IDCANCEL, false, true},
        {"another answer is Yes", TRUE, IDOK, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        const size_t boxesBefore = responder_.boxes().size();
        if (c.answer != 0)
            responder_.QueueBoxAnswer(c.answer);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Paused(dlg, c.ranges);
            dlg.OnExit();
            if (c.closes) {
                ASSERT_TRUE(WaitEnded(dlg));
                ExpectClosed(dlg, Log(dlg));
            } else {
                PumpFor(200);
                EXPECT_FALSE(dlg.Ended());
                EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
                ExpectGroupEnabled(dlg, true, true, true, true);
            }
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.answer != 0 ? 1 : 0), boxes.size());
        if (c.answer != 0) {
            EXPECT_EQ(Res(IDS_ASK_KEEP_DOWNLOAD), boxes.back().text);
            EXPECT_EQ(Res(IDS_MSGBOX_CAPTION), boxes.back().caption);
            EXPECT_EQ(static_cast<UINT>(MB_YESNOCANCEL), boxes.back().type);
        }
        EXPECT_EQ(c.kept, fixtures::Sandbox::Exists(target_));
        EXPECT_EQ(c.kept, SavedKeyExists("Progress"));
    }
}

TEST_F(CommandsTest, ExitWhileDownloadingPausesFirstAndCancelResumes) {
    TestTicks ticks;
    int statusAtQuestion = -1;
    int workersAtQuestion = -1;
    responder_.QueueBoxAnswer(IDCANCEL);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        StartRunning(dlg);
        responder_.beforeBoxAnswer = [&](const platform::MessageBoxCall&) {
            statusAtQuestion = dlg.m_nStatus;
            workersAtQuestion = dlg.m_nLiveWorkers.load();
        };
        dlg.OnExit();
        responder_.beforeBoxAnswer = nullptr;
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load()) << "resumed";
        ExpectGroupEnabled(dlg, true, true, false, false);
        PumpFor(200);
        EXPECT_FALSE(dlg.Ended());
        const DWORD resumed = Written(dlg);
        EXPECT_TRUE(PumpUntil([&] { return Written(dlg) > resumed; }, 20000));
        StopRunning(dlg);
    }));
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, statusAtQuestion);
    EXPECT_EQ(0, workersAtQuestion) << "the worker has ended before the question";
    ASSERT_EQ(1u, responder_.boxes().size());
    EXPECT_EQ(Res(IDS_ASK_KEEP_DOWNLOAD), responder_.boxes()[0].text);
}

// Cancel goes by the state after the question: a click that waited in the queue (an automatic
// resume after a drop) is dispatched by the question's own loop and may have set the download
// going again meanwhile. The product and the path must then stay locked, and the download is
// not resumed a second time.
TEST_F(CommandsTest, CancelInTheExitQuestionGoesByTheStateAfterTheQuestion) {
    TestTicks ticks;
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "exit while downloading" : "exit while paused");
        ForgetLog();
        responder_.QueueBoxAnswer(IDCANCEL);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            StartRunning(dlg);
            if (!running)
                dlg.OnBnClickedAction();  // the pause
            dlg.PostMessage(WM_COMMAND, IDC_BUTTON_ACTION, 0);
            responder_.beforeBoxAnswer = [&](const platform::MessageBoxCall&) {
                EXPECT_TRUE(PumpUntil(
                    [&] { return dlg.m_nStatus == CZELVDownloaderDlg::STATUS_DOWNLOADING; }, 20000))
                    << "the queued click resumes the download during the question";
            };
            dlg.OnExit();
            responder_.beforeBoxAnswer = nullptr;
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
            EXPECT_EQ(1, dlg.m_nLiveWorkers.load());
            ExpectGroupEnabled(dlg, true, true, false, false);
            EXPECT_EQ(2u, Count(dlg, "INFO: +++++ OnResume()")) << "the start's and the click's";
            StopRunning(dlg);
        }));
    }
}

TEST_F(CommandsTest, ExitWhileDownloadingAnsweredYesKeepsTheSavedProgress) {
    TestTicks ticks;
    responder_.QueueBoxAnswer(IDYES);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        StartRunning(dlg);
        dlg.OnExit();
        ASSERT_TRUE(WaitEnded(dlg));
        ExpectClosed(dlg, Log(dlg));
    }));
    EXPECT_TRUE(SavedKeyExists("Progress\\Connect3")) << "the pause saved the progress";
    EXPECT_TRUE(fixtures::Sandbox::Exists(target_));
}

// A close from the window manager while a download runs stops and waits for the worker and
// keeps what it has put on the disk, as a pause does: the next run resumes there. A download
// without byte ranges cannot be resumed, so nothing of it is saved.
TEST_F(CommandsTest, ClosingWhileDownloadingWaitsForTheWorkerAndKeepsWhatIsOnTheDisk) {
    TestTicks ticks;
    const std::string served = fixtures::PatternBytes(kSize, 5);
    for (const bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "byte ranges" : "no byte ranges");
        ForgetLog();
        if (!ranges)
            server_.AddFault("/setup.exe", fixtures::Fault::NoAcceptRanges());
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            StartRunning(dlg);
            Show(dlg);
            ASSERT_TRUE(platform::testing::PressCloseBox(dlg.m_hWnd));
            ASSERT_TRUE(WaitEnded(dlg));
            // The worker sleeps a second at its end: a close that did not wait would end first.
            EXPECT_EQ(0, dlg.m_nLiveWorkers.load());
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            ExpectClosed(dlg, Log(dlg));
        }));
        EXPECT_TRUE(SavedKeyExists("Progress")) << "what the start wrote stays";
        EXPECT_EQ(ranges, SavedKeyExists("Progress\\Connect0"));
        EXPECT_TRUE(responder_.boxes().empty());
        if (!ranges)
            continue;
        const std::string onDisk = TargetBytes();
        DWORD saved = 0;
        for (int i = 0; i < 4; ++i) {
            const std::string key =
                "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect" + std::to_string(i);
            DWORD start = 0, written = 0;
            ASSERT_TRUE(ReadSavedNumber(key, "StartRange", &start));
            ASSERT_TRUE(ReadSavedNumber(key, "WrittenBytes", &written));
            ASSERT_LE(start + written, onDisk.size());
            EXPECT_TRUE(onDisk.compare(start, written, served, start, written) == 0)
                << "connection " << i << " counts bytes that are not on the disk";
            saved += written;
        }
        EXPECT_GT(saved, 0u);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, server_.Url("/setup.exe"));
            ASSERT_TRUE(dlg.LoadRegProgressInfo());
            ASSERT_TRUE(dlg.LoadRegConnectionInfo());
            EXPECT_EQ(saved, Written(dlg)) << "the next run resumes there";
        }));
    }
}

// A click or a tick that waits in the queue behind the close would come after the close handler
// has released the records, the log and the start event: it must not start a download then.
TEST_F(CommandsTest, NothingQueuedBehindTheCloseReachesTheDialog) {
    struct Case {
        const char* why;
        std::function<void(TestDlg&)> queue;
    };
    const Case cases[] = {
        {"a click of the main button (an automatic resume)",
         [](TestDlg& dlg) { dlg.PostMessage(WM_COMMAND, IDC_BUTTON_ACTION, 0); }},
        {"a tick of the stall watchdog at its limit",
         [](TestDlg& dlg) {
             dlg.m_nStallTicks = CZELVDownloaderDlg::STALL_TICK_LIMIT;
             dlg.PostMessage(WM_TIMER, CZELVDownloaderDlg::IDT_PROGRESS, 0);
         }},
    };
    TestTicks ticks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        DWORD saved = 0;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            StartRunning(dlg);
            dlg.OnBnClickedAction();  // the pause saves the progress
            ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            ASSERT_TRUE(ReadSavedNumber(kConnect0, "WrittenBytes", &saved));
            dlg.SetTimer(CZELVDownloaderDlg::IDT_PROGRESS, CZELVDownloaderDlg::PROGRESS_TIMER_MS,
                         nullptr);
            dlg.PostMessage(WM_CLOSE, 0, 0);
            c.queue(dlg);
            ASSERT_TRUE(WaitEnded(dlg));
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            EXPECT_EQ(0, dlg.m_nLiveWorkers.load()) << "no run was started";
            EXPECT_EQ(nullptr, dlg.m_hThread);
            EXPECT_FALSE(dlg.KillTimer(CZELVDownloaderDlg::IDT_PROGRESS))
                << "the close handler stopped the progress timer";
            StopRunning(dlg);
        }));
        DWORD after = 0;
        EXPECT_TRUE(ReadSavedNumber(kConnect0, "WrittenBytes", &after)) << "the saved keys stay";
        EXPECT_EQ(saved, after);
    }
}

TEST_F(CommandsTest, ACloseWhoseWorkerOutlivesTheWaitReleasesNothingItUses) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrlB, 2);
        dlg.m_pDLInfo = new DLInfo[2]();
        // A run that has not ended when the wait gave up.
        dlg.m_nLiveWorkers.fetch_add(1);
        dlg.PostMessage(WM_CLOSE, 0, 0);
        ASSERT_TRUE(WaitEnded(dlg));
        EXPECT_NE(nullptr, dlg.m_pDLInfo) << "the records stay";
        EXPECT_NE(nullptr, dlg.m_hEvent) << "the start event stays";
        dlg.m_logFile.WriteLog("a line of the late worker", FALSE, LOG_INFO);
        EXPECT_NE(std::string::npos, Log(dlg).find("a line of the late worker"))
            << "the log stays open";
        EXPECT_EQ(0, dlg.m_arrProductURL.GetSize());
        dlg.m_nLiveWorkers.fetch_sub(1);
    }));
}

TEST_F(CommandsTest, EscAndEnterNeverEndTheDialogWhileAWorkerRuns) {
    TestTicks ticks;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        StartRunning(dlg);
        Show(dlg);
        ASSERT_TRUE(platform::testing::PressKey(dlg.m_hWnd, VK_ESCAPE));
        dlg.PostMessage(WM_COMMAND, IDOK, 0);  // the class library's own OK command
        dlg.PostMessage(WM_COMMAND, IDCANCEL, 0);
        PumpFor(300);
        EXPECT_FALSE(dlg.Ended());
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());

        // Enter is a click of the default button, the main one: it pauses.
        ASSERT_TRUE(platform::testing::PressKey(dlg.m_hWnd, VK_RETURN));
        EXPECT_TRUE(
            PumpUntil([&] { return dlg.m_nStatus == CZELVDownloaderDlg::STATUS_PAUSED; }, 20000));
        EXPECT_TRUE(WaitSettled(dlg));
        EXPECT_FALSE(dlg.Ended());

        // A run that is still ending (its worker alive, the state no longer 2).
        dlg.m_nLiveWorkers.fetch_add(1);
        ASSERT_TRUE(platform::testing::PressKey(dlg.m_hWnd, VK_ESCAPE));
        PumpFor(300);
        dlg.m_nLiveWorkers.fetch_sub(1);
        EXPECT_FALSE(dlg.Ended());
    }));
}

TEST_F(CommandsTest, WithoutAWorkerEscAndOkLeaveThroughTheCloseHandler) {
    struct Case {
        const char* why;
        std::function<void(TestDlg&)> act;
    };
    const Case cases[] = {
        {"Esc", [](TestDlg& dlg) { platform::testing::PressKey(dlg.m_hWnd, VK_ESCAPE); }},
        {"the OK command", [](TestDlg& dlg) { dlg.PostMessage(WM_COMMAND, IDOK, 0); }},
        {"the Cancel command", [](TestDlg& dlg) { dlg.PostMessage(WM_COMMAND, IDCANCEL, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Paused(dlg, TRUE);
            Show(dlg);
            c.act(dlg);
            ASSERT_TRUE(WaitEnded(dlg));
            ExpectClosed(dlg, Log(dlg));
        }));
        EXPECT_TRUE(fixtures::Sandbox::Exists(target_)) << "a paused download stays";
        EXPECT_TRUE(responder_.boxes().empty());
    }
}

// In the paused, new and finished states Enter is a click of the main button (the default
// one), and Esc leaves through the close handler, keeping what there is to keep.
TEST_F(CommandsTest, EnterClicksTheMainButtonAndEscLeavesWhenNoWorkerRuns) {
    struct Case {
        const char* why;
        int status;
        UINT key;
        const char* command;  // the line of the command that the click runs; null for Esc
    };
    const Case cases[] = {
        {"paused, Enter", CZELVDownloaderDlg::STATUS_PAUSED, VK_RETURN, "INFO: +++++ OnResume()"},
        {"new, Enter", CZELVDownloaderDlg::STATUS_START_NEW, VK_RETURN, "INFO: +++++ OnStart()"},
        {"finished, Enter", CZELVDownloaderDlg::STATUS_FINISHED, VK_RETURN,
         "INFO: +++++ OnLaunch()"},
        {"paused, Esc", CZELVDownloaderDlg::STATUS_PAUSED, VK_ESCAPE, nullptr},
        {"new, Esc", CZELVDownloaderDlg::STATUS_START_NEW, VK_ESCAPE, nullptr},
        {"finished, Esc", CZELVDownloaderDlg::STATUS_FINISHED, VK_ESCAPE, nullptr},
    };
    TestTicks ticks;
    TestIdentity user;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        const std::string marker = sandbox_.Path("ran-" + std::to_string(&c - cases));
        const bool ends = c.command == nullptr || c.status == CZELVDownloaderDlg::STATUS_FINISHED;
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Paused(dlg, TRUE);  // its server never answers: a resume or start fails at its probe
            WriteInstaller(target_, marker);
            dlg.m_nStatus = c.status;
            Show(dlg);
            ASSERT_TRUE(platform::testing::PressKey(dlg.m_hWnd, c.key));
            if (c.command != nullptr) {
                EXPECT_TRUE(PumpUntil([&] { return Count(dlg, c.command) == 1; }, 20000));
            }
            if (ends) {
                ASSERT_TRUE(WaitEnded(dlg));
                ExpectClosed(dlg, Log(dlg));
            } else {
                PumpFor(200);
                EXPECT_FALSE(dlg.Ended());
            }
        }));
        EXPECT_TRUE(fixtures::Sandbox::Exists(target_));
        if (c.command != nullptr && c.status == CZELVDownloaderDlg::STATUS_FINISHED) {
            EXPECT_TRUE(AppearsSoon(marker)) << "the installer ran";
        } else {
            EXPECT_FALSE(fixtures::Sandbox::Exists(marker));
        }
        if (c.command == nullptr) {
            EXPECT_EQ(boxesBefore, responder_.boxes().size()) << "Esc asks nothing";
        }
    }
}

TEST_F(CommandsTest, BrowseCancelledChangesNothing) {
    responder_.QueueSaveAs(SaveAsAnswer{IDCANCEL, ""});
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Paused(dlg, TRUE);
        const CString before = dlg.m_strDLFullName;
        dlg.OnBrowse();
        EXPECT_EQ(before, dlg.m_strDLFullName);
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
    }));
    EXPECT_TRUE(responder_.boxes().empty());
    EXPECT_EQ("partial", TargetBytes());
    const auto calls = responder_.saveAsCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_FALSE(calls[0].openFile);
    EXPECT_EQ("*.*", calls[0].defaultExtension);
    EXPECT_EQ("setup_b.exe", calls[0].fileName) << "the URL's file name";
    EXPECT_EQ("*.exe|*.exe||", calls[0].filter);
    const DWORD asked = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    EXPECT_EQ(asked, calls[0].flags & asked);
}

TEST_F(CommandsTest, BrowseAsksBeforeAnotherPathDiscardsAPausedDownload) {
    struct Case {
        const char* why;
        int status;
        const char* fileName;  // in the download folder
        int answer;            // 0: no question
        int statusAfter;
        bool changed;
        bool kept;
    };
    const Case cases[] = {
        {"paused, the same path", CZELVDownloaderDlg::STATUS_PAUSED, "setup.exe", 0,
         CZELVDownloaderDlg::STATUS_PAUSED, false, true},
        {"paused, another case, No", CZELVDownloaderDlg::STATUS_PAUSED, "SETUP.exe", IDNO,
         CZELVDownloaderDlg::STATUS_PAUSED, false, true},
        {"paused, another path, Yes", CZELVDownloaderDlg::STATUS_PAUSED, "other.exe", IDYES,
         CZELVDownloaderDlg::STATUS_START_NEW, true, false},
        {"new, another path", CZELVDownloaderDlg::STATUS_START_NEW, "other.exe", 0,
         CZELVDownloaderDlg::STATUS_START_NEW, true, true},
        // The file at the new path has not been verified: back to a new start.
        {"finished, another path", CZELVDownloaderDlg::STATUS_FINISHED, "other.exe", 0,
         CZELVDownloaderDlg::STATUS_START_NEW, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        const std::string chosen =
            fixtures::Sandbox::Win(sandbox_.Path(std::string("download/") + c.fileName));
        responder_.QueueSaveAs(SaveAsAnswer{IDOK, chosen});
        if (c.answer != 0)
            responder_.QueueBoxAnswer(c.answer);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Paused(dlg, TRUE);
            dlg.m_nStatus = c.status;
            const CString before = dlg.m_strDLFullName;
            const size_t set = Count(dlg, "INFO: +++++ UpdateDLFullName()");
            dlg.OnBrowse();
            EXPECT_EQ(c.statusAfter, dlg.m_nStatus.load());
            EXPECT_EQ(c.changed ? chosen : std::string(before), dlg.m_strDLFullName.GetString());
            EXPECT_EQ(set + (c.answer == IDNO ? 0 : 1),
                      Count(dlg, "INFO: +++++ UpdateDLFullName()"))
                << "the path is set again also when it is the same";
            if (c.status != CZELVDownloaderDlg::STATUS_START_NEW &&
                c.statusAfter == CZELVDownloaderDlg::STATUS_START_NEW) {
                EXPECT_EQ(Res(IDS_BUTTON_START), dlg.Text(IDC_BUTTON_ACTION));
            }
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.answer != 0 ? 1 : 0), boxes.size());
        if (c.answer != 0) {
            EXPECT_EQ(kPathQuestion, boxes.back().text);
            EXPECT_EQ("Tessarine", boxes.back().caption);
            EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes.back().type);
        }
        EXPECT_EQ(c.kept, fixtures::Sandbox::Exists(target_));
        EXPECT_EQ(c.kept, SavedKeyExists("Progress"));
        std::remove(target_.c_str());
    }
}

TEST_F(CommandsTest, AProductChangeAsksInAPausedDownloadAndLeavesTheFinishedState) {
    const std::string folder = fixtures::Sandbox::Win(sandbox_.Path("download")) + "\\";
    const std::string fileB = sandbox_.Path("download/setup_b.exe");
    struct Case {
        const char* why;
        int status;
        const char* url;  // of the paused download
        int answer;       // 0: no question
        int selection;    // after the change
        const char* urlAfter;
        std::string pathAfter;
        int statusAfter;
    };
    const Case cases[] = {
        {"paused, No", CZELVDownloaderDlg::STATUS_PAUSED, kUrlB, IDNO, 1, kUrlB,
         folder + "setup_b.exe", CZELVDownloaderDlg::STATUS_PAUSED},
        {"paused, No, a URL of no product", CZELVDownloaderDlg::STATUS_PAUSED,
         "http://127.0.0.1:9/gone/setup_b.exe", IDNO, 0, "http://127.0.0.1:9/gone/setup_b.exe",
         folder + "setup_b.exe", CZELVDownloaderDlg::STATUS_PAUSED},
        {"paused, Yes", CZELVDownloaderDlg::STATUS_PAUSED, kUrlB, IDYES, 0, kUrlA,
         folder + "setup_a.exe", CZELVDownloaderDlg::STATUS_START_NEW},
        // The check of the new product's file (none there) leaves the new start.
        {"finished", CZELVDownloaderDlg::STATUS_FINISHED, kUrlB, 0, 0, kUrlA,
         folder + "setup_a.exe", CZELVDownloaderDlg::STATUS_START_NEW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        sandbox_.WriteFile(fileB, "partial");
        if (c.answer != 0)
            responder_.QueueBoxAnswer(c.answer);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            TwoProducts(dlg);
            dlg.m_strURL = c.url;
            dlg.m_nStatus = c.status;
            const size_t displays = Count(dlg, "INFO: +++++ SyncUIStatus()");
            dlg.m_cbProduct.SetCurSel(0);  // the user's choice
            dlg.OnSelChangeProduct();
            EXPECT_EQ(c.selection, dlg.m_cbProduct.GetCurSel());
            EXPECT_EQ(c.urlAfter, std::string(dlg.m_strURL));
            EXPECT_EQ(c.pathAfter, dlg.m_strDLFullName.GetString());
            EXPECT_EQ(c.statusAfter, dlg.m_nStatus.load());
            EXPECT_EQ(c.answer == IDNO ? displays : displays + 1,
                      Count(dlg, "INFO: +++++ SyncUIStatus()") - (c.answer == IDYES ? 1 : 0))
                << "a state display after the change, none after No";
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.answer != 0 ? 1 : 0), boxes.size());
        if (c.answer != 0) {
            EXPECT_EQ(Res(IDS_ASK_CHANGE_PRODUCT), boxes.back().text);
            EXPECT_EQ(Res(IDS_MSGBOX_CAPTION), boxes.back().caption);
            EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes.back().type);
        }
        EXPECT_EQ(c.answer != IDYES, fixtures::Sandbox::Exists(fileB))
            << "only Yes discards the paused download";
    }
}

}  // namespace
}  // namespace apptest
