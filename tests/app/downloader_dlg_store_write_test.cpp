// What the store holds of a download: the settings that a start writes, proxy and credentials
// included, loaded progress that a later save keeps as it was loaded, and saves that another
// process's hold on the store refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "app/dl_info.h"
#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_store.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

const char kProgress[] = "SOFTWARE\\Corvantis\\Downloader\\Progress";

// A text of the Progress key; false when it cannot be read.
bool ReadSavedText(const char* name, std::string* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProgress, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char buffer[512] = {0};
    DWORD size = sizeof(buffer) - 1;
    const bool ok = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                                     &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    *text = buffer;
    return ok;
}

class ProgressWriteTest : public ServedEngineTest {};

TEST_F(ProgressWriteTest, AStartSavesTheDownloadWithItsProxyAndCredentials) {
    server_.AddFault("/setup.exe", fixtures::Fault::RateLimit(64 * 1024));
    // The fault server also answers requests made to it as a proxy.
    const std::string proxy = "127.0.0.1:" + std::to_string(server_.port());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        dlg.m_strProxy = proxy.c_str();
        dlg.m_strProxyUser = "alice";
        dlg.m_strProxyPassword = "pass:word";
        dlg.OnStart();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());

        const std::pair<const char*, std::string> texts[] = {
            {"URL", Url()},  {"UseProxy", proxy}, {"FullName", fixtures::Sandbox::Win(target_)},
            {"UN", "alice"}, {"XX", "pass:word"},
        };
        for (const auto& [name, expected] : texts) {
            std::string stored;
            EXPECT_TRUE(ReadSavedText(name, &stored)) << name;
            EXPECT_EQ(expected, stored) << name;
        }
        const std::pair<const char*, DWORD> numbers[] = {
            {"SplitNumber", 4}, {"ServerFileSize", kSize}, {"SupportRangesByte", 1}};
        for (const auto& [name, expected] : numbers) {
            DWORD stored = 0;
            EXPECT_TRUE(ReadSavedNumber(kProgress, name, &stored)) << name;
            EXPECT_EQ(expected, stored) << name;
        }
        dlg.OnPause();
        EXPECT_TRUE(WaitSettled(dlg));
    }));
}

TEST_F(ProgressWriteTest, LoadedProgressIsSavedAgainAsItWasLoaded) {
    sandbox_.WriteFile(target_, bytes_);
    const DWORD chunk = kSize / 4;
    SavedDownload saved;
    saved.url = Url();
    saved.fullName = fixtures::Sandbox::Win(target_);
    saved.size = kSize;
    saved.connections = {{0, 1000}, {chunk, 0}, {2 * chunk, 5}, {3 * chunk, kSize - 3 * chunk}};
    WriteSavedDownload(saved);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url(), 4, Md5Of(bytes_));
        ASSERT_TRUE(dlg.LoadRegProgressInfo());
        ASSERT_TRUE(dlg.LoadRegConnectionInfo());
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
        // Another program holds the file: the resumed run cannot open it and writes nothing.
        CFile holder;
        ASSERT_TRUE(holder.Open(fixtures::Sandbox::Win(target_).c_str(),
                                CFile::modeReadWrite | CFile::shareExclusive));
        dlg.OnBnClickedAction();
        EXPECT_TRUE(
            platform::testing::PumpUntil([&] { return dlg.m_nLiveWorkers.load() == 0; }, 20000));
        EXPECT_EQ(Res(IDS_OPEN_FILE_FAILED), dlg.Text(IDC_STATIC_STATUS));
        // The run ends paused and saves the progress itself: the user may exit right away.
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        holder.Close();
    }));
    for (size_t i = 0; i < saved.connections.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string key = std::string(kProgress) + "\\Connect" + std::to_string(i);
        DWORD start = 0, written = 0;
        ASSERT_TRUE(ReadSavedNumber(key, "StartRange", &start));
        ASSERT_TRUE(ReadSavedNumber(key, "WrittenBytes", &written));
        EXPECT_EQ(saved.connections[i].first, start);
        EXPECT_EQ(saved.connections[i].second, written) << "the loaded count is on the disk";
    }
}

TEST_F(ProgressWriteTest, ASaveThatAHeldStoreRefusesIsReportedAtOnceAndALaterSaveSaves) {
    using platform::testing::PumpUntil;
    using platform::testing::RegistryHold;
    server_.AddFault("/setup.exe", fixtures::Fault::RateLimit(64 * 1024));
    const std::string notSaved = Res(IDS_PROGRESS_NOT_SAVED);
    for (const bool heldAtStart : {true, false}) {
        SCOPED_TRACE(heldAtStart ? "held from the start" : "held from the pause");
        ForgetLog();
        std::remove(target_.c_str());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url(), 4, Md5Of(bytes_));
            std::optional<RegistryHold> hold;
            if (heldAtStart)
                hold.emplace();
            // How long the clicks made while the store is held keep the window from the user:
            // the transfer's own progress between them is not counted.
            std::chrono::steady_clock::duration frozen{};
            const auto click = [&] {
                const auto clicked = std::chrono::steady_clock::now();
                dlg.OnBnClickedAction();
                frozen += std::chrono::steady_clock::now() - clicked;
            };
            unsigned waitsBefore = platform::RegistryWaitsRunOut();
            click();  // Download
            ASSERT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
            if (heldAtStart) {
                EXPECT_EQ(notSaved, dlg.Text(IDC_STATIC_STATUS));
            }
            ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > 0; }, 20000));
            if (!heldAtStart) {
                // Saved once already: the held save finds its keys and only their writes fail.
                dlg.OnBnClickedAction();  // Pause
                dlg.OnBnClickedAction();  // Resume
                const DWORD before = Written(dlg);
                ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > before; }, 20000));
                hold.emplace();
                frozen = {};
                waitsBefore = platform::RegistryWaitsRunOut();
            }
            ASSERT_TRUE(hold->held());
            click();  // Pause
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            EXPECT_EQ(notSaved, dlg.Text(IDC_STATIC_STATUS)) << "shown instead of the paused text";
            EXPECT_EQ(waitsBefore + 1, platform::RegistryWaitsRunOut())
                << "the store is waited for once while it is held";
            EXPECT_LT(frozen, std::chrono::seconds(10));
            hold.reset();

            dlg.OnBnClickedAction();  // Resume
            const DWORD resumed = Written(dlg);
            ASSERT_TRUE(PumpUntil([&] { return Written(dlg) > resumed; }, 20000));
            dlg.OnBnClickedAction();  // Pause: this save gets through
            EXPECT_EQ(Res(IDS_PAUSED), dlg.Text(IDC_STATIC_STATUS));
            std::string fullName;
            EXPECT_TRUE(ReadSavedText("FullName", &fullName)) << "the settings are saved too";
            EXPECT_EQ(fixtures::Sandbox::Win(target_), fullName);
            for (int i = 0; i < 4; ++i) {
                const std::string key = std::string(kProgress) + "\\Connect" + std::to_string(i);
                DWORD written = 0;
                EXPECT_TRUE(ReadSavedNumber(key, "WrittenBytes", &written)) << i;
                EXPECT_EQ(dlg.m_pDLInfo[i].dwSyncedBytes.load(), written) << i;
            }
        }));
        EXPECT_EQ(heldAtStart ? 2u : 1u, Occurrences(Log(), "ERROR: " + notSaved))
            << "each refused save says so in the log";
    }
}

}  // namespace
}  // namespace apptest
