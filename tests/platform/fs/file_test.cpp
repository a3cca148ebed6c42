#include "platform/fs/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "support/sandbox.h"

namespace {

using fixtures::Sandbox;

enum class Kind { kFile, kStdio };
const Kind kKinds[] = {Kind::kFile, Kind::kStdio};

std::unique_ptr<CFile> Make(Kind kind) {
    if (kind == Kind::kStdio)
        return std::make_unique<CStdioFile>();
    return std::make_unique<CFile>();
}

const char* NameOf(Kind kind) {
    return kind == Kind::kStdio ? "CStdioFile" : "CFile";
}

// The CFileException that `body` throws, or null when it throws none.
std::unique_ptr<CFileException> Thrown(const std::function<void()>& body) {
    try {
        body();
    } catch (CFileException* error) {
        return std::unique_ptr<CFileException>(error);
    }
    return nullptr;
}

// A Windows-form path of exactly `length` characters under the sandbox, its folders made, so
// that only its length can make an open of it fail.
std::string PathOfLength(const Sandbox& box, size_t length) {
    std::string folder = box.root();
    while (length - folder.size() - 1 > 200) {
        folder += "/" + std::string(100, 'd');
        mkdir(folder.c_str(), 0700);
    }
    return Sandbox::Win(folder + "/" + std::string(length - folder.size() - 1, 'f'));
}

// Waits up to ten seconds for one byte on `fd`; 0 when none came.
char ReadByte(int fd) {
    pollfd wanted{fd, POLLIN, 0};
    char byte = 0;
    if (poll(&wanted, 1, 10000) == 1 && read(fd, &byte, 1) == 1)
        return byte;
    return 0;
}

class FileTest : public fixtures::SandboxTest {
  protected:
    std::string Native(const char* name) const { return sandbox_.Path(name); }
    std::string Win(const char* name) const { return Sandbox::Win(Native(name)); }
};

struct OpenFailure {
    const char* name;
    // Prepares the sandbox and returns the Windows-form path to open; may keep a file open.
    std::string (*prepare)(const Sandbox& box, std::unique_ptr<CFile>& holder);
    UINT flags;
    int cause;
    LONG osError;
};

std::string WithContent(const Sandbox& box, const char* name, mode_t mode) {
    box.WriteFile(box.Path(name), "keep");
    chmod(box.Path(name).c_str(), mode);
    return Sandbox::Win(box.Path(name));
}

const OpenFailure kOpenFailures[] = {
    {"missing file", [](const Sandbox& box, auto&) { return Sandbox::Win(box.Path("none")); },
     CFile::modeRead, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
    {"missing file for writing",
     [](const Sandbox& box, auto&) { return Sandbox::Win(box.Path("none")); }, CFile::modeReadWrite,
     CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
    {"missing parent", [](const Sandbox& box, auto&) { return Sandbox::Win(box.Path("no/f")); },
     CFile::modeRead, CFileException::badPath, ERROR_PATH_NOT_FOUND},
    {"missing parent on create",
     [](const Sandbox& box, auto&) { return Sandbox::Win(box.Path("no/f")); },
     CFile::modeCreate | CFile::modeReadWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
    {"parent is a file",
     [](const Sandbox& box, auto&) { return WithContent(box, "plain", 0644) + "\\f"; },
     CFile::modeCreate | CFile::modeReadWrite, CFileException::badPath, ERROR_PATH_NOT_FOUND},
    {"empty name", [](const Sandbox&, auto&) { return std::string(); }, CFile::modeRead,
     CFileException::badPath, ERROR_PATH_NOT_FOUND},
    {"read-only file read-write",
     [](const Sandbox& box, auto&) { return WithContent(box, "ro", 0444); }, CFile::modeReadWrite,
     CFileException::accessDenied, ERROR_ACCESS_DENIED},
    {"read-only file write-only",
     [](const Sandbox& box, auto&) { return WithContent(box, "ro", 0444); }, CFile::modeWrite,
     CFileException::accessDenied, ERROR_ACCESS_DENIED},
    {"read-only file truncated",
     [](const Sandbox& box, auto&) { return WithContent(box, "ro", 0555); },
     CFile::modeCreate | CFile::modeRead, CFileException::accessDenied, ERROR_ACCESS_DENIED},
    {"folder", [](const Sandbox& box, auto&) { return Sandbox::Win(box.temp()); }, CFile::modeRead,
     CFileException::accessDenied, ERROR_ACCESS_DENIED},
    {"folder read-write", [](const Sandbox& box, auto&) { return Sandbox::Win(box.temp()); },
     CFile::modeCreate | CFile::modeReadWrite, CFileException::accessDenied, ERROR_ACCESS_DENIED},
    {"held by another open",
     [](const Sandbox& box, std::unique_ptr<CFile>& holder) {
         const std::string path = WithContent(box, "held", 0644);
         holder = std::make_unique<CFile>();
         EXPECT_TRUE(holder->Open(path.c_str(), CFile::modeRead));
         return path;
     },
     CFile::modeRead, CFileException::sharingViolation, ERROR_SHARING_VIOLATION},
    {"held by another open, truncating",
     [](const Sandbox& box, std::unique_ptr<CFile>& holder) {
         const std::string path = WithContent(box, "held", 0644);
         holder = std::make_unique<CStdioFile>();
         EXPECT_TRUE(holder->Open(path.c_str(), CFile::modeReadWrite));
         return path;
     },
     CFile::modeCreate | CFile::modeReadWrite, CFileException::sharingViolation,
     ERROR_SHARING_VIOLATION},
    {"path of 260 characters", [](const Sandbox& box, auto&) { return PathOfLength(box, 260); },
     CFile::modeCreate | CFile::modeReadWrite, CFileException::badPath, -1},
};

TEST_F(FileTest, OpenFailuresReportCauseOsErrorAndNameAndChangeNothing) {
    for (const Kind kind : kKinds) {
        for (const OpenFailure& c : kOpenFailures) {
            SCOPED_TRACE(std::string(NameOf(kind)) + ": " + c.name);
            std::unique_ptr<CFile> holder;
            const std::string path = c.prepare(sandbox_, holder);
            const std::string native = platform::ToNativePath(path.c_str());
            const bool existed = Sandbox::Exists(native);
            const std::string before = Sandbox::ReadFile(native);

            auto file = Make(kind);
            CFileException error;
            EXPECT_FALSE(file->Open(path.c_str(), c.flags, &error));
            EXPECT_FALSE(file->IsOpen());
            EXPECT_EQ(error.m_cause, c.cause);
            EXPECT_EQ(error.m_lOsError, c.osError);
            EXPECT_STREQ(error.m_strFileName, path.c_str());
            EXPECT_EQ(Sandbox::Exists(native), existed);
            EXPECT_EQ(Sandbox::ReadFile(native), before);
        }
    }
}

// Opens `path` on a thread of its own, so that an open that waits (a named pipe without its
// other end) fails the test instead of stopping it: after ten seconds the pipe is opened here
// too, which lets the open go on.
bool OpenWithoutWaiting(CFile& file, const std::string& path, UINT flags, CFileException* error,
                        const std::string& pipe) {
    std::atomic<bool> done{false};
    bool opened = false;
    std::thread opener([&] {
        opened = file.Open(path.c_str(), flags, error);
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int release = -1;
    if (!done) {
        ADD_FAILURE() << "the open waited for the other end of a pipe";
        release = open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    opener.join();
    if (release >= 0)
        close(release);
    return opened;
}

// Only regular files open, and no link is followed in a folder that another user (65534) can
// change: one planted there would name a file of this user's, here "victim".
TEST_F(FileTest, OnlyRegularFilesOpenAndNoLinkIsFollowedWhereOthersWrite) {
    const uid_t other = 65534;
    sandbox_.WriteFile(Native("victim"), "precious");
    ASSERT_EQ(mkfifo(Native("pipe").c_str(), 0600), 0);
    for (const auto& [folder, mode, owner] :
         {std::tuple{"shared", 01777, uid_t{0}}, std::tuple{"group", 0770, geteuid()},
          std::tuple{"theirs", 0755, other}}) {
        ASSERT_EQ(mkdir(Native(folder).c_str(), 0700), 0);
        ASSERT_EQ(chown(Native(folder).c_str(), owner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(chmod(Native(folder).c_str(), static_cast<mode_t>(mode)), 0);
        for (const auto& [name, target] :
             {std::pair{"/log", "victim"}, std::pair{"/dir", "mine"}}) {
            const std::string link = Native(folder) + name;
            ASSERT_EQ(symlink(Native(target).c_str(), link.c_str()), 0);
            ASSERT_EQ(lchown(link.c_str(), other, static_cast<gid_t>(-1)), 0);
        }
    }
    ASSERT_EQ(mkdir(Native("mine").c_str(), 0700), 0);
    sandbox_.WriteFile(Native("mine/f"), "mine too");

    const UINT kTruncating = CFile::modeCreate | CFile::modeReadWrite;
    const UINT kAppending = CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite;
    const struct {
        const char* name;
        std::string path;
        UINT flags;
        int cause;
    } cases[] = {
        {"pipe read", Win("pipe"), CFile::modeRead, CFileException::accessDenied},
        {"pipe written", Win("pipe"), CFile::modeWrite, CFileException::accessDenied},
        {"pipe created", Win("pipe"), kAppending, CFileException::accessDenied},
        {"device", "\\dev\\null", CFile::modeReadWrite, CFileException::accessDenied},
        {"device created", "\\dev\\zero", kTruncating, CFileException::accessDenied},
        {"link in a shared folder", Win("shared/log"), kTruncating, CFileException::accessDenied},
        {"link in a shared folder, read", Win("shared/log"), CFile::modeRead,
         CFileException::accessDenied},
        {"link in a group's folder", Win("group/log"), kAppending, CFileException::accessDenied},
        {"link in another user's folder", Win("theirs/log"), kTruncating,
         CFileException::accessDenied},
        {"folder link in a shared folder", Win("shared/dir/f"), kTruncating,
         CFileException::badPath},
        {"folder link in another user's folder", Win("theirs/dir/new"), kTruncating,
         CFileException::badPath},
    };
    for (const Kind kind : kKinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(NameOf(kind)) + ": " + c.name);
            auto file = Make(kind);
            CFileException error;
            EXPECT_FALSE(OpenWithoutWaiting(*file, c.path, c.flags, &error, Native("pipe")));
            EXPECT_FALSE(file->IsOpen());
            EXPECT_EQ(error.m_cause, c.cause);
        }
    }
    EXPECT_EQ(Sandbox::ReadFile(Native("victim")), "precious");
    EXPECT_EQ(Sandbox::ReadFile(Native("mine/f")), "mine too");
    EXPECT_FALSE(Sandbox::Exists(Native("mine/new")));

    // Links in this user's own folders are followed as before.
    ASSERT_EQ(symlink(Native("victim").c_str(), Native("own-link").c_str()), 0);
    ASSERT_EQ(symlink(Native("mine").c_str(), Native("own-dir").c_str()), 0);
    for (const char* name : {"own-link", "own-dir/f"}) {
        CFile file;
        EXPECT_TRUE(file.Open(Win(name).c_str(), CFile::modeRead)) << name;
    }
}

TEST_F(FileTest, PathOf259CharactersOpens) {
    const std::string path = PathOfLength(sandbox_, 259);
    ASSERT_EQ(path.size(), 259u);
    CFile file;
    CFileException error;
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite, &error))
        << error.m_cause << "/" << error.m_lOsError;
    EXPECT_TRUE(Sandbox::Exists(platform::ToNativePath(path.c_str())));
}

// Drops to an unprivileged user when running as root, so the system itself refuses.
TEST_F(FileTest, FolderWithoutPermissionIsAccessDenied) {
    const std::string folder = Native("closed");
    mkdir(folder.c_str(), 0700);
    sandbox_.WriteFile(folder + "/f", "x");
    chmod(folder.c_str(), 0);
    chmod(sandbox_.root().c_str(), 0755);
    const std::string path = Sandbox::Win(folder + "/f");
    auto tryOpen = [&path]() {
        CFile file;
        CFileException error;
        const BOOL opened = file.Open(path.c_str(), CFile::modeRead, &error);
        return std::make_pair(opened, std::make_pair(error.m_cause, error.m_lOsError));
    };
    if (geteuid() != 0) {
        const auto result = tryOpen();
        EXPECT_FALSE(result.first);
        EXPECT_EQ(result.second, std::make_pair(int{CFileException::accessDenied}, LONG{5}));
        return;
    }
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        int out[3] = {-1, 0, 0};
        if (setgid(65534) == 0 && setuid(65534) == 0) {
            const auto result = tryOpen();
            out[0] = result.first;
            out[1] = result.second.first;
            out[2] = static_cast<int>(result.second.second);
        }
        const ssize_t ignored = write(report[1], out, sizeof out);
        (void)ignored;
        _exit(0);
    }
    close(report[1]);
    int got[3] = {-2, 0, 0};
    pollfd wanted{report[0], POLLIN, 0};
    ASSERT_EQ(poll(&wanted, 1, 10000), 1);
    ASSERT_EQ(read(report[0], got, sizeof got), static_cast<ssize_t>(sizeof got));
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got[0] == -1)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(got[0], FALSE);
    EXPECT_EQ(got[1], CFileException::accessDenied);
    EXPECT_EQ(got[2], ERROR_ACCESS_DENIED);
}

TEST_F(FileTest, AnotherProcessHoldsTheFileUntilItEnds) {
    sandbox_.WriteFile(Native("held"), "data");
    const std::string path = Win("held");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        CFile file;
        const char opened = file.Open(path.c_str(), CFile::modeRead) ? '1' : '0';
        const ssize_t ignored = write(ready[1], &opened, 1);
        (void)ignored;
        ReadByte(release[0]);  // the parent's word, its end, or ten seconds
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    ASSERT_EQ(ReadByte(ready[0]), '1');

    for (const Kind kind : kKinds) {
        SCOPED_TRACE(NameOf(kind));
        auto file = Make(kind);
        CFileException error;
        EXPECT_FALSE(file->Open(path.c_str(), CFile::modeReadWrite, &error));
        EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
        EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(write(release[1], "x", 1), 1);
    close(release[1]);
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    CFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeReadWrite));
}

struct CreateCase {
    const char* name;
    bool exists;
    UINT flags;
    bool opens;
    const char* after;  // the content afterwards; null when there is no file
};

const CreateCase kCreateCases[] = {
    {"create empties", true, CFile::modeCreate | CFile::modeReadWrite, true, ""},
    {"create read-only empties", true, CFile::modeCreate | CFile::modeRead, true, ""},
    {"no-truncate keeps", true, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite,
     true, "hello"},
    {"no-truncate makes", false, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, true,
     ""},
    {"create makes", false, CFile::modeCreate | CFile::modeWrite, true, ""},
    {"plain open keeps", true, CFile::modeReadWrite, true, "hello"},
    {"plain open needs the file", false, CFile::modeReadWrite, false, nullptr},
};

TEST_F(FileTest, CreateTruncateAndNoTruncate) {
    for (const Kind kind : kKinds) {
        for (const CreateCase& c : kCreateCases) {
            SCOPED_TRACE(std::string(NameOf(kind)) + ": " + c.name);
            const std::string native = Native("f");
            unlink(native.c_str());
            if (c.exists)
                sandbox_.WriteFile(native, "hello");
            auto file = Make(kind);
            ASSERT_EQ(file->Open(Win("f").c_str(), c.flags | CFile::typeBinary), c.opens);
            if (c.opens) {
                EXPECT_EQ(file->GetPosition(), 0u);
                EXPECT_EQ(file->GetLength(), std::string(c.after).size());
                file->Close();
            }
            ASSERT_EQ(Sandbox::Exists(native), c.after != nullptr);
            if (c.after) {
                EXPECT_EQ(Sandbox::ReadFile(native), c.after);
            }
        }
    }
}

// A peek at the descriptor, for what only the system can tell.
class PeekFile : public CFile {
  public:
    int fd() const { return m_fd; }
};

// As a new file on Windows inherits its folder's access list: others read it where they may
// read the folder, only its owner writes it, whatever the umask; it stays writable through the
// open that made it.
TEST_F(FileTest, ANewFileTakesItsFoldersReadAccessAndItsOwnersWriteAccessAlone) {
    const struct {
        mode_t folder;
        mode_t file;
    } cases[] = {{0700, 0600}, {0755, 0644}, {0750, 0640},
                 {0705, 0604}, {0777, 0644}, {01777, 0644}};
    const mode_t saved = umask(0);
    for (const auto& c : cases) {
        for (const mode_t mask : {mode_t{0277}, mode_t{022}, mode_t{0}}) {
            SCOPED_TRACE(std::to_string(c.folder) + " umask " + std::to_string(mask));
            const std::string folder = Native("folder");
            ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
            ASSERT_EQ(chmod(folder.c_str(), c.folder), 0);
            umask(mask);
            PeekFile file;
            const bool opened = file.Open(Sandbox::Win(folder + "/new").c_str(),
                                          CFile::modeCreate | CFile::modeReadWrite);
            umask(0);
            ASSERT_TRUE(opened);
            struct stat st {};
            ASSERT_EQ(stat((folder + "/new").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, c.file);
            EXPECT_NE(fcntl(file.fd(), F_GETFD) & FD_CLOEXEC, 0);
            file.Write("ok", 2);
            file.Close();
            EXPECT_EQ(Sandbox::ReadFile(folder + "/new"), "ok");
            std::filesystem::remove_all(folder);
        }
    }
    umask(saved);

    // A file that was there keeps its own mode.
    sandbox_.WriteFile(Native("old"), "old");
    ASSERT_EQ(chmod(Native("old").c_str(), 0664), 0);
    CFile old;
    ASSERT_TRUE(old.Open(Win("old").c_str(), CFile::modeCreate | CFile::modeWrite));
    old.Close();
    struct stat st {};
    ASSERT_EQ(stat(Native("old").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

// A regular file of this user that no one else may write passes; one of another user (65534),
// one its group or others may write, a folder, a pipe and a missing file do not. The open
// file is judged by itself, the path by the file its links lead to.
TEST_F(FileTest, OnlyARegularFileOfThisUserThatNoOneElseMayWriteIsOwnedByTheUserAlone) {
    const uid_t other = 65534;
    const struct {
        const char* name;
        mode_t mode;
        uid_t owner;
        bool alone;
    } cases[] = {
        {"mine", 0644, geteuid(), true},
        {"mine, private", 0600, geteuid(), true},
        {"mine, read-only", 0444, geteuid(), true},
        {"group writes", 0664, geteuid(), false},
        {"others write", 0646, geteuid(), false},
        {"anyone writes", 0777, geteuid(), false},
        {"another user's", 0644, other, false},
        {"another user's, open", 0777, other, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string native = Native(c.name);
        sandbox_.WriteFile(native, "x");
        ASSERT_EQ(chown(native.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(chmod(native.c_str(), c.mode), 0);
        SetLastError(0);
        EXPECT_EQ(c.alone, IsFileOwnedByUserAlone(Sandbox::Win(native).c_str()) != FALSE);
        EXPECT_EQ(c.alone ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        CFile file;
        ASSERT_TRUE(file.Open(Sandbox::Win(native).c_str(), CFile::modeRead));
        EXPECT_EQ(c.alone, file.IsOwnedByUserAlone() != FALSE);
    }
    ASSERT_EQ(symlink(Native("mine").c_str(), Native("link").c_str()), 0);
    ASSERT_EQ(lchown(Native("link").c_str(), other, static_cast<gid_t>(-1)), 0);
    EXPECT_TRUE(IsFileOwnedByUserAlone(Win("link").c_str())) << "the file the link leads to";
    ASSERT_EQ(mkdir(Native("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(Native("pipe").c_str(), 0600), 0);
    for (const char* name : {"folder", "pipe"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsFileOwnedByUserAlone(Win(name).c_str()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    }
    EXPECT_FALSE(IsFileOwnedByUserAlone(Win("none").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(CFile().IsOwnedByUserAlone()) << "a closed file";
}

TEST_F(FileTest, ReopeningAnObjectReleasesItsFirstFile) {
    sandbox_.WriteFile(Native("a"), "a");
    sandbox_.WriteFile(Native("b"), "b");
    for (const Kind kind : kKinds) {
        SCOPED_TRACE(NameOf(kind));
        auto file = Make(kind);
        ASSERT_TRUE(file->Open(Win("a").c_str(), CFile::modeRead));
        ASSERT_TRUE(file->Open(Win("b").c_str(), CFile::modeRead));
        CFile other;
        EXPECT_TRUE(other.Open(Win("a").c_str(), CFile::modeRead));
        EXPECT_FALSE(CFile().Open(Win("b").c_str(), CFile::modeRead));
    }
}

TEST_F(FileTest, ReadWriteAndShortReadAtTheEnd) {
    for (const Kind kind : kKinds) {
        SCOPED_TRACE(NameOf(kind));
        auto file = Make(kind);
        ASSERT_TRUE(file->Open(Win("rw").c_str(),
                               CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary));
        file->Write("hello world", 11);
        EXPECT_EQ(file->GetLength(), 11u);
        file->SeekToBegin();
        char buffer[32] = {};
        EXPECT_EQ(file->Read(buffer, 5), 5u);
        EXPECT_EQ(std::string(buffer, 5), "hello");
        EXPECT_EQ(file->Read(buffer, sizeof buffer), 6u);
        EXPECT_EQ(std::string(buffer, 6), " world");
        EXPECT_EQ(file->Read(buffer, sizeof buffer), 0u);
        file->Close();
        EXPECT_EQ(Sandbox::ReadFile(Native("rw")), "hello world");
    }
}

struct SeekCase {
    UINT from;
    LONGLONG offset;
    ULONGLONG start;     // position before the seek
    ULONGLONG position;  // position after it
    int next;            // the byte read there, or -1 at the end
};

const SeekCase kSeekCases[] = {
    {CFile::begin, 3, 7, 3, '3'},   {CFile::current, 3, 2, 5, '5'}, {CFile::current, -2, 5, 3, '3'},
    {CFile::current, 0, 4, 4, '4'}, {CFile::end, -1, 0, 9, '9'},    {CFile::end, 0, 0, 10, -1},
    {CFile::begin, 20, 0, 20, -1},
};

TEST_F(FileTest, SeekFromBeginCurrentAndEnd) {
    sandbox_.WriteFile(Native("digits"), "0123456789");
    for (const Kind kind : kKinds) {
        auto file = Make(kind);
        ASSERT_TRUE(file->Open(Win("digits").c_str(), CFile::modeRead | CFile::typeBinary));
        for (const SeekCase& c : kSeekCases) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " from " + std::to_string(c.from) + " by " +
                         std::to_string(c.offset));
            file->Seek(static_cast<LONGLONG>(c.start), CFile::begin);
            EXPECT_EQ(file->Seek(c.offset, c.from), c.position);
            EXPECT_EQ(file->GetPosition(), c.position);
            char byte = 0;
            const UINT got = file->Read(&byte, 1);
            EXPECT_EQ(got == 1 ? byte : -1, c.next);
        }
    }
}

TEST_F(FileTest, BadSeekThrowsAndKeepsThePosition) {
    sandbox_.WriteFile(Native("digits"), "0123456789");
    const std::pair<UINT, LONGLONG> bad[] = {
        {CFile::begin, -1}, {CFile::current, -100}, {CFile::end, -11}, {7, 0}};
    for (const Kind kind : kKinds) {
        auto file = Make(kind);
        ASSERT_TRUE(file->Open(Win("digits").c_str(), CFile::modeRead | CFile::typeBinary));
        for (const auto& [from, offset] : bad) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " from " + std::to_string(from));
            file->Seek(4, CFile::begin);
            auto error = Thrown([&] { file->Seek(offset, from); });
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->m_cause, CFileException::badSeek);
            EXPECT_STREQ(error->m_strFileName, Win("digits").c_str());
            EXPECT_EQ(file->GetPosition(), 4u);
        }
    }
}

TEST_F(FileTest, SetLengthGrowsWithZerosAndCuts) {
    const std::pair<ULONGLONG, std::string> cases[] = {
        {6, std::string("abc\0\0\0", 6)}, {2, "ab"}, {0, ""}, {3, "abc"}};
    for (const Kind kind : kKinds) {
        for (const auto& [length, expected] : cases) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " to " + std::to_string(length));
            sandbox_.WriteFile(Native("len"), "abc");
            auto file = Make(kind);
            ASSERT_TRUE(file->Open(Win("len").c_str(), CFile::modeReadWrite | CFile::typeBinary));
            file->Seek(1, CFile::begin);
            file->SetLength(length);
            EXPECT_EQ(file->GetLength(), length);
            EXPECT_EQ(file->GetPosition(), 1u);
            file->Close();
            EXPECT_EQ(Sandbox::ReadFile(Native("len")), expected);
        }
    }
}

TEST_F(FileTest, StdioSetLengthCountsBufferedBytes) {
    sandbox_.WriteFile(Native("len"), "abcdef");
    CStdioFile file;
    ASSERT_TRUE(file.Open(Win("len").c_str(), CFile::modeReadWrite | CFile::typeBinary));
    file.WriteString("123456789");
    file.SetLength(4);
    EXPECT_EQ(file.GetLength(), 4u);
    file.Close();
    EXPECT_EQ(Sandbox::ReadFile(Native("len")), "1234");
}

struct OperationFailure {
    const char* name;
    Kind kind;
    const char* path;  // Windows form; null for the sandbox file "f"
    UINT flags;        // ~0u: the object is never opened
    std::function<void(CFile&)> operation;
    int cause;
    LONG osError;
    bool noRoom;  // the operation runs where no byte more fits into a file
};

// While it lives, no byte fits into any file of the process (the file size limit is 0).
class NoRoomForBytes {
  public:
    NoRoomForBytes() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_IGN);
        rlimit none = saved_;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoRoomForBytes() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, SIG_DFL);
    }

  private:
    rlimit saved_{};
};

TEST_F(FileTest, OperationFailuresThrowCauseAndOsError) {
    const UINT kClosed = ~0u;
    const OperationFailure cases[] = {
        {"write on a read-only open", Kind::kFile, nullptr, CFile::modeRead,
         [](CFile& f) { f.Write("x", 1); }, CFileException::accessDenied, ERROR_ACCESS_DENIED,
         false},
        {"read on a write-only open", Kind::kFile, nullptr, CFile::modeWrite,
         [](CFile& f) {
             char b;
             f.Read(&b, 1);
         },
         CFileException::accessDenied, ERROR_ACCESS_DENIED, false},
        {"set length on a read-only open", Kind::kFile, nullptr, CFile::modeRead,
         [](CFile& f) { f.SetLength(1); }, CFileException::accessDenied, ERROR_ACCESS_DENIED,
         false},
        {"stdio write on a read-only open", Kind::kStdio, nullptr, CFile::modeRead,
         [](CFile& f) {
             static_cast<CStdioFile&>(f).WriteString("x\n");
             f.Flush();
         },
         CFileException::accessDenied, ERROR_ACCESS_DENIED, false},
        {"read when closed", Kind::kFile, nullptr, kClosed,
         [](CFile& f) {
             char b;
             f.Read(&b, 1);
         },
         CFileException::invalidFile, ERROR_INVALID_HANDLE, false},
        {"write when closed", Kind::kStdio, nullptr, kClosed,
         [](CFile& f) { static_cast<CStdioFile&>(f).WriteString("x"); },
         CFileException::invalidFile, ERROR_INVALID_HANDLE, false},
        {"length when closed", Kind::kFile, nullptr, kClosed, [](CFile& f) { f.GetLength(); },
         CFileException::invalidFile, ERROR_INVALID_HANDLE, false},
        {"seek when closed", Kind::kStdio, nullptr, kClosed, [](CFile& f) { f.SeekToEnd(); },
         CFileException::invalidFile, ERROR_INVALID_HANDLE, false},
        {"write to a full disk", Kind::kFile, nullptr, CFile::modeWrite,
         [](CFile& f) { f.Write("x", 1); }, CFileException::diskFull, ERROR_DISK_FULL, true},
        {"stdio flush to a full disk", Kind::kStdio, nullptr, CFile::modeWrite,
         [](CFile& f) {
             static_cast<CStdioFile&>(f).WriteString("line\n");
             f.Flush();
         },
         CFileException::diskFull, ERROR_DISK_FULL, true},
        {"stdio close with bytes for a full disk", Kind::kStdio, nullptr, CFile::modeWrite,
         [](CFile& f) {
             static_cast<CStdioFile&>(f).WriteString("line\n");
             f.Close();
         },
         CFileException::diskFull, ERROR_DISK_FULL, true},
    };
    sandbox_.WriteFile(Native("f"), "data");
    for (const OperationFailure& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.path ? std::string(c.path) : Win("f");
        auto file = Make(c.kind);
        if (c.flags != kClosed) {
            ASSERT_TRUE(file->Open(path.c_str(), c.flags));
        }
        auto error = Thrown([&] {
            std::unique_ptr<NoRoomForBytes> noRoom;
            if (c.noRoom)
                noRoom = std::make_unique<NoRoomForBytes>();
            c.operation(*file);
        });
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->m_cause, c.cause);
        EXPECT_EQ(error->m_lOsError, c.osError);
        if (c.flags != kClosed) {
            EXPECT_STREQ(error->m_strFileName, path.c_str());
        }
        // Clean-up after a failure never throws, and a failed close leaves the file closed.
        file->Abort();
        EXPECT_FALSE(file->IsOpen());
    }
    EXPECT_EQ(Sandbox::ReadFile(Native("f")), "data");
}

struct WriteModeCase {
    UINT typeFlag;
    const char* expected;
};

TEST_F(FileTest, TextModeWritesCrLfAndBinaryModeDoesNot) {
    const WriteModeCase cases[] = {
        {0, "a\r\nb\r\n\r\nc"},
        {CFile::typeText, "a\r\nb\r\n\r\nc"},
        {CFile::typeBinary, "a\nb\n\nc"},
    };
    for (const WriteModeCase& c : cases) {
        SCOPED_TRACE(c.typeFlag);
        {
            CStdioFile file;
            ASSERT_TRUE(
                file.Open(Win("t").c_str(), CFile::modeCreate | CFile::modeWrite | c.typeFlag));
            file.WriteString("a\nb\n");
            file.Write("\nc", 2);
            EXPECT_EQ(file.GetLength(), std::string(c.expected).size());
        }
        EXPECT_EQ(Sandbox::ReadFile(Native("t")), c.expected);
    }
}

struct ReadLinesCase {
    const char* content;
    UINT typeFlag;
    std::vector<std::string> lines;
};

TEST_F(FileTest, ReadStringReturnsLinesWithoutTheirEnds) {
    const std::string longLine(10000, 'x');
    const ReadLinesCase cases[] = {
        {"one\r\ntwo\nthree", 0, {"one", "two", "three"}},
        {"", 0, {}},
        {"\r\n\r\n", 0, {"", ""}},
        {"a\rb\r\n", 0, {"a\rb"}},
        {"end\r", 0, {"end\r"}},
        {"one\r\ntwo\n", CFile::typeBinary, {"one\r", "two"}},
    };
    for (const ReadLinesCase& c : cases) {
        SCOPED_TRACE(c.content);
        sandbox_.WriteFile(Native("lines"), c.content);
        CStdioFile file;
        ASSERT_TRUE(file.Open(Win("lines").c_str(), CFile::modeRead | c.typeFlag));
        std::vector<std::string> lines;
        CString line("stale");
        while (file.ReadString(line))
            lines.emplace_back(line.GetString(), line.GetLength());
        EXPECT_EQ(lines, c.lines);
        EXPECT_FALSE(file.ReadString(line));
    }
    sandbox_.WriteFile(Native("lines"), longLine + "\r\nafter\r\n");
    CStdioFile file;
    ASSERT_TRUE(file.Open(Win("lines").c_str(), CFile::modeRead));
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line.str(), longLine);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line.str(), "after");
}

TEST_F(FileTest, TextModeReadTurnsCrLfIntoLf) {
    sandbox_.WriteFile(Native("t"), "a\r\nb\rc\r\n");
    CStdioFile text;
    ASSERT_TRUE(text.Open(Win("t").c_str(), CFile::modeRead));
    char buffer[32] = {};
    EXPECT_EQ(std::string(buffer, text.Read(buffer, sizeof buffer)), "a\nb\rc\n");
    text.Close();
    CStdioFile binary;
    ASSERT_TRUE(binary.Open(Win("t").c_str(), CFile::modeRead | CFile::typeBinary));
    EXPECT_EQ(std::string(buffer, binary.Read(buffer, sizeof buffer)), "a\r\nb\rc\r\n");
}

TEST_F(FileTest, StdioSwitchesBetweenReadingAndWriting) {
    sandbox_.WriteFile(Native("rw"), "line1\r\nline2\r\n");
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(Win("rw").c_str(), CFile::modeReadWrite));
        CString line;
        ASSERT_TRUE(file.ReadString(line));
        file.WriteString("XY");
    }
    EXPECT_EQ(Sandbox::ReadFile(Native("rw")), "line1\r\nXYne2\r\n");
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(Win("rw").c_str(), CFile::modeReadWrite));
        file.WriteString("AB");
        CString line;
        ASSERT_TRUE(file.ReadString(line));
        EXPECT_EQ(line.str(), "ne1");
    }
    EXPECT_EQ(Sandbox::ReadFile(Native("rw")), "ABne1\r\nXYne2\r\n");
}

