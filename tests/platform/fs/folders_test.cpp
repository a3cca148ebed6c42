#include "platform/fs/folders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/xdg.h"
#include "platform/fs/file.h"
#include "support/sandbox.h"

namespace {

using fixtures::Sandbox;

bool IsFolder(const std::string& native) {
    struct stat st {};
    return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string RealPath(const std::string& native) {
    char resolved[PATH_MAX];
    return realpath(native.c_str(), resolved) ? std::string(resolved) : std::string();
}

class FoldersTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override { savedCwd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }
    void TearDown() override {
        if (savedCwd_ >= 0) {
            EXPECT_EQ(fchdir(savedCwd_), 0);
            close(savedCwd_);
        }
    }
    std::string Native(const std::string& name) const { return sandbox_.Path(name); }
    std::string Win(const std::string& name) const { return Sandbox::Win(Native(name)); }

    int savedCwd_ = -1;
};

// Another user's uid, for folders that are not this user's.
const uid_t kOtherUser = 65534;

// $TMPDIR only when only this user can change it; otherwise a private folder of the layer's.
TEST_F(FoldersTest, TempPathIsAFolderOfThisUserOnlyEndingInBackslash) {
    const std::string own = sandbox_.state() + "/ZELVDownloader/tmp";
    struct Case {
        const char* name;
        std::string tmpdir;  // empty: unset
        std::string expected;
    };
    const Case cases[] = {
        {"sandbox", sandbox_.temp(), sandbox_.temp()},
        {"trailing slash", sandbox_.temp() + "/", sandbox_.temp()},
        {"readable by others", Sandbox::Folder(Native("open"), 0755, geteuid()), Native("open")},
        {"unset", "", own},
        {"shared with the sticky bit", Sandbox::Folder(Native("shared"), 01777, geteuid()), own},
        {"writable by the group", Sandbox::Folder(Native("group"), 0770, geteuid()), own},
        {"of another user", Sandbox::Folder(Native("theirs"), 0700, kOtherUser), own},
        {"missing", Native("missing"), own},
        {"a file", Native("file"), own},
    };
    sandbox_.WriteFile(Native("file"), "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.tmpdir.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", c.tmpdir.c_str(), 1);
        }
        char buffer[MAX_PATH] = {};
        const DWORD length = GetTempPathA(MAX_PATH, buffer);
        const std::string expected = Sandbox::Win(c.expected) + "\\";
        EXPECT_EQ(std::string(buffer), expected);
        EXPECT_EQ(length, expected.size());
    }
    struct stat st {};
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
}

// The private folder is closed to others again when it was opened up, and refused when it or
// the state folder around it belongs to someone else.
TEST_F(FoldersTest, ThePrivateTempFolderIsTightenedOrRefused) {
    unsetenv("TMPDIR");
    const std::string state = sandbox_.state() + "/ZELVDownloader";
    const std::string own = state + "/tmp";
    ASSERT_TRUE(platform::MakeFolders(own, 0700));
    Sandbox::Folder(own, 0777, geteuid());
    char buffer[MAX_PATH] = {};
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), own.size() + 1);
    struct stat st {};
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    for (const std::string& theirs : {own, state}) {
        SCOPED_TRACE(theirs);
        Sandbox::Folder(theirs, 0755, kOtherUser);
        SetLastError(0);
        EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        Sandbox::Folder(theirs, 0700, geteuid());
    }
}

TEST_F(FoldersTest, WindowsFolderIsTheLayersOwnWithATempFolder) {
    const std::string expected = sandbox_.state() + "/ZELVDownloader/Windows";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first call" : "after the folder was removed");
        char buffer[MAX_PATH] = {};
        const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
        EXPECT_EQ(std::string(buffer), Sandbox::Win(expected));
        EXPECT_EQ(length, expected.size());
        EXPECT_TRUE(IsFolder(expected));
        EXPECT_TRUE(IsFolder(expected + "/Temp"));
        ASSERT_EQ(rmdir((expected + "/Temp").c_str()), 0);
        ASSERT_EQ(rmdir(expected.c_str()), 0);
    }
}

struct BufferCase {
    const char* name;
    std::function<DWORD(DWORD size, LPSTR buffer)> call;
    std::function<std::string()> expected;
};

TEST_F(FoldersTest, FolderTextsFollowTheBufferProtocol) {
    ASSERT_EQ(mkdir(Native("cwd").c_str(), 0700), 0);
    ASSERT_EQ(chdir(Native("cwd").c_str()), 0);
    const std::string state = sandbox_.state();
    const BufferCase cases[] = {
        {"current folder", GetCurrentDirectoryA,
         [this] { return Sandbox::Win(RealPath(Native("cwd"))); }},
        {"temporary folder", GetTempPathA, [this] { return Sandbox::Win(sandbox_.temp()) + "\\"; }},
        {"Windows folder",
         [](DWORD size, LPSTR buffer) { return GetWindowsDirectoryA(buffer, size); },
         [state] { return Sandbox::Win(state + "/ZELVDownloader/Windows"); }},
    };
    for (const BufferCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.expected();
        const DWORD length = static_cast<DWORD>(text.size());
        EXPECT_EQ(c.call(0, nullptr), length + 1);
        std::string buffer(length + 8, '#');
        EXPECT_EQ(c.call(length, buffer.data()), length + 1);
        EXPECT_EQ(buffer, std::string(length + 8, '#'));
        EXPECT_EQ(c.call(length + 1, buffer.data()), length);
        EXPECT_EQ(buffer.substr(0, length + 1), text + '\0');
    }
}

