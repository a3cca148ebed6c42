#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/sync.h"
#include "support/child_process.h"
#include "support/sandbox.h"

namespace {

// What CreateMutexA gave, as one character: the child process reports it through its pipe or
// its exit status.
char Outcome(HANDLE mutex) {
    if (mutex == nullptr)
        return 'N';
    return GetLastError() == ERROR_ALREADY_EXISTS ? 'E' : 'G';
}

// The second process of these tests is this program again, started with ZELV_MUTEX_CHILD set;
// it does its part before the test runner starts. "probe" creates the mutex and exits with the
// outcome; "hold" creates it, reports the outcome on the descriptor ZELV_MUTEX_REPORT_FD and
// stays; "idle" only reports that it runs and stays.
[[maybe_unused]] const bool g_notAChild = [] {
    const char* mode = std::getenv("ZELV_MUTEX_CHILD");
    if (mode == nullptr)
        return true;
    const std::string part = mode;
    const char* name = std::getenv("ZELV_MUTEX_NAME");
    if (part == "probe")
        _exit(Outcome(CreateMutexA(nullptr, FALSE, name)));
    char outcome = part == "hold" ? Outcome(CreateMutexA(nullptr, FALSE, name)) : 'I';
    const char* report = std::getenv("ZELV_MUTEX_REPORT_FD");
    if (report == nullptr || write(std::atoi(report), &outcome, 1) != 1)
        _exit(100);
    Sleep(30000);  // bounded: the test kills us long before
    _exit(101);
}();

class Child {
  public:
    Child(const char* mode, const std::string& name) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        readEnd_ = fds[0];
        fixtures::ChildOptions options;
        options.argv = {fixtures::SelfProgram()};
        options.setEnvironment = {std::string("ZELV_MUTEX_CHILD=") + mode,
                                  "ZELV_MUTEX_NAME=" + name,
                                  "ZELV_MUTEX_REPORT_FD=" + std::to_string(fds[1])};
        // Under its own number: a dup2 onto a fixed one could replace an inherited lock
        // descriptor.
        options.keepDescriptors = {fds[1]};
        // What the child inherits is what these tests are about: all that exec leaves open.
        options.closeOtherDescriptors = false;
        std::string error;
        started_ = process_.Start(options, &error);
        close(fds[1]);
    }

    ~Child() {
        if (readEnd_ >= 0)
            close(readEnd_);
    }

    bool started() const { return started_; }

    // The character the child reported on its pipe, or 0 when none came in time.
    char Report() {
        pollfd ready{readEnd_, POLLIN, 0};
        char outcome = 0;
        if (poll(&ready, 1, 20000) == 1 && read(readEnd_, &outcome, 1) == 1)
            return outcome;
        return 0;
    }

    // The child's exit status, 1000 and the signal when one ended it, or -1 when it did not end
    // in time (it is killed then).
    int Wait() {
        if (!process_.WaitForExit(std::chrono::seconds(20))) {
            process_.Kill();
            return -1;
        }
        const int status = process_.status();
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : -1;
    }

    void Kill() { process_.Kill(); }

  private:
    fixtures::ChildProcess process_;
    bool started_ = false;
    int readEnd_ = -1;
};

// The outcome of CreateMutexA in a second process, while this one does what it does.
char OutcomeInAnotherProcess(const std::string& name) {
    Child child("probe", name);
    if (!child.started())
        return 0;
    return static_cast<char>(child.Wait());
}

class NamedMutex : public fixtures::SandboxTest {
  protected:
    const std::string name_ = "Test Single Instance";
};

TEST_F(NamedMutex, SecondCreateInTheProcessSeesTheNameUntilEveryHandleIsClosed) {
    SetLastError(ERROR_ACCESS_DENIED);  // a success must clear it
    HANDLE first = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);

    HANDLE second = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(first));

    HANDLE third = CreateMutexA(nullptr, FALSE, name_.c_str());  // `second` keeps the name
    EXPECT_EQ(Outcome(third), 'E');
    CloseHandle(second);
    CloseHandle(third);

    HANDLE again = CreateMutexA(nullptr, FALSE, name_.c_str());
    EXPECT_EQ(Outcome(again), 'G');
    CloseHandle(again);
}

TEST_F(NamedMutex, DifferentNamesAndUnnamedMutexesDoNotMeet) {
    HANDLE a = CreateMutexA(nullptr, FALSE, "one");
    EXPECT_EQ(Outcome(a), 'G');
    HANDLE b = CreateMutexA(nullptr, FALSE, "ONE");  // names are case-sensitive, as on Windows
    EXPECT_EQ(Outcome(b), 'G');
    for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
        HANDLE x = CreateMutexA(nullptr, FALSE, unnamed);
        EXPECT_EQ(Outcome(x), 'G');
        HANDLE y = CreateMutexA(nullptr, FALSE, unnamed);
        EXPECT_EQ(Outcome(y), 'G');
        CloseHandle(x);
        CloseHandle(y);
    }
    CloseHandle(a);
    CloseHandle(b);
}

