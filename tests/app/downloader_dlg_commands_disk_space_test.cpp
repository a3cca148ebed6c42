// The free-space check of a start: more free space than the file's size is needed, a failed
// query does not pass, too little space asks Retry or Cancel, and a missing folder is named.
#include <gtest/gtest.h>

#include <deque>
#include <optional>

#include "platform/base/lasterror.h"
#include "platform/fs/folders.h"
#include "platform/registry/registry.h"
#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"

namespace apptest {
namespace {

// The free space that the disk reports while it lives: each query takes the next answer (the
// last one stays); an empty answer is a query that the folder refuses.
class FreeSpace : public platform::FreeSpaceSource {
  public:
    explicit FreeSpace(std::deque<std::optional<ULONGLONG>> answers)
        : answers_(std::move(answers)) {
        platform::SetFreeSpaceSource(this);
    }
    ~FreeSpace() override { platform::SetFreeSpaceSource(nullptr); }

    bool FreeBytes(const std::string& directoryName, ULONGLONG* freeBytes, DWORD* error) override {
        folders_.push_back(directoryName);
        const std::optional<ULONGLONG> answer = answers_.front();
        if (answers_.size() > 1)
            answers_.pop_front();
        if (!answer) {
            *error = ERROR_ACCESS_DENIED;
            return false;
        }
        *freeBytes = *answer;
        return true;
    }
    const std::vector<std::string>& folders() const { return folders_; }

  private:
    std::deque<std::optional<ULONGLONG>> answers_;
    std::vector<std::string> folders_;
};

TEST_F(EngineTest, TheCheckNeedsMoreFreeSpaceThanTheSizeAndAnAnswer) {
    struct Case {
        DWORD size;
        std::optional<ULONGLONG> free;
        bool passes;
    };
    const Case cases[] = {
        {1000, 999, false},
        {1000, 1000, false},
        {1000, 1001, true},
        {0, 0, false},
        {0, 1, true},
        {0x80000000u, 0x80000000ull, false},
        {0x80000000u, 0x80000001ull, true},
        {1000, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size << " bytes, " << (c.free ? std::to_string(*c.free) : "no answer"));
        ForgetLog();
        FreeSpace disk({c.free});
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, "http://127.0.0.1:9/setup.exe");
            dlg.m_nServerFileSize = c.size;
            EXPECT_EQ(c.passes, dlg.CheckDiskSpace() != FALSE);
        }));
        ASSERT_EQ(1u, disk.folders().size());
        EXPECT_EQ(fixtures::Sandbox::Win(sandbox_.Path("download")), disk.folders()[0])
            << "the folder of the target path";
        EXPECT_EQ(!c.free, LogHas("ERROR: ERROR TO CHECK DISK"));
    }
}

class DiskSpaceStartTest : public ServedEngineTest {};

TEST_F(DiskSpaceStartTest, TooLittleSpaceAsksRetryOrCancel) {
    struct Case {
        const char* why;
        std::deque<std::optional<ULONGLONG>> free;
        std::vector<int> answers;  // to the questions, in order
        bool starts;
    };
    const Case cases[] = {
        {"enough at once", {kSize + 1}, {}, true},
        {"as much as the size, Cancel", {kSize}, {IDCANCEL}, false},
        {"a failed query, Cancel", {std::nullopt}, {IDCANCEL}, false},
        {"too little, Retry, too little, Retry, enough",
         {0, kSize, kSize + 1},
         {IDRETRY, IDRETRY},
         true},
        {"a failed query, Retry, enough", {std::nullopt, kSize + 1}, {IDRETRY}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        FreeSpace disk(c.free);
        for (int answer : c.answers)
            responder_.QueueBoxAnswer(answer);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.OnStart();
            EXPECT_EQ(c.starts ? CZELVDownloaderDlg::STATUS_DOWNLOADING
                               : CZELVDownloaderDlg::STATUS_START_NEW,
                      dlg.m_nStatus.load());
            EXPECT_EQ(c.starts, dlg.m_hThread != nullptr) << "a worker started";
            if (c.starts) {
                dlg.OnPause();
                EXPECT_TRUE(WaitSettled(dlg));
            }
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + c.answers.size(), boxes.size());
        for (size_t i = boxesBefore; i < boxes.size(); ++i) {
            EXPECT_EQ(Res(IDS_DISK_SPACE_LOW), boxes[i].text);
            EXPECT_EQ(Res(IDS_MSGBOX_CAPTION), boxes[i].caption);
            EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), boxes[i].type);
        }
        size_t retries = 0;
        for (int answer : c.answers)
            retries += answer == IDRETRY;
        EXPECT_EQ(retries + 1, disk.folders().size()) << "Retry checks again";
        EXPECT_EQ(retries, Occurrences(Log(),
                                       "ERROR: Disk space is not enough!! Please select "
                                       "another path or cleanup current space."));
        EXPECT_EQ(c.answers.size(), Occurrences(Log(), "INFO: " + Res(IDS_DISK_SPACE_LOW)));
        EXPECT_EQ(c.starts, SavedKeyExists("Progress")) << "a cancelled start saves nothing";
        EXPECT_TRUE(LogHas("----- OnStart()"));
    }
}

TEST_F(DiskSpaceStartTest, AMissingTargetFolderIsNamedAndNothingStarts) {
    struct Case {
        const char* why;
        std::string folder;  // native, missing
    };
    const Case cases[] = {
        {"the folder is missing", sandbox_.Path("Desktop")},
        {"a folder above it is missing", sandbox_.Path("gone/Desktop")},
    };
    responder_.SetDefaultBoxAnswer(IDCANCEL);  // a question asked all the same ends the start
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        const size_t boxesBefore = responder_.boxes().size();
        target_ = c.folder + "/setup.exe";
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.OnBnClickedAction();
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
            EXPECT_EQ(nullptr, dlg.m_hThread) << "no run started";
            EXPECT_EQ(
                FormatText(IDS_TARGET_FOLDER_MISSING, fixtures::Sandbox::Win(c.folder).c_str())
                    .GetString(),
                dlg.Text(IDC_STATIC_STATUS));
            EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_BROWSE));
        }));
        EXPECT_TRUE(
            LogHas("ERROR: " + std::string(FormatText(IDS_TARGET_FOLDER_MISSING,
                                                      fixtures::Sandbox::Win(c.folder).c_str())
                                               .GetString())));
        EXPECT_EQ(boxesBefore, responder_.boxes().size()) << "no question of disk space";
        EXPECT_FALSE(LogHas(Res(IDS_DISK_SPACE_LOW)));
        EXPECT_FALSE(SavedKeyExists("Progress")) << "nothing is saved";
        EXPECT_FALSE(fixtures::Sandbox::Exists(target_));
    }
}

}  // namespace
}  // namespace apptest