TEST_F(FoldersTest, CurrentFolderThatWasRemovedFails) {
    ASSERT_EQ(mkdir(Native("gone").c_str(), 0700), 0);
    ASSERT_EQ(chdir(Native("gone").c_str()), 0);
    ASSERT_EQ(rmdir(Native("gone").c_str()), 0);
    SetLastError(ERROR_SUCCESS);
    char buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

struct CreateCase {
    const char* name;
    std::string path;  // Windows form
    BOOL result;
    DWORD error;
    std::string madeFolder;  // native; empty when no folder must appear
};

// Made folders are the user's alone (what the program keeps there is no one else's to read),
// whatever the umask and the parent's mode.
TEST_F(FoldersTest, CreateDirectoryMakesOnlyTheLastFolderForItsOwnerAlone) {
    ASSERT_EQ(mkdir(Native("existing").c_str(), 0755), 0);
    ASSERT_EQ(chmod(Native("existing").c_str(), 0755), 0);
    sandbox_.WriteFile(Native("file"), "x");
    const CreateCase cases[] = {
        {"new folder", Win("new"), TRUE, 0, Native("new")},
        {"trailing backslash", Win("slash") + "\\", TRUE, 0, Native("slash")},
        {"doubled separator", Win("existing") + "\\\\inner\\", TRUE, 0, Native("existing/inner")},
        {"existing folder", Win("existing"), FALSE, ERROR_ALREADY_EXISTS, ""},
        {"existing file", Win("file"), FALSE, ERROR_ALREADY_EXISTS, ""},
        {"missing parent", Win("no\\new"), FALSE, ERROR_PATH_NOT_FOUND, ""},
        {"parent is a file", Win("file\\new"), FALSE, ERROR_PATH_NOT_FOUND, ""},
        {"empty", "", FALSE, ERROR_PATH_NOT_FOUND, ""},
        {"260 characters", Win(std::string(259 - sandbox_.root().size(), 'x')), FALSE,
         ERROR_FILENAME_EXCED_RANGE, ""},
    };
    const mode_t saved = umask(0);
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateDirectoryA(c.path.c_str(), nullptr), c.result);
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (!c.madeFolder.empty()) {
            EXPECT_TRUE(IsFolder(c.madeFolder));
            struct stat st {};
            ASSERT_EQ(stat(c.madeFolder.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u);
        }
    }
    umask(saved);
    EXPECT_FALSE(Sandbox::Exists(Native("no")));
}

struct DeleteCase {
    const char* name;
    std::string path;   // Windows form
    DWORD error;        // 0 when the delete succeeds
    std::string stays;  // native path that must still exist afterwards, or empty
};

TEST_F(FoldersTest, DeleteFileResultsAndErrors) {
    sandbox_.WriteFile(Native("plain"), "x");
    sandbox_.WriteFile(Native("readonly"), "x");
    chmod(Native("readonly").c_str(), 0444);
    sandbox_.WriteFile(Native("held"), "x");
    CFile holder;
    ASSERT_TRUE(holder.Open(Win("held").c_str(), CFile::modeRead));
    ASSERT_EQ(mkdir(Native("folder").c_str(), 0700), 0);
    ASSERT_EQ(symlink(Native("held").c_str(), Native("link").c_str()), 0);

    const DeleteCase cases[] = {
        {"plain file", Win("plain"), 0, ""},
        {"link to a held file", Win("link"), 0, Native("held")},
        {"missing file", Win("none"), ERROR_FILE_NOT_FOUND, ""},
        {"missing parent", Win("no\\file"), ERROR_PATH_NOT_FOUND, ""},
        {"folder", Win("folder"), ERROR_ACCESS_DENIED, Native("folder")},
        {"read-only file", Win("readonly"), ERROR_ACCESS_DENIED, Native("readonly")},
        {"held file", Win("held"), ERROR_SHARING_VIOLATION, Native("held")},
        {"260 characters", Win(std::string(259 - sandbox_.root().size(), 'x')),
         ERROR_FILENAME_EXCED_RANGE, ""},
    };
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        const BOOL deleted = DeleteFileA(c.path.c_str());
        EXPECT_EQ(deleted, c.error == 0 ? TRUE : FALSE);
        if (!deleted) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        struct stat st {};
        EXPECT_EQ(lstat(platform::ToNativePath(c.path.c_str()).c_str(), &st) == 0,
                  !deleted && c.error != ERROR_FILE_NOT_FOUND && c.error != ERROR_PATH_NOT_FOUND &&
                      c.error != ERROR_FILENAME_EXCED_RANGE);
        if (!c.stays.empty()) {
            EXPECT_TRUE(Sandbox::Exists(c.stays));
        }
    }
    holder.Close();
    EXPECT_TRUE(DeleteFileA(Win("held").c_str()));
    EXPECT_FALSE(Sandbox::Exists(Native("held")));
}

TEST_F(FoldersTest, DiskFreeSpaceOfAFolder) {
    ASSERT_EQ(chdir(sandbox_.root().c_str()), 0);
    const std::string folder = Sandbox::Win(sandbox_.temp());
    const std::pair<const char*, const char*> good[] = {
        {"folder", folder.c_str()}, {"empty text", ""}, {"NULL", nullptr}};
    for (const auto& [name, path] : good) {
        SCOPED_TRACE(name);
        ULARGE_INTEGER caller{}, total{}, free{};
        ASSERT_TRUE(GetDiskFreeSpaceExA(path, &caller, &total, &free));
        EXPECT_GT(total.QuadPart, 0u);
        EXPECT_LE(free.QuadPart, total.QuadPart);
        EXPECT_LE(caller.QuadPart, free.QuadPart);
    }
    EXPECT_TRUE(GetDiskFreeSpaceExA(folder.c_str(), nullptr, nullptr, nullptr));

    ULARGE_INTEGER caller{};
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(GetDiskFreeSpaceExA(Win("missing").c_str(), &caller, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
