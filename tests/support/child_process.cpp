#include "support/child_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace fixtures {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPollStep(10);

// Helpers of a killed daemon would otherwise be handed to an init that may never reap them.
void BecomeSubreaperOnce() {
    static const bool done = [] {
        prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
        return true;
    }();
    (void)done;
}

// The inodes of the sockets listening on 127.0.0.1:port.
std::set<std::string> ListeningInodes(int port) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::set<std::string> inodes;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (local == wanted && state == "0A")
            inodes.insert(inode);
    }
    return inodes;
}

std::set<std::string> SocketInodesOf(pid_t pid) {
    std::set<std::string> inodes;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return inodes;
    while (dirent* entry = readdir(dir)) {
        char target[128];
        const std::string link = folder + "/" + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        target[length] = '\0';
        // "socket:[12345]"
        if (std::strncmp(target, "socket:[", 8) == 0) {
            std::string inode(target + 8);
            if (!inode.empty())
                inode.pop_back();
            inodes.insert(inode);
        }
    }
    closedir(dir);
    return inodes;
}

}  // namespace

namespace {

// Why a child did not come to run its program, as it reports it on its status pipe.
struct StartFailure {
    enum Stage { kParentGone, kFolder, kDescriptor, kProgram } stage;
    int error;
};

[[noreturn]] void FailStart(int report, StartFailure::Stage stage) {
    const StartFailure failure{stage, errno};
    if (write(report, &failure, sizeof failure) != sizeof failure) {
        // Nothing to tell then: the parent sees an exit without an exec.
    }
    _exit(127);
}

// This process's environment with the options' changes.
std::vector<std::string> Environment(const ChildOptions& options) {
    std::set<std::string> replaced(options.unsetEnvironment.begin(),
                                   options.unsetEnvironment.end());
    for (const std::string& entry : options.setEnvironment)
        replaced.insert(entry.substr(0, entry.find('=')));
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (replaced.count(text.substr(0, text.find('='))) == 0)
            environment.push_back(text);
    }
    environment.insert(environment.end(), options.setEnvironment.begin(),
                       options.setEnvironment.end());
    return environment;
}

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the child as `options` say, with stdin from `input`. Gives its pid once it runs its
// program, or -1.
pid_t Spawn(const ChildOptions& options, int input, std::string* error) {
    // Everything the child needs is made before the fork: between fork and exec only
    // async-signal-safe calls are allowed in a threaded process.
    const std::vector<char*> args = Pointers(options.argv);
    const std::vector<std::string> environment = Environment(options);
    const std::vector<char*> envp = Pointers(environment);
    int output = -1;
    if (!options.outputPath.empty()) {
        output = open(options.outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output < 0) {
            *error = "cannot open " + options.outputPath + ": " + std::strerror(errno);
            return -1;
        }
    }
    // Closed by the exec; the child writes a StartFailure to it when it comes to none.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        if (output >= 0)
            close(output);
        return -1;
    }
    std::vector<int> spared = options.keepDescriptors;
    spared.push_back(report[1]);
    std::sort(spared.begin(), spared.end());
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (options.ownProcessGroup)
            setpgid(0, 0);
        if (options.dieWithTest) {
            prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
            if (getppid() != parent)
                FailStart(report[1], StartFailure::kParentGone);
        }
        if (!options.folder.empty() && chdir(options.folder.c_str()) != 0)
            FailStart(report[1], StartFailure::kFolder);
        dup2(input, 0);
        if (output >= 0) {
            dup2(output, 1);
            dup2(output, 2);
        }
        for (int fd : options.keepDescriptors) {
            if (fcntl(fd, F_SETFD, 0) != 0)
                FailStart(report[1], StartFailure::kDescriptor);
        }
        if (options.closeOtherDescriptors) {
            unsigned from = 3;
            for (int fd : spared) {
                const unsigned kept = static_cast<unsigned>(fd);
                if (kept > from)
                    close_range(from, kept - 1, 0);
                if (kept >= from)
                    from = kept + 1;
            }
            close_range(from, ~0U, 0);
        }
        if (options.fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(args[0], args.data(), envp.data());
        FailStart(report[1], StartFailure::kProgram);
    }
    const int forkError = errno;
    close(report[1]);
    if (output >= 0)
        close(output);
    if (pid < 0) {
        close(report[0]);
        *error = std::string("fork failed: ") + std::strerror(forkError);
        return -1;
    }
    StartFailure failure{};
    ssize_t got;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == 0)
        return pid;
    waitpid(pid, nullptr, 0);
    const char* what = failure.stage == StartFailure::kFolder       ? "cannot enter the folder"
                       : failure.stage == StartFailure::kDescriptor ? "cannot keep a descriptor for"
                       : failure.stage == StartFailure::kProgram    ? "cannot run"
                                                                    : "this process ended starting";
    *error = std::string(what) + " " +
             (failure.stage == StartFailure::kFolder ? options.folder : options.argv[0]) + ": " +
             std::strerror(got == sizeof failure ? failure.error : EIO);
    return -1;
}