// The lock file lies in the first folder that only this user can change: the state folder,
// which holds the registry, then the runtime folder, then the temporary folder. None of another
// user's can hold the name.
TEST_F(NamedMutex, LockFileLivesInTheFirstFolderOfThisUserOnly) {
    const uid_t me = geteuid(), other = 65534;
    const std::string shared = fixtures::Sandbox::Folder(sandbox_.Path("shared"), 01777, 0);
    const std::string theirs = fixtures::Sandbox::Folder(sandbox_.Path("theirs"), 0755, other);
    fixtures::Sandbox::Folder(theirs + "/ZELVDownloader", 0755, other);
    const std::string openRuntime =
        fixtures::Sandbox::Folder(sandbox_.Path("open-runtime"), 0777, me);
    const std::string state = sandbox_.state() + "/ZELVDownloader";
    const std::string openState = sandbox_.Path("open-state");
    fixtures::Sandbox::Folder(openState, 0777, me);
    fixtures::Sandbox::Folder(openState + "/ZELVDownloader", 0777, me);
    struct Case {
        const char* what;
        std::string stateHome, runtime, tmpdir;  // empty: unset
        std::string folder;                      // where the lock file lies
    };
    const Case cases[] = {
        {"state folder", sandbox_.state(), sandbox_.runtime(), sandbox_.temp(), state},
        {"state folder, whatever the others", sandbox_.state(), openRuntime, shared, state},
        {"state folder left open to all is closed first", openState, sandbox_.runtime(),
         sandbox_.temp(), openState + "/ZELVDownloader"},
        {"state folder of another user", theirs, sandbox_.runtime(), sandbox_.temp(),
         sandbox_.runtime()},
        {"neither state nor runtime folder", theirs, "", sandbox_.temp(), sandbox_.temp()},
        {"runtime folder open to all", theirs, openRuntime, sandbox_.temp(), sandbox_.temp()},
        {"runtime folder of another user", theirs, theirs, sandbox_.temp(), sandbox_.temp()},
    };
    const std::string name = "Test Single Instance";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [variable, value] :
             {std::pair{"XDG_STATE_HOME", c.stateHome}, std::pair{"XDG_RUNTIME_DIR", c.runtime},
              std::pair{"TMPDIR", c.tmpdir}}) {
            if (value.empty()) {
                unsetenv(variable);  // the sandbox puts it back
            } else {
                setenv(variable, value.c_str(), 1);
            }
        }
        // Another user holds a lock file of the name in each folder that is not this user's.
        std::vector<int> planted;
        for (const std::string& folder :
             {shared, theirs, theirs + "/ZELVDownloader", openRuntime}) {
            for (const std::string& file :
                 {name + ".lock", name + "-" + std::to_string(me) + ".lock"}) {
                const std::string path = folder + "/" + file;
                const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0) << path;
                ASSERT_EQ(fchown(fd, other, static_cast<gid_t>(-1)), 0);
                ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                planted.push_back(fd);
            }
        }
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
        EXPECT_EQ(Outcome(mutex), 'G');
        EXPECT_TRUE(fixtures::Sandbox::Exists(c.folder + "/" + name + ".lock")) << c.folder;
        CloseHandle(mutex);
        for (int fd : planted)
            close(fd);
        for (const std::string& folder : {state, sandbox_.runtime(), sandbox_.temp()})
            unlink((folder + "/" + name + ".lock").c_str());
    }

    // Names keep to one file name.
    setenv("XDG_STATE_HOME", sandbox_.state().c_str(), 1);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Local\\a/b");
    EXPECT_EQ(Outcome(mutex), 'G');
    EXPECT_TRUE(fixtures::Sandbox::Exists(state + "/Local_a_b.lock"));
    CloseHandle(mutex);
}

// Two copies of one user that share a state folder, and with it the registry, see one another
// however their runtime and temporary folders differ.
TEST_F(NamedMutex, CopiesThatShareTheStateFolderMeetWhateverTheirOtherFolders) {
    const std::string otherRuntime =
        fixtures::Sandbox::Folder(sandbox_.Path("rt2"), 0700, geteuid());
    const std::string otherTemp = fixtures::Sandbox::Folder(sandbox_.Path("tmp2"), 0700, geteuid());
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_EQ(Outcome(mutex), 'G');
    setenv("XDG_RUNTIME_DIR", otherRuntime.c_str(), 1);  // the sandbox puts them back
    setenv("TMPDIR", otherTemp.c_str(), 1);
    EXPECT_EQ(OutcomeInAnotherProcess(name_), 'E');
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(OutcomeInAnotherProcess(name_), 'E');
    CloseHandle(mutex);
}

