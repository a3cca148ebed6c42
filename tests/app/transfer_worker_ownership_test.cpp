// Another user's file at the target path is never written into, nor one that others may change:
// its owner could have put anything around the ranges and could change it before it is
// started. A file that the download makes is never open to others' writes, whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

class FileOwnershipTest : public ServedEngineTest {};

TEST_F(FileOwnershipTest, OnlyAFileOfTheUsersOwnThatNoOneElseMayWriteIsDownloadedInto) {
    const uid_t other = 65534;
    struct Case {
        const char* why;
        mode_t mode;
        uid_t owner;
        bool written;
    };
    const Case cases[] = {
        {"another user's file that anyone may write", 0777, other, false},
        {"another user's file", 0644, other, false},
        {"the user's file that others may write", 0646, geteuid(), false},
        {"the user's file that its group may write", 0664, geteuid(), false},
        {"the user's file", 0644, geteuid(), true},
    };
    const std::string theirs = "#!/bin/sh\necho theirs\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        sandbox_.WriteFile(target_, theirs);
        ASSERT_EQ(0, chown(target_.c_str(), c.owner, static_cast<gid_t>(-1)));
        ASSERT_EQ(0, chmod(target_.c_str(), c.mode));
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Start(dlg);
            if (c.written) {
                EXPECT_TRUE(WaitSettled(dlg, 60000));
                EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
                return;
            }
            EXPECT_TRUE(platform::testing::PumpUntil([&] { return dlg.m_nLiveWorkers.load() == 0; },
                                                     20000));
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load()) << "nothing runs";
        }));
        struct stat st {};
        ASSERT_EQ(0, stat(target_.c_str(), &st));
        EXPECT_EQ(c.owner, st.st_uid);
        const auto boxes = responder_.boxes();
        if (c.written) {
            EXPECT_TRUE(TargetBytes() == bytes_);
            EXPECT_EQ(boxesBefore, boxes.size());
        } else {
            EXPECT_EQ(theirs, TargetBytes()) << "nothing was written into it";
            EXPECT_EQ(c.mode, st.st_mode & 07777);
            ASSERT_EQ(boxesBefore + 1, boxes.size());
            EXPECT_EQ(
                FormatText(IDS_FILE_NOT_OWN, fixtures::Sandbox::Win(target_).c_str()).GetString(),
                boxes.back().text);
            EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes.back().caption);
            EXPECT_TRUE(boxes.back().fromWorker);
        }
    }
}

TEST_F(FileOwnershipTest, AFileTheDownloadMakesIsNeverOpenToOthersWrites) {
    // A folder that anyone may write (a shared temporary folder) and no umask at all.
    const std::string folder = fixtures::Sandbox::Folder(sandbox_.Path("shared"), 01777, 0);
    target_ = folder + "/setup.exe";
    const mode_t saved = umask(0);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Start(dlg);
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
    }));
    umask(saved);
    EXPECT_TRUE(TargetBytes() == bytes_);
    struct stat st {};
    ASSERT_EQ(0, stat(target_.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777) << "readable as its folder, written by its owner alone";
    EXPECT_EQ(geteuid(), st.st_uid);
}

}  // namespace
}  // namespace apptest
