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
#include "platform/base/xdg.h"
#include "platform/kernel/thread.h"
#include "platform/registry/registry.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

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
    // A text of the saved download's settings; empty when there is none.
    static std::string SavedText(const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis\\Downloader\\Progress", 0,
                          KEY_READ, &key) != ERROR_SUCCESS)
            return "";
        char text[260] = {0};
        DWORD size = sizeof(text) - 1;
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        return text;
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

// A server file replaced by another of the same size while the download was paused. With a
// validator that If-Range can use, the resume asks under it, the whole-file answer starts every
// range again from zero, and what is saved afterwards is the new file's under its own
// validator. Without one the resume goes on unchecked, as it always did.
struct ReplacedCase {
    const char* name;
    fixtures::FaultServer::Validators before, after;
    bool restored;       // resumed by a new run from the saved state
    std::string sent;    // If-Range of the resume; empty: none
    std::string stored;  // the validator saved after the restart
};

void PrintTo(const ReplacedCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplacedFileTest : public ResumeTest, public ::testing::WithParamInterface<ReplacedCase> {};

const char kDate1[] = "Tue, 01 Dec 2026 10:00:00 GMT";
const char kDate2[] = "Wed, 02 Dec 2026 10:00:00 GMT";

INSTANTIATE_TEST_SUITE_P(
    Validators, ReplacedFileTest,
    ::testing::Values(
        ReplacedCase{"StrongETag", {"\"v1\"", ""}, {"\"v2\"", ""}, false, "\"v1\"", "\"v2\""},
        ReplacedCase{"LastModifiedAloneRestored", {"", kDate1}, {"", kDate2}, true, kDate1, kDate2},
        ReplacedCase{"WeakETagBesideLastModified",
                     {"W/\"v1\"", kDate1},
                     {"W/\"v2\"", kDate2},
                     false,
                     kDate1,
                     kDate2},
        ReplacedCase{"WeakETagAlone", {"W/\"v1\"", ""}, {"W/\"v2\"", ""}, false, "", ""},
        ReplacedCase{"NoValidatorRestored", {}, {}, true, "", ""}),
    [](const ::testing::TestParamInfo<ReplacedCase>& info) { return info.param.name; });

TEST_P(ReplacedFileTest, ASameSizeFileIsNeverSplicedToTheHeldRanges) {
    const ReplacedCase& c = GetParam();
    const std::string replaced = fixtures::PatternBytes(kSize, 8);
    server_.AddFile("/setup.exe", bytes_, c.before);
    const bool checked = !c.sent.empty();
    // Unchecked, the result mixes both files: no MD5 may stop the run there.
    const std::string md5 = checked ? Md5Of(replaced) : "";
    size_t from = 0;
    const auto pauseOnceBytesCame = [&](TestDlg& dlg) {
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 100000; }, 20000));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
    };
    const auto resumeReplaced = [&](TestDlg& dlg) {
        server_.AddFile("/setup.exe", replaced, c.after);
        from = server_.Requests().size();
        dlg.OnBnClickedAction();
        if (checked) {
            ASSERT_TRUE(
                PumpUntil([&] { return LogHas("every range starts again from zero"); }, 20000));
            ASSERT_NO_FATAL_FAILURE(pauseOnceBytesCame(dlg));
            const std::string old = bytes_;
            bytes_ = replaced;
            EXPECT_GT(CheckSavedRanges(4), 0u) << "the saves hold the new file's bytes";
            bytes_ = old;
            EXPECT_EQ(c.stored, SavedText("ServerFileValidator"));
            dlg.OnBnClickedAction();
        }
        server_.ClearFaults("/setup.exe");
        ExpectCompleteAndExact(dlg);
    };
    server_.AddFault("/setup.exe", Fault::RateLimit(256 * 1024));
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, md5);
        dlg.OnBnClickedAction();
        ASSERT_NO_FATAL_FAILURE(pauseOnceBytesCame(dlg));
        EXPECT_EQ(c.sent, SavedText("ServerFileValidator"));
        if (!c.restored)
            resumeReplaced(dlg);
    }));
    if (c.restored) {
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, md5);
            Restore(dlg);
            resumeReplaced(dlg);
        }));
    }
    const auto requests = server_.Requests();
    ASSERT_LT(from, requests.size());
    EXPECT_EQ("HEAD", requests[from].method);
    size_t sent = 0;
    for (size_t i = from + 1; i < requests.size() && !requests[i].ifRange.empty(); ++i, ++sent)
        EXPECT_EQ(c.sent, requests[i].ifRange);
    if (checked) {
        EXPECT_GT(sent, 0u) << "every resumed range asks under If-Range";
        EXPECT_TRUE(TargetBytes() == replaced) << "byte for byte the new file";
    } else {
        EXPECT_EQ(0u, sent);
        EXPECT_TRUE(LogHas("Detect this resume download ? 1"));
        EXPECT_FALSE(LogHas("every range starts again"));
    }
}

