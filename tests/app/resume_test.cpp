// Pause and resume, within a run and across runs: what is saved never counts bytes that are not
// on disk, and a resume into a file or server that no longer fits the saved state starts every
// range again instead of writing into it.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/dl_info.h"
#include "engine_checks.h"
#include "engine_fixture.h"
#include "platform/registry.h"
#include "platform/test_seams.h"
#include "platform/thread.h"
#include "platform/xdg.h"

namespace apptest {
namespace {

using fixtures::Fault;
using platform::testing::PumpUntil;

// The changes made to files of some folders, in the order the system made them.
class FileChanges {
  public:
    explicit FileChanges(const std::vector<std::string>& folders)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& folder : folders)
            watches_[inotify_add_watch(fd_, folder.c_str(), IN_MODIFY | IN_CREATE)] = folder;
    }
    ~FileChanges() { close(fd_); }
    FileChanges(const FileChanges&) = delete;
    FileChanges& operator=(const FileChanges&) = delete;

    // "folder/name" of every change so far.
    std::vector<std::string> Read() {
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t got;
        while ((got = read(fd_, buffer, sizeof(buffer))) > 0) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                changes_.push_back(watches_[event->wd] + "/" + (event->len ? event->name : ""));
                at += sizeof(inotify_event) + event->len;
            }
        }
        return changes_;
    }

  private:
    int fd_;
    std::map<int, std::string> watches_;
    std::vector<std::string> changes_;
};

class ResumeTest : public ServedEngineTest {
  protected:
    // Starts a slow download and pauses it once some bytes have come.
    void StartAndPause(TestDlg& dlg) {
        server_.AddFault("/setup.exe", Fault::RateLimit(256 * 1024));
        Start(dlg);
        ASSERT_TRUE(platform::testing::PumpUntil([&] { return Written(dlg) > 100000; }, 20000));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        ASSERT_EQ(0, dlg.m_nLiveWorkers.load()) << "the pause waits for the worker";
        server_.ClearFaults("/setup.exe");
    }
    // Every saved range holds the server's bytes on disk; returns the bytes the saves count.
    DWORD CheckSavedRanges(int split) {
        const std::string onDisk = TargetBytes();
        DWORD total = 0;
        for (int i = 0; i < split; ++i) {
            const std::string key =
                "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect" + std::to_string(i);
            DWORD start = 0, written = 0;
            EXPECT_TRUE(ReadSavedNumber(key, "StartRange", &start)) << i;
            EXPECT_TRUE(ReadSavedNumber(key, "WrittenBytes", &written)) << i;
            EXPECT_LE(start + written, onDisk.size());
            EXPECT_TRUE(onDisk.compare(start, written, bytes_, start, written) == 0)
                << "connection " << i << " counts bytes that are not the server's on disk";
            total += written;
        }
        return total;
    }
    // The set-up's restore of the saved state, as a new run makes it.
    static void Restore(TestDlg& dlg) {
        ASSERT_TRUE(dlg.LoadRegProgressInfo());
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        ASSERT_TRUE(dlg.LoadRegConnectionInfo());
    }
    void ExpectCompleteAndExact(TestDlg& dlg) {
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
    }
    // Each saved connection's StartRange and WrittenBytes.
    static std::vector<std::pair<DWORD, DWORD>> SavedConnections(int split) {
        std::vector<std::pair<DWORD, DWORD>> saved;
        for (int i = 0; i < split; ++i) {
            const std::string key =
                "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect" + std::to_string(i);
            DWORD start = 0, written = 0;
            ReadSavedNumber(key, "StartRange", &start);
            ReadSavedNumber(key, "WrittenBytes", &written);
            saved.emplace_back(start, written);
        }
        return saved;
    }
    void Reset() {
        ForgetLog();
        server_.ClearFaults("/setup.exe");
        std::remove(target_.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
    }
};

TEST_F(ResumeTest, APauseSavesWhatIsOnDiskAndTheResumeCompletesTheFile) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        StartAndPause(dlg);
        EXPECT_GT(CheckSavedRanges(4), 0u);
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        const size_t requests = server_.Requests().size();
        dlg.OnBnClickedAction();
        ExpectCompleteAndExact(dlg);
        EXPECT_EQ("HEAD", server_.Requests()[requests].method) << "a resume probes again";
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    EXPECT_TRUE(LogHas("Detect this resume download ? 1"));
}

