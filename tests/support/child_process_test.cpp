#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/sandbox.h"

namespace fixtures {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class ChildProcessTest : public SandboxTest {
  protected:
    // /bin/sh running `script`, its output appended to out.txt.
    ChildOptions Shell(const std::string& script) const {
        ChildOptions options;
        options.argv = {"/bin/sh", "-c", script};
        options.outputPath = Out();
        return options;
    }
    std::string Out() const { return sandbox_.Path("out.txt"); }

    // Runs the options to their end; the output.
    std::string Run(const ChildOptions& options) {
        ChildProcess child;
        std::string error;
        EXPECT_TRUE(child.Start(options, &error)) << error;
        EXPECT_TRUE(child.WaitForExit(seconds(60)));
        EXPECT_TRUE(WIFEXITED(child.status()) && WEXITSTATUS(child.status()) == 0);
        return Sandbox::ReadFile(Out());
    }
};

TEST_F(ChildProcessTest, RunsInItsFolderWithItsEnvironmentAndAppendsItsOutput) {
    const std::string folder = sandbox_.Path("work");
    Sandbox::Folder(folder, 0700, geteuid());
    ChildOptions options =
        Shell("echo \"$PWD|$ZELV_CHILD_NEW|$HOME|${TMPDIR-none}|$XDG_STATE_HOME\"");
    options.folder = folder;
    options.setEnvironment = {"ZELV_CHILD_NEW=new", "HOME=/elsewhere"};
    options.unsetEnvironment = {"TMPDIR"};
    const std::string line = folder + "|new|/elsewhere|none|" + sandbox_.state() + "\n";
    EXPECT_EQ(line, Run(options));
    EXPECT_EQ(line + line, Run(options)) << "appended";
}

TEST_F(ChildProcessTest, KeepsTheDescriptorsAskedAndClosesTheOthersUnlessTold) {
    const int kept = open(sandbox_.Path("kept").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int other = open(sandbox_.Path("other").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(kept, 3);
    ASSERT_GE(other, 3);
    const std::string script = "[ -e /proc/self/fd/" + std::to_string(kept) +
                               " ] && echo kept; [ -e /proc/self/fd/" + std::to_string(other) +
                               " ] && echo other; true";
    for (const bool closeOthers : {true, false}) {
        SCOPED_TRACE(closeOthers);
        std::remove(Out().c_str());
        ChildOptions options = Shell(script);
        options.keepDescriptors = {kept};
        options.closeOtherDescriptors = closeOthers;
        EXPECT_EQ(closeOthers ? "kept\n" : "kept\nother\n", Run(options));
    }
    close(kept);
    close(other);
}

TEST_F(ChildProcessTest, AStartThatComesToNoProgramSaysWhy) {
    sandbox_.WriteFile(sandbox_.Path("plain"), "#!/bin/sh\n");
    const struct {
        const char* what;
        std::string program, folder, said;
    } cases[] = {
        {"no such program", sandbox_.Path("missing"), "", sandbox_.Path("missing")},
        {"not executable", sandbox_.Path("plain"), "", sandbox_.Path("plain")},
        {"no such folder", "/bin/true", sandbox_.Path("nowhere"), sandbox_.Path("nowhere")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChildOptions options;
        options.argv = {c.program};
        options.folder = c.folder;
        ChildProcess child;
        std::string error;
        EXPECT_FALSE(child.Start(options, &error));
        EXPECT_NE(std::string::npos, error.find(c.said)) << error;
        EXPECT_FALSE(child.Running());
    }
}

TEST_F(ChildProcessTest, AWritePastTheFileSizeLimitFailsWithoutASignal) {
    ChildOptions options = Shell("head -c 4096 /dev/zero > big; echo $?");
    options.folder = sandbox_.root();
    options.fileSizeLimit = 1024;
    EXPECT_NE("0\n", Run(options));
    EXPECT_EQ(1024u, Sandbox::ReadFile(sandbox_.Path("big")).size());
}

// Kill ends the child either way; its helpers with it only when it has a group of its own.
TEST_F(ChildProcessTest, KillEndsTheChildAndItsGroupWhenItHasOne) {
    for (const bool ownGroup : {true, false}) {
        SCOPED_TRACE(ownGroup);
        const std::string pidFile = sandbox_.Path(ownGroup ? "own.pid" : "shared.pid");
        ChildOptions options = Shell("sleep 60 & echo $! > " + pidFile + "; wait");
        options.ownProcessGroup = ownGroup;
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(options, &error)) << error;
        ASSERT_TRUE(WaitForFileContaining(pidFile, "\n", seconds(20)));
        const pid_t helper = std::atoi(Sandbox::ReadFile(pidFile).c_str());
        EXPECT_FALSE(child.WaitForExit(milliseconds(50))) << "it waits for its helper";
        child.Kill();
        EXPECT_FALSE(child.Running());
        EXPECT_TRUE(WIFSIGNALED(child.status()) && WTERMSIG(child.status()) == SIGKILL);
        const bool helperLives = kill(helper, 0) == 0;
        EXPECT_EQ(!ownGroup, helperLives);
        if (helperLives) {
            kill(helper, SIGKILL);
            waitpid(helper, nullptr, 0);  // ours when this process is a subreaper
        }
    }
}

TEST_F(ChildProcessTest, AWaitCallsItsProbeWhileTheChildRunsAndKeepsItsUsage) {
    // The child works only once the first probe has let it go on.
    int go[2];
    ASSERT_EQ(0, pipe2(go, O_CLOEXEC));
    ChildOptions options = Shell("read _ <&" + std::to_string(go[0]) +
                                 "; i=0; while [ $i -lt 100000 ]; do i=$((i + 1)); done");
    options.keepDescriptors = {go[0]};
    ChildProcess child;
    std::string error;
    const bool started = child.Start(options, &error);
    close(go[0]);
    ASSERT_TRUE(started) << error;
    const pid_t pid = child.pid();
    int probes = 0;
    EXPECT_TRUE(child.WaitForExit(seconds(60), milliseconds(1), [&](pid_t probed) {
        EXPECT_EQ(pid, probed);
        if (++probes == 1) {
            EXPECT_EQ(1, write(go[1], "\n", 1));
        }
    }));
    close(go[1]);
    EXPECT_GT(probes, 0);
    const rusage& usage = child.usage();
    EXPECT_GT(usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec +
                  usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec,
              0);
    EXPECT_GT(usage.ru_maxrss, 0);
}

}  // namespace
}  // namespace fixtures