bool Reap(pid_t pid, std::chrono::milliseconds timeout, int* status) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

std::string SelfProgram() {
    std::error_code error;
    const std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
    return error ? "/proc/self/exe" : path;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputPath,
                         std::string* error) {
    ChildOptions options;
    options.argv = argv;
    options.outputPath = outputPath;
    return Start(options, error);
}

bool ChildProcess::Start(const ChildOptions& options, std::string* error) {
    if (pid_ > 0)
        Stop(std::chrono::milliseconds(0));
    if (options.argv.empty()) {
        *error = "no program given";
        return false;
    }
    if (options.ownProcessGroup)
        BecomeSubreaperOnce();
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        *error = std::string("cannot open /dev/null: ") + std::strerror(errno);
        return false;
    }
    const pid_t pid = Spawn(options, input, error);
    close(input);
    if (pid < 0)
        return false;
    pid_ = pid;
    ownGroup_ = options.ownProcessGroup;
    running_ = true;
    status_ = 0;
    usage_ = rusage{};
    if (!options.dieWithTest)
        return true;
    // A daemon that changes its user loses the death signal: a watchdog kills it (its group)
    // once this process is gone, when the pipe's last writer closes.
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) == 0) {
        ChildOptions watchdog;
        watchdog.argv = {
            "/bin/sh", "-c",
            "read _; kill -KILL " + std::string(ownGroup_ ? "-" : "") + std::to_string(pid)};
        watchdog.outputPath = "/dev/null";
        watchdog.dieWithTest = false;
        std::string ignored;
        watchdog_ = Spawn(watchdog, pipe[0], &ignored);
        close(pipe[0]);
        if (watchdog_ > 0) {
            watchdogPipe_ = pipe[1];
        } else {
            close(pipe[1]);
        }
    }
    return true;
}

bool ChildProcess::Running() {
    if (!running_)
        return false;
    int status = 0;
    rusage usage{};
    const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        running_ = false;
        status_ = status;
        usage_ = usage;
    }
    return running_;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, std::chrono::microseconds poll,
                               const std::function<void(pid_t)>& onPoll) {
    const auto deadline = Clock::now() + timeout;
    while (Running()) {
        if (onPoll)
            onPoll(pid_);
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

void ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0)
        return;
    if (Running() && grace.count() > 0) {
        kill(pid_, SIGTERM);
        WaitForExit(grace);
    }
    // Its group may outlive it; its id alone may be another process's once it is reaped.
    if (ownGroup_) {
        kill(-pid_, SIGKILL);
    } else if (running_) {
        kill(pid_, SIGKILL);
    }
    if (!WaitForExit(std::chrono::seconds(5))) {
        running_ = false;  // unkillable within the bound: leave it rather than hang the test
    }
    if (ownGroup_)
        ReapGroup(std::chrono::seconds(2));
    // The watchdog's kill is for this process's death only: by now the child's id may be
    // another process's.
    if (watchdog_ > 0) {
        kill(watchdog_, SIGKILL);
        Reap(watchdog_, std::chrono::seconds(2), nullptr);
    }
    watchdog_ = -1;
    if (watchdogPipe_ >= 0)
        close(watchdogPipe_);
    watchdogPipe_ = -1;
    pid_ = -1;
}