TEST_F(ResumeTest, ANewRunResumesWhatAnEarlierOneSaved) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) { StartAndPause(dlg); }));
    const DWORD saved = CheckSavedRanges(4);
    ASSERT_GT(saved, 0u);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        Restore(dlg);
        EXPECT_EQ(saved, Written(dlg));
        const size_t requests = server_.Requests().size();
        dlg.OnBnClickedAction();
        ExpectCompleteAndExact(dlg);
        const auto all = server_.Requests();
        for (size_t i = requests; i < all.size(); ++i)
            EXPECT_NE(0u, all[i].range.rfind("bytes=0-", 0)) << "nothing fetched again from 0";
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

TEST_F(ResumeTest, AStateThatNoLongerFitsStartsEveryRangeAgain) {
    struct Case {
        const char* why;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"the file was cut", [this] { std::filesystem::resize_file(target_, 1000); }},
        {"the file grew", [this] { std::filesystem::resize_file(target_, kSize + 5000); }},
        {"the server's file changed size",
         [this] {
             bytes_ = fixtures::PatternBytes(kSize + 12345, 9);
             server_.AddFile("/setup.exe", bytes_);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        bytes_ = fixtures::PatternBytes(kSize, 7);
        server_.AddFile("/setup.exe", bytes_);
        std::remove(target_.c_str());
        ASSERT_TRUE(Run([&](TestDlg& dlg) { StartAndPause(dlg); }));
        c.change();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            Restore(dlg);
            dlg.OnBnClickedAction();
            ExpectCompleteAndExact(dlg);
        }));
        EXPECT_TRUE(TargetBytes() == bytes_);
        EXPECT_TRUE(LogHas("every range starts again"));
    }
}

TEST_F(ResumeTest, AFreshRunOverALongerFileLeavesNoTail) {
    sandbox_.WriteFile(target_, std::string(kSize + 70000, 'z'));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        ExpectCompleteAndExact(dlg);
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

// After the box the main button offers the resume again: the user is never left with the exit
// button alone.
TEST_F(ResumeTest, DropsResumeTwiceByThemselvesThenAskTheUser) {
    server_.AddFault("/setup.exe", Fault::DropAfter(20000));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.ShowWindow(SW_SHOW);  // the body runs before the modal run shows the dialog
        Start(dlg);
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(CZELVDownloaderDlg::DEFAULT_RETRY_COUNT, dlg.m_nRetryCount.load());
        EXPECT_TRUE(dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->IsWindowVisible());
        EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_EXIT));
        EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_ACTION)) << "the resume is offered after the box";
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_EQ(Res(IDS_PAUSED), dlg.Text(IDC_STATIC_STATUS));

        server_.ClearFaults("/setup.exe");
        dlg.OnBnClickedAction();  // the user resumes
        ExpectCompleteAndExact(dlg);
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    const std::string log = Log();
    size_t drops = 0;
    for (size_t at = log.find("Detect this download process is dropped!!"); at != std::string::npos;
         at = log.find("Detect this download process is dropped!!", at + 1))
        ++drops;
    EXPECT_EQ(3u, drops);
    const auto boxes = responder_.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString(), boxes.back().text);
    EXPECT_TRUE(boxes.back().fromWorker);
}

// A resume whose probe fails (the stall watchdog's or the user's) leaves the download paused
// with the resume offered on the main button and the proxy link shown; a proxy's refusal (407)
// stays in the status line, where "paused" would hide it.
TEST_F(ResumeTest, AResumeWhoseProbeFailsOffersTheResumeAndKeepsAProxysRefusalInSight) {
    constexpr DWORD kStallAt = 30000;
    struct Case {
        const char* why;
        bool watchdog;  // else the user's click
        Fault probe;
        bool box;
        bool refusal;  // the status line keeps the 407 text
    };
    const Case cases[] = {
        {"the watchdog's resume, no answer", true, Fault::NeverAnswer(), true, false},
        {"the watchdog's resume, not found", true, Fault::HeadStatus(404), false, false},
        {"the watchdog's resume, a proxy's refusal", true, Fault::HeadStatus(407), false, true},
        {"the user's resume, a proxy's refusal", false, Fault::HeadStatus(407), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        server_.ClearFaults("/setup.exe");
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            dlg.ShowWindow(SW_SHOW);  // the body runs before the modal run shows the dialog
            if (c.watchdog) {
                server_.AddFault("/setup.exe", Fault::StallAfter(kStallAt));
                Start(dlg);
                ASSERT_TRUE(platform::testing::PumpUntil(
                    [&] { return dlg.m_nLastWritten == 4u * kStallAt && dlg.m_nStallTicks > 0; },
                    20000));
            } else {
                StartAndPause(dlg);
            }
            server_.AddFault("/setup.exe", c.probe);
            dlg.m_nHeaderTimeout = 2;
            if (c.watchdog) {
                dlg.m_nStallTicks = CZELVDownloaderDlg::STALL_TICK_LIMIT - 1;  // the next tick
            } else {
                dlg.OnBnClickedAction();
            }
            EXPECT_TRUE(platform::testing::PumpUntil(
                [&] {
                    return dlg.m_nStatus == CZELVDownloaderDlg::STATUS_PAUSED &&
                           dlg.m_nLiveWorkers.load() == 0;
                },
                30000));
            EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
            for (int id :
                 {IDC_BUTTON_EXIT, IDC_BUTTON_ACTION, IDC_COMBO_PRODUCT, IDC_BUTTON_BROWSE})
                EXPECT_TRUE(dlg.Enabled(id)) << id;
            EXPECT_TRUE(dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->IsWindowVisible());
            const std::string refusal = FormatText(IDS_HTTP_STATUS_ERROR, 407, "").GetString();
            const std::string status = dlg.Text(IDC_STATIC_STATUS);
            if (c.refusal) {
                EXPECT_EQ(refusal, status.substr(0, refusal.size())) << status;
            } else {
                EXPECT_EQ(Res(IDS_PAUSED), status);
            }
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.box ? 1 : 0), boxes.size());
        if (c.box) {
            EXPECT_EQ(FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString(),
                      boxes.back().text);
        }
    }
}

