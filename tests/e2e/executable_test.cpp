// The real executable, started as a user would start it (offscreen platform, no display).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "support/child_process.h"
#include "support/named_pipe.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

std::string BinFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}

// How a start differs from the plain one: variables set (an empty value unsets one), the file
// that takes its output, the largest file size the process may write.
struct Launch {
    std::map<std::string, std::string> env;
    std::string output;
    rlim_t fileSizeLimit = RLIM_INFINITY;
};

class ExecutableTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override { fs::create_directories(sandbox_.Path("work")); }

    // Starts `program` in the work folder, offscreen, without the test's library path.
    fixtures::ChildProcess& Start(const std::string& program, const Launch& launch = Launch()) {
        std::map<std::string, std::string> env = {{"QT_QPA_PLATFORM", "offscreen"},
                                                  {"LD_LIBRARY_PATH", ""}};
        for (const auto& [name, value] : launch.env)
            env[name] = value;
        fixtures::ChildOptions options;
        options.argv = {program};
        options.outputPath = launch.output;
        options.folder = sandbox_.Path("work");
        for (const auto& [name, value] : env) {
            if (value.empty()) {
                options.unsetEnvironment.push_back(name);
            } else {
                options.setEnvironment.push_back(name + "=" + value);
            }
        }
        options.fileSizeLimit = launch.fileSizeLimit;
        started_.push_back(std::make_unique<fixtures::ChildProcess>());
        std::string error;
        EXPECT_TRUE(started_.back()->Start(options, &error)) << error;
        return *started_.back();
    }

    // The exit status when the process ends within `ms`, else -1 (still running).
    static int EndsWithin(fixtures::ChildProcess& process, int ms) {
        return process.WaitForExit(std::chrono::milliseconds(ms)) ? process.status() : -1;
    }

    // The folder of the registry and of the single-instance lock.
    std::string StateFolder() const { return sandbox_.state() + "/ZELVDownloader"; }

    // True once some process holds the single-instance lock of the sandbox.
    bool InstanceLockHeld(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            std::error_code missing;
            for (const auto& entry : fs::directory_iterator(StateFolder(), missing)) {
                if (entry.path().extension() != ".lock")
                    continue;
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

    // The start banners in every log of the sandbox: one per run that opened a log (the banner
    // reaches the disk with the run's first log line).
    int LogStarts() const {
        int starts = 0;
        for (const auto& [path, size] : Logs()) {
            const std::string text = fixtures::Sandbox::ReadFile(path);
            for (size_t at = text.find("Downloader Log Start"); at != std::string::npos;
                 at = text.find("Downloader Log Start", at + 1)) {
                ++starts;
            }
        }
        return starts;
    }

    // Waits up to `ms` for a run to have started a log in the sandbox.
    bool LogAppears(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (LogStarts() == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return LogStarts() > 0;
    }

    const std::string exe_ = BinFolder() + "/ZELVDownloader";
    std::vector<std::unique_ptr<fixtures::ChildProcess>> started_;
};

TEST_F(ExecutableTest, ASecondStartEndsAtOnceAndAfterAKilledFirstANewStartRuns) {
    fixtures::ChildProcess& first = Start(exe_);
    ASSERT_TRUE(InstanceLockHeld(15000)) << "the first copy never took its single-instance lock";
    ASSERT_TRUE(LogAppears(15000)) << "the first copy never opened its log";
    ASSERT_EQ(-1, EndsWithin(first, 300)) << "the first copy runs its dialog";

    fixtures::ChildProcess& second = Start(exe_);
    const int status = EndsWithin(second, 10000);
    ASSERT_NE(-1, status) << "the second copy must end at once";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, LogStarts()) << "the second copy opens no log";
    EXPECT_EQ(-1, EndsWithin(first, 200)) << "the first copy is not disturbed";

    first.Kill();
    EXPECT_NE(-1, EndsWithin(first, 5000));
    fixtures::ChildProcess& third = Start(exe_);
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

// Copies of one user that share the state folder, and with it the saved download, never run
// together, whatever their runtime and temporary folders: a second start ends at once (a
// message box would hold it) and opens no log.
TEST_F(ExecutableTest, ASecondStartWithOtherRuntimeAndTemporaryFoldersEndsAtOnce) {
    fixtures::ChildProcess& first = Start(exe_);
    ASSERT_TRUE(LogAppears(15000)) << "the first copy never opened its log";
    const std::string otherRuntime =
        fixtures::Sandbox::Folder(sandbox_.Path("rt2"), 0700, geteuid());
    const std::string otherTemp = fixtures::Sandbox::Folder(sandbox_.Path("tmp2"), 0700, geteuid());
    const struct {
        const char* what;
        std::map<std::string, std::string> env;
    } cases[] = {
        {"another runtime folder", {{"XDG_RUNTIME_DIR", otherRuntime}}},
        {"no runtime folder, another temporary folder",
         {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", otherTemp}}},
        {"another runtime and another temporary folder",
         {{"XDG_RUNTIME_DIR", otherRuntime}, {"TMPDIR", otherTemp}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Launch launch;
        launch.env = c.env;
        const int status = EndsWithin(Start(exe_, launch), 10000);
        ASSERT_NE(-1, status) << "the second copy must end at once";
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(1, LogStarts()) << "the second copy opens no log";
    }
    EXPECT_EQ(-1, EndsWithin(first, 200)) << "the first copy is not disturbed";
}

// A start that finds no display says so in one line and ends with a failure status, instead of
// Qt's messages and an abort.
TEST_F(ExecutableTest, AStartWithoutAUsableDisplayEndsWithOneLine) {
    const std::string unused = ":64999";
    if (fixtures::Sandbox::Exists("/tmp/.X11-unix/X64999"))
        GTEST_SKIP() << "display " << unused << " exists here";
    const struct {
        const char* what;
        std::map<std::string, std::string> env;
        const char* said;
    } cases[] = {
        {"no display at all",
         {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
         "DISPLAY is not set"},
        {"a display that does not answer",
         {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", unused}, {"WAYLAND_DISPLAY", ""}},
         ":64999"},
        {"an unknown platform", {{"QT_QPA_PLATFORM", "nonesuch"}}, "nonesuch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Launch launch;
        launch.env = c.env;
        launch.output = sandbox_.Path("start-" + std::to_string(&c - cases) + ".out");
        const int status = EndsWithin(Start(exe_, launch), 20000);
        ASSERT_NE(-1, status) << "the start must end";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_NE(0, WEXITSTATUS(status));
        const std::string said = fixtures::Sandbox::ReadFile(launch.output);
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_EQ('\n', said.empty() ? 0 : said.back()) << said;
        EXPECT_NE(std::string::npos, said.find(c.said)) << said;
        EXPECT_NE(std::string::npos, said.find("xvfb-run -a")) << said;
    }
}

// A resource library that the library path leads to is checked as one beside the program is: a
// named pipe of its name ends the start at once instead of holding it, a sound one loads.
TEST_F(ExecutableTest, AResourceLibraryOnTheLibraryPathIsCheckedAndNeverWaitedOn) {
    const std::string lonely = sandbox_.Path("work/ZELVDownloader");
    fs::copy_file(exe_, lonely);
    fs::permissions(lonely, fs::perms::owner_all);
    const std::string libraries = sandbox_.Path("libraries");
    fs::create_directories(libraries);
    const std::string library = libraries + "/ZELVDlderRes.dll";
    Launch launch;
    launch.env["LD_LIBRARY_PATH"] = sandbox_.Path("none") + ":" + libraries;

    ASSERT_TRUE(fixtures::MakeNamedPipe(library));
    fixtures::ChildProcess& waiting = Start(lonely, launch);
    const int status = EndsWithin(waiting, 10000);
    EXPECT_NE(-1, status) << "the start waited for the other end of the pipe";
    EXPECT_TRUE(status == -1 || WIFEXITED(status));
    if (status == -1)
        waiting.Kill();

    fs::remove(library);
    fs::copy_file(BinFolder() + "/ZELVDlderRes.dll", library);
    fixtures::ChildProcess& sound = Start(lonely, launch);
    EXPECT_TRUE(InstanceLockHeld(15000));
    EXPECT_EQ(-1, EndsWithin(sound, 1000)) << "the library found on the path runs the dialog";
}

// A log whose writes fail (a full disk: here the file size limit, which fails a write as a full
// disk does) leaves the program running: the set-up goes on past every lost line.
TEST_F(ExecutableTest, AFullDiskUnderTheLogLeavesTheProgramRunning) {
    sandbox_.WriteFile(sandbox_.Path("work/DownloadCfg.ini"),
                       "[Download#1]\nProductName=A\nURL=http://127.0.0.1:9/a.exe\n");
    // A first run shows where the log lies.
    fixtures::ChildProcess& first = Start(exe_);
    ASSERT_TRUE(LogAppears(15000));
    first.Kill();
    ASSERT_NE(-1, EndsWithin(first, 5000));
    ASSERT_EQ(1u, Logs().size());
    const std::string log = Logs().begin()->first;

    // The log fills the disk: not one byte more fits into it.
    const rlim_t full = 256 * 1024;
    sandbox_.WriteFile(log, std::string(full, 'x'));
    const std::string registry = StateFolder() + "/registry.sqlite3";
    fs::remove(registry);
    Launch limited;
    limited.fileSizeLimit = full;
    fixtures::ChildProcess& second = Start(exe_, limited);
    ASSERT_TRUE(InstanceLockHeld(15000));
    const auto setUp = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!fixtures::Sandbox::Exists(registry) && std::chrono::steady_clock::now() < setUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fixtures::Sandbox::Exists(registry)) << "the set-up went on to the saved state";
    EXPECT_EQ(-1, EndsWithin(second, 500)) << "the program runs on";
    EXPECT_EQ(full, fs::file_size(log)) << "no part of a line reached the log";
}

}  // namespace