// A server without ranges ignores If-Range as well: its whole file under the same validator is
// still the file resumed, and only the bytes not yet held are taken from it.
TEST_F(ResumeTest, AWholeFileUnderTheSameValidatorIsStillResumed) {
    server_.AddFile("/setup.exe", bytes_, {"\"v1\"", ""});
    server_.AddFault("/setup.exe", Fault::NoAcceptRanges());
    server_.AddFault("/setup.exe", Fault::IgnoreRange());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        server_.AddFault("/setup.exe", Fault::RateLimit(256 * 1024));
        Start(dlg);
        ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 100000; }, 20000));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        server_.ClearFaults("/setup.exe");
        server_.AddFault("/setup.exe", Fault::NoAcceptRanges());
        server_.AddFault("/setup.exe", Fault::IgnoreRange());
        const DWORD held = Written(dlg);
        const size_t from = server_.Requests().size();
        dlg.OnBnClickedAction();
        ExpectCompleteAndExact(dlg);
        const auto requests = server_.Requests();
        ASSERT_LT(from + 1, requests.size());
        EXPECT_EQ("bytes=" + std::to_string(held) + "-", requests[from + 1].range);
        EXPECT_EQ("\"v1\"", requests[from + 1].ifRange);
    }));
    EXPECT_TRUE(TargetBytes() == bytes_);
    EXPECT_FALSE(LogHas("every range starts again"));
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
        bool serverFileReplaced = false;
    };
    const std::string replaced = fixtures::PatternBytes(kSize, 8);
    const Case cases[] = {
        {"the file was cut", [this] { std::filesystem::resize_file(target_, 1000); }},
        {"the file has gone", [this] { std::remove(target_.c_str()); }},
        // The whole-file answer to If-Range is never written before the keys are gone.
        {"the server's file was replaced",
         [&] {
             bytes_ = replaced;
             server_.AddFile("/setup.exe", bytes_, {"\"v2\"", ""});
         },
         true},
    };
    const std::string registryFolder = platform::LayerStateFolder();
    const std::string downloadFolder = sandbox_.Path("download");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Reset();
        bytes_ = fixtures::PatternBytes(kSize, 7);
        server_.AddFile("/setup.exe", bytes_, {"\"v1\"", ""});
        ASSERT_TRUE(Run([&](TestDlg& dlg) { StartAndPause(dlg); }));
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(c.serverFileReplaced ? replaced : bytes_));
            Restore(dlg);
            c.change();
            FileChanges changes({registryFolder, downloadFolder});
            dlg.OnBnClickedAction();  // back once the run has set itself up
            if (c.serverFileReplaced) {
                // That run finds out only from the answers, and starts again from zero.
                ASSERT_TRUE(PumpUntil(
                    [&] {
                        return LogHas("every range starts again from zero") && Written(dlg) > 0;
                    },
                    20000));
            }
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