TEST_F(ResumeTest, AWorkerThatCannotStartLeavesTheDownloadPaused) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        platform::testing::FailThreadStarts(1);
        dlg.OnBnClickedAction();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(nullptr, dlg.m_hThread);
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        dlg.OnBnClickedAction();
        ExpectCompleteAndExact(dlg);
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
}

TEST_F(ResumeTest, AnOutputFileThatCannotBeOpenedPausesTheDownloadWithItsReason) {
    std::filesystem::create_directories(target_);  // a folder where the file should be
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        EXPECT_TRUE(
            platform::testing::PumpUntil([&] { return dlg.m_nLiveWorkers.load() == 0; }, 10000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load()) << "nothing runs";
        EXPECT_FALSE(ProgressTimerArmed(dlg));
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_BROWSE));
        EXPECT_EQ(Res(IDS_OPEN_FILE_FAILED), dlg.Text(IDC_STATIC_STATUS));

        std::filesystem::remove(target_);  // the user clears the way and resumes
        dlg.OnBnClickedAction();
        ExpectCompleteAndExact(dlg);
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    EXPECT_EQ(4u, [&] {
        const std::string log = Log();
        size_t n = 0;
        for (size_t at = log.find("create new download file failed:"); at != std::string::npos;
             at = log.find("create new download file failed:", at + 1))
            ++n;
        return n;
    }());
}

TEST_F(ResumeTest, ARunThatCannotOpenItsFileShowsThePausedStateWhereNoDisplayFollows) {
    // Exit, then Cancel: the download goes on without a state display of the exit's own.
    std::optional<CFile> holder;
    responder_.beforeBoxAnswer = [&](const platform::MessageBoxCall&) {
        holder.emplace();  // another program takes the file while the question is asked
        ASSERT_TRUE(holder->Open(fixtures::Sandbox::Win(target_).c_str(),
                                 CFile::modeReadWrite | CFile::shareExclusive));
    };
    responder_.QueueBoxAnswer(IDCANCEL);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        server_.AddFault("/setup.exe", Fault::RateLimit(256 * 1024));
        Start(dlg);
        ASSERT_TRUE(platform::testing::PumpUntil([&] { return Written(dlg) > 0; }, 20000));
        dlg.OnExit();
        responder_.beforeBoxAnswer = nullptr;
        EXPECT_TRUE(
            platform::testing::PumpUntil([&] { return dlg.m_nLiveWorkers.load() == 0; }, 20000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_EQ(Res(IDS_OPEN_FILE_FAILED), dlg.Text(IDC_STATIC_STATUS));
        holder.reset();
    }));
}

TEST_F(ResumeTest, AResumeWhoseProbeGivesNoSizeLeavesThePausedDownloadAsItIs) {
    for (bool restored : {false, true}) {
        SCOPED_TRACE(restored ? "restored from the store" : "paused in this run");
        Reset();
        if (restored) {
            ASSERT_TRUE(Run([&](TestDlg& dlg) { StartAndPause(dlg); }));
        }
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            if (restored) {
                Prepare(dlg, Url(), 4, Md5Of(bytes_));
                Restore(dlg);
            } else {
                StartAndPause(dlg);
            }
            const std::string kept = TargetBytes();
            const auto saved = SavedConnections(4);
            const size_t boxes = responder_.boxes().size();
            server_.AddFault("/setup.exe", Fault::NoContentLength().Times(1));
            dlg.OnBnClickedAction();
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            EXPECT_EQ(0, dlg.m_nLiveWorkers.load()) << "no run started";
            EXPECT_EQ(Res(IDS_RESUME_WITHOUT_SIZE), dlg.Text(IDC_STATIC_STATUS));
            EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
            EXPECT_EQ(kSize, dlg.m_nServerFileSize);
            EXPECT_EQ(boxes, responder_.boxes().size());
            EXPECT_TRUE(TargetBytes() == kept) << "the file is untouched";
            EXPECT_EQ(saved, SavedConnections(4)) << "the saved progress is untouched";

            dlg.OnBnClickedAction();  // the probe gives the size again
            ExpectCompleteAndExact(dlg);
        }));
        EXPECT_TRUE(TargetBytes() == bytes_);
        EXPECT_TRUE(LogHas("Detect this resume download ? 1"));
    }
}