void ChildProcess::ReapGroup(std::chrono::milliseconds timeout) {
    // Orphaned helpers of the group come to this process (a subreaper) once they have died.
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        kill(-pid_, SIGKILL);
        const pid_t done = waitpid(-pid_, nullptr, WNOHANG);
        if (done < 0)
            return;  // none of the group is left to reap
        if (done == 0) {
            if (Clock::now() >= deadline)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

bool RunTool(const ChildOptions& options, std::chrono::milliseconds timeout, std::string* error) {
    ChildProcess tool;
    if (!tool.Start(options, error))
        return false;
    const std::string& program = options.argv[0];
    if (!tool.WaitForExit(timeout)) {
        tool.Kill();
        *error = program + " did not finish in time: " + FileTail(options.outputPath);
        return false;
    }
    if (!WIFEXITED(tool.status()) || WEXITSTATUS(tool.status()) != 0) {
        *error = program + " failed (status " + std::to_string(tool.status()) +
                 "): " + FileTail(options.outputPath);
        return false;
    }
    return true;
}

bool RunTool(const std::vector<std::string>& argv, const std::string& outputPath,
             std::chrono::milliseconds timeout, std::string* error) {
    ChildOptions options;
    options.argv = argv;
    options.outputPath = outputPath;
    return RunTool(options, timeout, error);
}

int PickFreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

bool WaitUntilListening(ChildProcess& process, const std::vector<int>& ports,
                        std::chrono::milliseconds timeout) {
    // Read from the kernel's socket table rather than probed by connecting, so the daemon's logs
    // show no empty connection, and a port that another program took is not taken for ours.
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (!process.Running())
            return false;
        const std::set<std::string> own = SocketInodesOf(process.pid());
        bool all = true;
        for (int port : ports) {
            bool found = false;
            for (const std::string& inode : ListeningInodes(port)) {
                if (own.count(inode) != 0)
                    found = true;
            }
            all = all && found;
        }
        if (all)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollStep);
    }
}

bool StartDaemon(ChildProcess& process, int portCount, const DaemonSetup& setup,
                 const std::string& outputPath, const std::string& logPath, std::vector<int>* ports,
                 std::string* error) {
    constexpr int kTries = 4;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        std::vector<int> picked;
        for (int i = 0; i < portCount; ++i)
            picked.push_back(PickFreePort());
        std::vector<std::string> argv;
        if (!setup(picked, &argv, error))
            return false;
        if (!process.Start(argv, outputPath, error))
            return false;
        if (WaitUntilListening(process, picked, std::chrono::seconds(10))) {
            *ports = picked;
            return true;
        }
        const bool ended = !process.Running();
        process.Stop(std::chrono::milliseconds(0));
        if (!ended || attempt == kTries) {
            *error = argv[0] + (ended ? " ended at start" : " did not listen within 10 s") + ":\n" +
                     FileTail(outputPath) + "\n" + FileTail(logPath);
            return false;
        }
    }
    return false;
}

bool ExecutableAvailable(const std::string& path, const std::string& package, std::string* why) {
    if (access(path.c_str(), X_OK) == 0)
        return true;
    if (why != nullptr) {
        *why = path + " is missing (Debian package " + package + "; scripts/setup.sh installs it)";
    }
    return false;
}

bool WaitForFileContaining(const std::string& path, const std::string& text,
                           std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (content.str().find(text) != std::string::npos)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollStep);
    }
}

int CountLinesWith(const std::string& text, const std::string& part) {
    int count = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        count += line.find(part) != std::string::npos;
    return count;
}

std::string FileTail(const std::string& path, std::size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string all = content.str();
    return all.size() <= bytes ? all : all.substr(all.size() - bytes);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace fixtures