// With no folder of this user's at all, no name can be made: the start goes on as the only
// copy.
TEST_F(NamedMutex, WithoutAFolderOfThisUserNoNameIsMade) {
    const std::string theirs = fixtures::Sandbox::Folder(sandbox_.Path("theirs"), 0755, 65534);
    fixtures::Sandbox::Folder(theirs + "/ZELVDownloader", 0755, 65534);
    setenv("XDG_RUNTIME_DIR", theirs.c_str(), 1);
    setenv("TMPDIR", theirs.c_str(), 1);
    setenv("XDG_STATE_HOME", theirs.c_str(), 1);
    SetLastError(0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, name_.c_str()), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(NamedMutex, LockFileThatCannotBeOpenedGivesNoHandle) {
    const std::string state = sandbox_.state() + "/ZELVDownloader";
    ASSERT_TRUE(fixtures::Sandbox::Exists(state) || mkdir(state.c_str(), 0700) == 0);
    ASSERT_EQ(mkdir((state + "/" + name_ + ".lock").c_str(), 0700), 0);
    SetLastError(0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, name_.c_str()), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    SetLastError(0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, std::string(300, 'n').c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

    sandbox_.WriteFile(sandbox_.Path("target"), "");
    ASSERT_EQ(symlink(sandbox_.Path("target").c_str(), (state + "/link.lock").c_str()), 0);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "link"), nullptr);  // never through a link
}

TEST_F(NamedMutex, ReleaseOfAMutexNotOwnedFailsWithNotOwner) {
    HANDLE notOwned = CreateMutexA(nullptr, FALSE, name_.c_str());
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(notOwned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

    // The name exists already, so the wish to own it is ignored.
    HANDLE existing = CreateMutexA(nullptr, TRUE, name_.c_str());
    EXPECT_FALSE(ReleaseMutex(existing));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(existing);
    CloseHandle(notOwned);

    HANDLE owned = CreateMutexA(nullptr, TRUE, name_.c_str());
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_FALSE(ReleaseMutex(owned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(owned);

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE wrong : {event, static_cast<HANDLE>(nullptr)}) {
        SetLastError(0);
        EXPECT_FALSE(ReleaseMutex(wrong));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    CloseHandle(event);
}

TEST(MutexOwnership, OneThreadOwnsItAtATimeAndMayTakeItAgain) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    std::atomic<int> step{0};
    std::thread owner([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        step = 1;
        while (step.load() != 2)
            Sleep(1);
        EXPECT_TRUE(ReleaseMutex(mutex));
        step = 3;
    });
    while (step.load() != 1)
        Sleep(1);
    EXPECT_EQ(WaitForSingleObject(mutex, 20), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(mutex));  // owned by the other thread
    step = 2;
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
    owner.join();
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // recursively
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(NamedMutex, AnotherProcessSeesTheNameWhileThisOneHoldsIt) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_EQ(Outcome(mutex), 'G');
    EXPECT_EQ(OutcomeInAnotherProcess(name_), 'E');
    CloseHandle(mutex);
    EXPECT_EQ(OutcomeInAnotherProcess(name_), 'G');
}

TEST_F(NamedMutex, NameIsFreeAgainAfterItsHolderWasKilled) {
    Child holder("hold", name_);
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.Report(), 'G');

    HANDLE whileHeld = CreateMutexA(nullptr, FALSE, name_.c_str());
    EXPECT_EQ(Outcome(whileHeld), 'E');
    CloseHandle(whileHeld);

    holder.Kill();
    EXPECT_EQ(holder.Wait(), 1000 + SIGKILL);
    HANDLE afterwards = CreateMutexA(nullptr, FALSE, name_.c_str());
    EXPECT_EQ(Outcome(afterwards), 'G');
    CloseHandle(afterwards);
}

TEST_F(NamedMutex, ProgramsStartedMeanwhileDoNotKeepTheName) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_EQ(Outcome(mutex), 'G');
    Child started("idle", name_);
    ASSERT_TRUE(started.started());
    ASSERT_EQ(started.Report(), 'I');  // it runs its own program: inherited descriptors are gone
    CloseHandle(mutex);

    HANDLE again = CreateMutexA(nullptr, FALSE, name_.c_str());
    EXPECT_EQ(Outcome(again), 'G');
    CloseHandle(again);
}

}  // namespace