TEST_F(ResumeTest, TheAutomaticResumeActsOnlyOnADownloadThatIsStillPaused) {
    const char kUrl[] = "http://127.0.0.1:9/setup.exe";  // nothing listens: a probe fails at once
    const auto drop = [](TestDlg& dlg) {
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_DOWNLOADING;
        dlg.ConnectionsDropped();
    };
    // The answer OK after a completion whose file does not match: a click of the main button.
    const auto downloadAgain = [this](TestDlg& dlg) {
        responder_.QueueBoxAnswer(IDOK);
        dlg.m_bCompletionCheck = TRUE;
        EXPECT_FALSE(dlg.CheckMd5());
        dlg.m_bCompletionCheck = FALSE;
    };
    struct Case {
        const char* why;
        std::function<void(TestDlg&)> post;
        int statusWhenItArrives;
        const char* done;   // the line that shows it was handled
        const char* never;  // a line that must not follow
    };
    const Case cases[] = {
        {"a drop's resume after the completion", drop, CZELVDownloaderDlg::STATUS_FINISHED,
         "INFO: The automatic resume is not needed in state 3", "INFO: +++++ OnLaunch()"},
        {"a drop's resume after a new start", drop, CZELVDownloaderDlg::STATUS_START_NEW,
         "INFO: The automatic resume is not needed in state 1", "INFO: +++++ OnStart()"},
        {"a drop's resume while paused", drop, CZELVDownloaderDlg::STATUS_PAUSED,
         "INFO: +++++ OnResume()", nullptr},
        {"download again after a mismatch", downloadAgain, CZELVDownloaderDlg::STATUS_START_NEW,
         "INFO: +++++ OnStart()", nullptr},
    };
    TestIdentity user;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        sandbox_.WriteFile(target_, "not the installer");
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, Md5Of("the installer"));
            dlg.CheckDlgButton(IDC_CHECK_LAUNCH, BST_UNCHECKED);
            c.post(dlg);
            dlg.m_nStatus = c.statusWhenItArrives;
            const auto lines = [&] { return LogLines(logPath_); };
            const auto has = [&](const char* line) {
                const auto all = lines();
                return std::find(all.begin(), all.end(), line) != all.end();
            };
            EXPECT_TRUE(PumpUntil([&] { return has(c.done) || dlg.Ended(); }, 10000));
            EXPECT_TRUE(has(c.done));
            EXPECT_FALSE(dlg.Ended());
            if (c.never != nullptr) {
                EXPECT_FALSE(has(c.never));
            }
        }));
    }
}

TEST_F(ResumeTest, ARestartForgetsTheSavedProgressBeforeItChangesTheFile) {
    struct Case {
        const char* why;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"the file was cut", [this] { std::filesystem::resize_file(target_, 1000); }},
        {"the file has gone", [this] { std::remove(target_.c_str()); }},
    };
    const std::string registryFolder = platform::LayerStateFolder();
    const std::string downloadFolder = sandbox_.Path("download");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Reset();
        ASSERT_TRUE(Run([&](TestDlg& dlg) { StartAndPause(dlg); }));
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            Restore(dlg);
            c.change();
            FileChanges changes({registryFolder, downloadFolder});
            dlg.OnBnClickedAction();  // back once the run has set itself up
            const auto all = changes.Read();
            const auto isStore = [&](const std::string& path) {
                return path.rfind(registryFolder + "/registry.sqlite3", 0) == 0;
            };
            const auto store = std::find_if(all.begin(), all.end(), isStore);
            const auto file = std::find(all.begin(), all.end(), target_);
            ASSERT_NE(all.end(), store) << "the saved progress was forgotten";
            ASSERT_NE(all.end(), file) << "the file was made anew";
            EXPECT_LT(store - all.begin(), file - all.begin())
                << "a kill in between would leave keys that count bytes the file lost";
            ExpectCompleteAndExact(dlg);
        }));
        EXPECT_TRUE(TargetBytes() == bytes_);
    }
}

}  // namespace
}  // namespace apptest
