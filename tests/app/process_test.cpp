// The real executable, started as a user would start it (offscreen platform, no display).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "fixtures/sandbox.h"

namespace {

namespace fs = std::filesystem;

std::string BinFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

class ExecutableTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override { fs::create_directories(sandbox_.Path("work")); }

    void TearDown() override {
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    pid_t Start(const std::string& program) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            unsetenv("LD_LIBRARY_PATH");
            if (chdir(sandbox_.Path("work").c_str()) != 0)
                _exit(126);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        started_.push_back(pid);
        return pid;
    }

    // The exit status when the process ends within `ms`, else -1 (still running).
    int EndsWithin(pid_t pid, int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                started_.erase(std::find(started_.begin(), started_.end(), pid));
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    // True once some process holds the single-instance lock of the sandbox.
    bool InstanceLockHeld(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            for (const auto& entry : fs::directory_iterator(sandbox_.runtime())) {
                const int fd = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0)
                    continue;
                const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
                close(fd);
                if (held)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Every log file in the sandbox with its size.
    std::map<std::string, uintmax_t> Logs() const {
        std::map<std::string, uintmax_t> logs;
        for (const auto& entry : fs::recursive_directory_iterator(sandbox_.root())) {
            if (entry.path().filename() == "Download.log")
                logs[entry.path().string()] = entry.file_size();
        }
        return logs;
    }

    const std::string exe_ = BinFolder() + "/ZELVDownloader";
    std::vector<pid_t> started_;
};

TEST_F(ExecutableTest, ASecondStartEndsAtOnceAndAfterAKilledFirstANewStartRuns) {
    const pid_t first = Start(exe_);
    ASSERT_TRUE(InstanceLockHeld(15000)) << "the first copy never took its single-instance lock";
    ASSERT_EQ(-1, EndsWithin(first, 300)) << "the first copy runs its dialog";

    const auto logsBefore = Logs();
    const pid_t second = Start(exe_);
    const int status = EndsWithin(second, 10000);
    ASSERT_NE(-1, status) << "the second copy must end at once";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(logsBefore, Logs()) << "the second copy writes no log";
    EXPECT_EQ(-1, EndsWithin(first, 200)) << "the first copy is not disturbed";

    kill(first, SIGKILL);
    EXPECT_NE(-1, EndsWithin(first, 5000));
    const pid_t third = Start(exe_);
    EXPECT_TRUE(InstanceLockHeld(15000));
    EXPECT_EQ(-1, EndsWithin(third, 1000)) << "after the first was killed a new start runs";
}

TEST_F(ExecutableTest, AStartWithoutTheResourceLibraryEndsAtOnce) {
    const std::string lonely = sandbox_.Path("work/ZELVDownloader");
    fs::copy_file(exe_, lonely);
    fs::permissions(lonely, fs::perms::owner_all);
    const int status = EndsWithin(Start(lonely), 10000);
    ASSERT_NE(-1, status) << "without its resource library the program shows nothing and ends";
    EXPECT_TRUE(WIFEXITED(status));
}

// A resource library cut short or a named pipe of its name ends the start as a missing library
// does: at once, without a crash.
TEST_F(ExecutableTest, AStartWithADamagedResourceLibraryEndsAtOnce) {
    const std::string whole = fixtures::Sandbox::ReadFile(BinFolder() + "/ZELVDlderRes.dll");
    const struct {
        const char* what;
        size_t cut;  // 0: a named pipe
    } cases[] = {{"cut at 1 000 bytes", 1000},
                 {"cut at 20 000 bytes", 20000},
                 {"cut at 45 000 bytes", 45000},
                 {"a named pipe", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = sandbox_.Path(std::string("start-") + std::to_string(c.cut));
        fs::create_directories(folder);
        fs::copy_file(exe_, folder + "/ZELVDownloader");
        fs::permissions(folder + "/ZELVDownloader", fs::perms::owner_all);
        const std::string library = folder + "/ZELVDlderRes.dll";
        if (c.cut == 0) {
            ASSERT_EQ(mkfifo(library.c_str(), 0600), 0);
        } else {
            sandbox_.WriteFile(library, whole.substr(0, c.cut));
        }
        const int status = EndsWithin(Start(folder + "/ZELVDownloader"), 10000);
        ASSERT_NE(-1, status) << "the start must end at once";
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    }
}

}  // namespace