TEST_F(FileTest, StdioFlushAndCloseReachTheDisk) {
    CStdioFile file;
    ASSERT_TRUE(file.Open(Win("log").c_str(), CFile::modeCreate | CFile::modeReadWrite));
    file.WriteString("first\n");
    file.Flush();
    EXPECT_EQ(Sandbox::ReadFile(Native("log")), "first\r\n");
    file.WriteString("second\n");
    file.Close();
    EXPECT_EQ(Sandbox::ReadFile(Native("log")), "first\r\nsecond\r\n");
    EXPECT_FALSE(file.IsOpen());
    file.Close();
    file.Flush();
    CFile again;
    EXPECT_TRUE(again.Open(Win("log").c_str(), CFile::modeReadWrite));
}

TEST_F(FileTest, DestructorsCloseAndKeepBufferedBytes) {
    for (const Kind kind : kKinds) {
        SCOPED_TRACE(NameOf(kind));
        {
            auto file = Make(kind);
            ASSERT_TRUE(file->Open(Win("d").c_str(),
                                   CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
            file->Write("kept", 4);
        }
        EXPECT_EQ(Sandbox::ReadFile(Native("d")), "kept");
        CFile again;
        EXPECT_TRUE(again.Open(Win("d").c_str(), CFile::modeReadWrite));
    }
}

TEST_F(FileTest, LinesFromTwoThreadsStayWhole) {
    constexpr int kLines = 2000;
    auto lineOf = [](int thread, int n) {
        return "thread " + std::to_string(thread) + " line " + std::to_string(n) + " " +
               std::string(static_cast<size_t>(n % 300), static_cast<char>('a' + thread)) + "\n";
    };
    CStdioFile file;
    ASSERT_TRUE(file.Open(Win("log").c_str(), CFile::modeCreate | CFile::modeReadWrite));
    auto writer = [&](int thread) {
        for (int n = 0; n < kLines; ++n) {
            file.WriteString(lineOf(thread, n).c_str());
            if (n % 50 == 0)
                file.Flush();
        }
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    file.Close();

    const std::string disk = Sandbox::ReadFile(Native("log"));
    int next[2] = {0, 0};
    size_t at = 0;
    while (at < disk.size()) {
        const size_t end = disk.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = disk.substr(at, end - at) + "\n";
        const int thread = line.compare(0, 9, "thread 1 ") == 0 ? 1 : 0;
        ASSERT_LT(next[thread], kLines);
        ASSERT_EQ(line, lineOf(thread, next[thread]));
        ++next[thread];
        at = end + 2;
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST_F(FileTest, ErrorMessageNamesTheFile) {
    CFile file;
    CFileException error;
    ASSERT_FALSE(file.Open(Win("missing").c_str(), CFile::modeRead, &error));
    char text[1024];
    UINT help = 99;
    ASSERT_TRUE(error.GetErrorMessage(text, sizeof text, &help));
    EXPECT_NE(std::string(text).find(Win("missing")), std::string::npos);
    EXPECT_EQ(help, 0u);
    char small[8];
    ASSERT_TRUE(error.GetErrorMessage(small, sizeof small));
    EXPECT_EQ(std::string(small).size(), sizeof small - 1);
    EXPECT_FALSE(error.GetErrorMessage(nullptr, 10));
    EXPECT_FALSE(error.GetErrorMessage(text, 0));
}

}  // namespace
