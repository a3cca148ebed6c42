// CreateProcessW and the detached start that the shell's starts share.
//
// A start forks twice: the middle process makes a new session and ends at once, so the
// program belongs to no process of ours, has no controlling terminal and outlives us. The
// program reports its id and, should it fail, the reason (through a pipe that its exec
// closes); it waits for a go-ahead before it execs, so that its id cannot be reused before we
// hold a pidfd for it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/textconv_internal.h"
#include "platform/process/process.h"
#include "platform/process/process_internal.h"

extern char** environ;

namespace platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void ParseArguments(const std::string& text, size_t at, std::vector<std::string>& out) {
    const size_t end = text.size();
    for (;;) {
        while (at < end && IsBlank(text[at]))
            ++at;
        if (at >= end)
            return;
        std::string arg;
        bool quoted = false;
        while (at < end && (quoted || !IsBlank(text[at]))) {
            const char c = text[at];
            if (c == '\\') {
                size_t count = 0;
                while (at + count < end && text[at + count] == '\\')
                    ++count;
                if (at + count < end && text[at + count] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        at += count + 1;
                    } else {
                        at += count;  // the quote does its work in the next round
                    }
                } else {
                    arg.append(count, '\\');
                    at += count;
                }
            } else if (c == '"') {
                if (quoted && at + 1 < end && text[at + 1] == '"') {
                    arg += '"';
                    at += 2;
                } else {
                    quoted = !quoted;
                    ++at;
                }
            } else {
                arg += c;
                ++at;
            }
        }
        out.push_back(std::move(arg));
    }
}

// The program's end: a pidfd turns readable; without one, the id is polled.
class DetachedProcess : public KernelObject {
  public:
    DetachedProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    ~DetachedProcess() override {
        if (pidfd_ >= 0)
            close(pidfd_);
    }
    DetachedProcess(const DetachedProcess&) = delete;
    DetachedProcess& operator=(const DetachedProcess&) = delete;

    bool WaitFor(DWORD milliseconds) override {
        const DWORD slice = pidfd_ >= 0 ? 1000 : 10;
        return WaitInSlices(
            milliseconds, slice, slice,
            [this](DWORD within) { return EndedWithin(static_cast<int>(within)); }, [] {});
    }

  private:
    bool EndedWithin(int milliseconds) {
        if (pidfd_ >= 0) {
            pollfd watch{pidfd_, POLLIN, 0};
            const int ready = poll(&watch, 1, milliseconds);
            if (ready >= 0 || errno == EINTR)
                return ready > 0;
        }
        if (kill(pid_, 0) != 0 && errno == ESRCH)
            return true;
        if (milliseconds > 0)
            usleep(static_cast<useconds_t>(milliseconds) * 1000);
        return false;
    }

    const pid_t pid_;
    const int pidfd_;
};

enum ReportKind : int { kRunning = 1, kForkFailed, kSetupFailed, kFolderFailed, kExecFailed };
struct Report {
    int kind;
    int value;
};

// Keeps our pipes off 0, 1 and 2, which the program's start replaces.
int AboveStandardFiles(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

bool MakePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    fds[0] = AboveStandardFiles(fds[0]);
    fds[1] = AboveStandardFiles(fds[1]);
    if (fds[0] >= 0 && fds[1] >= 0)
        return true;
    if (fds[0] >= 0)
        close(fds[0]);
    if (fds[1] >= 0)
        close(fds[1]);
    return false;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Only async-signal-safe calls from here to RunProgram's end: we forked a threaded process.
void WriteReport(int fd, int kind, int value) {
    const Report report{kind, value};
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

void CloseOpenFilesExcept(int keep, long maxFd) {
    bool closed = close_range(static_cast<unsigned>(keep) + 1, ~0u, 0) == 0;
    if (closed && keep > 3)
        closed = close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0;
    if (closed)
        return;
    for (long fd = 3; fd < maxFd; ++fd) {
        if (fd != keep)
            close(static_cast<int>(fd));
    }
}

struct Launch {
    const char* path;
    char* const* argv;
    char* const* envp;
    const char* folder;  // null: stay
    bool keepOpenFiles;
    long maxFd;
};

[[noreturn]] void RunProgram(const Launch& launch, int report, int go) {
    char byte = 0;
    while (read(go, &byte, 1) < 0 && errno == EINTR) {
    }
    close(go);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &standard, nullptr);

    const int null = open("/dev/null", O_RDWR);
    if (null < 0) {
        WriteReport(report, kSetupFailed, errno);
        _exit(127);
    }
    dup2(null, STDIN_FILENO);
    if (!launch.keepOpenFiles) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    if (null > STDERR_FILENO)
        close(null);
    if (launch.folder != nullptr && chdir(launch.folder) != 0) {
        WriteReport(report, kFolderFailed, errno);
        _exit(127);
    }
    if (!launch.keepOpenFiles)
        CloseOpenFilesExcept(report, launch.maxFd);
    execve(launch.path, launch.argv, launch.envp);
    WriteReport(report, kExecFailed, errno);
    _exit(127);
}

bool ReadReport(int fd, Report* report) {
    size_t got = 0;
    auto* bytes = reinterpret_cast<char*>(report);
    while (got < sizeof *report) {
        const ssize_t n = read(fd, bytes + got, sizeof *report - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

DWORD StartError(const Report& report) {
    const int err = report.value;
    switch (report.kind) {
        case kForkFailed:
            return ERROR_NOT_ENOUGH_MEMORY;
        case kFolderFailed:
            return ERROR_DIRECTORY;
        case kExecFailed:
            if (err == ENOEXEC)
                return ERROR_BAD_EXE_FORMAT;
            if (err == ETXTBSY)
                return ERROR_SHARING_VIOLATION;  // still open for writing
            if (err == ELOOP)
                return ERROR_PATH_NOT_FOUND;
            if (err == E2BIG)
                return ERROR_INVALID_PARAMETER;
            return WindowsErrorFromErrno(err);
        default:
            return WindowsErrorFromErrno(err);
    }
}

std::string FindInPath(const std::string& name) {
    const char* variable = std::getenv("PATH");
    const std::string folders = variable && *variable ? variable : "/usr/local/bin:/usr/bin:/bin";
    size_t from = 0;
    while (from <= folders.size()) {
        size_t to = folders.find(':', from);
        if (to == std::string::npos)
            to = folders.size();
        const std::string folder = folders.substr(from, to - from);
        from = to + 1;
        if (folder.empty())
            continue;  // never the current folder by accident
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::string();
}

// One start at a time: a program waiting for its go-ahead must not hold a copy of another
// start's pipes, or each would wait for the other.
std::mutex g_startLock;

std::vector<std::string> EnvironmentFromBlock(const void* block, bool wide) {
    std::vector<std::string> entries;
    auto keep = [&entries](std::string entry) {
        // "=C:=..." entries are the per-drive folders of Windows: nothing to hand on here.
        if (!entry.empty() && entry[0] != '=' && entry.find('=') != std::string::npos) {
            entries.push_back(std::move(entry));
        }
    };
    if (wide) {
        for (auto* at = static_cast<const wchar_t*>(block); *at != L'\0';) {
            const size_t length = std::wcslen(at);
            keep(Utf8FromWide(at, length));
            at += length + 1;
        }
    } else {
        for (auto* at = static_cast<const char*>(block); *at != '\0';) {
            const size_t length = std::strlen(at);
            keep(std::string(at, length));
            at += length + 1;
        }
    }
    return entries;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char* current = getcwd(nullptr, 0);
    if (current == nullptr)
        return path;
    std::string absolute = std::string(current) + "/" + path;
    std::free(current);
    return absolute;
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    if (at >= line.size())
        return out;
    std::string program;
    if (line[at] == '"') {
        // A file name here may hold a quote, which no Windows name can: "" stands for it.
        for (++at; at < line.size(); ++at) {
            if (line[at] != '"') {
                program += line[at];
            } else if (at + 1 < line.size() && line[at + 1] == '"') {
                program += '"';
                ++at;
            } else {
                ++at;
                break;
            }
        }
    } else {
        const size_t start = at;
        while (at < line.size() && !IsBlank(line[at]))
            ++at;
        program = line.substr(start, at - start);
    }
    out.push_back(std::move(program));
    ParseArguments(line, at, out);
    return out;
}

std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> out;
    ParseArguments(text, 0, out);
    return out;
}

void MakeOwnerExecutable(const std::string& nativePath) {
    struct stat st {};
    if (stat(nativePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR)) {
        return;
    }
    chmod(nativePath.c_str(), (st.st_mode & 07777) | S_IXUSR);
}

DWORD StartDetached(const ProgramStart& start, StartedProcess* started) {
    if (start.program.empty() || start.arguments.empty())
        return ERROR_INVALID_PARAMETER;
    const std::string path = start.program.find('/') == std::string::npos
                                 ? FindInPath(start.program)
                                 : AbsolutePath(start.program);
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;

    // Everything the child needs is built before the fork.
    std::vector<char*> argv;
    for (const std::string& arg : start.arguments)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : start.environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const long openMax = sysconf(_SC_OPEN_MAX);
    const Launch launch{path.c_str(),
                        argv.data(),
                        start.ownEnvironment ? envp.data() : environ,
                        start.folder.empty() ? nullptr : start.folder.c_str(),
                        start.keepOpenFiles,
                        openMax > 0 ? std::min(openMax, 65536L) : 1024L};

    std::lock_guard<std::mutex> guard(g_startLock);
    int report[2] = {-1, -1};
    int go[2] = {-1, -1};
    if (!MakePipe(report))
        return WindowsErrorFromErrno(errno);
    if (!MakePipe(go)) {
        const int err = errno;
        CloseIfOpen(report[0]);
        CloseIfOpen(report[1]);
        return WindowsErrorFromErrno(err);
    }

    const pid_t middle = fork();
    if (middle == 0) {
        close(report[0]);
        close(go[1]);
        setsid();
        const pid_t program = fork();
        if (program < 0) {
            WriteReport(report[1], kForkFailed, errno);
            _exit(1);
        }
        if (program > 0)
            _exit(0);
        WriteReport(report[1], kRunning, static_cast<int>(getpid()));
        RunProgram(launch, report[1], go[0]);
    }
    CloseIfOpen(report[1]);
    CloseIfOpen(go[0]);
    if (middle < 0) {
        CloseIfOpen(report[0]);
        CloseIfOpen(go[1]);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    DWORD result = ERROR_SUCCESS;
    Report first{};
    pid_t pid = -1;
    int pidfd = -1;
    if (!ReadReport(report[0], &first)) {
        result = ERROR_NOT_ENOUGH_MEMORY;  // the middle process died before it could fork
    } else if (first.kind != kRunning) {
        result = StartError(first);
    } else {
        pid = static_cast<pid_t>(first.value);
        pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));  // may be missing: then polled
        CloseIfOpen(go[1]);                                         // the go-ahead
        Report failure{};
        if (ReadReport(report[0], &failure))
            result = StartError(failure);
    }
    CloseIfOpen(go[1]);
    CloseIfOpen(report[0]);
    if (result != ERROR_SUCCESS) {
        if (pidfd >= 0)
            close(pidfd);
        return result;
    }
    if (started) {
        started->process = std::make_shared<DetachedProcess>(pid, pidfd);
        started->id = static_cast<DWORD>(pid);
    } else if (pidfd >= 0) {
        close(pidfd);
    }
    return ERROR_SUCCESS;
}

}  // namespace platform

BOOL CreateProcessW(LPCWSTR app, LPWSTR cmdLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID env,
                    LPCWSTR dir, LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInfo) {
    if ((app == nullptr && cmdLine == nullptr) || processInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *processInfo = PROCESS_INFORMATION{};
    // A suspended or debugged start would need a thread we could resume or debug.
    if ((flags & (CREATE_SUSPENDED | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS)) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    std::vector<std::string> argv;
    if (cmdLine != nullptr)
        argv = platform::SplitCommandLine(platform::Utf8FromWide(cmdLine));
    platform::ProgramStart start;
    if (app != nullptr) {
        start.program = platform::ToNativePath(platform::Utf8FromWide(app).c_str());
        if (argv.empty())
            argv.push_back(start.program);
    } else if (!argv.empty()) {
        start.program = platform::ToNativePath(argv[0].c_str());
        argv[0] = start.program;
    }
    if (start.program.empty()) {
        SetLastError(argv.empty() ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    start.arguments = std::move(argv);
    if (dir != nullptr)
        start.folder = platform::ToNativePath(platform::Utf8FromWide(dir).c_str());
    start.keepOpenFiles = inherit != FALSE;
    if (env != nullptr) {
        start.ownEnvironment = true;
        start.environment =
            platform::EnvironmentFromBlock(env, (flags & CREATE_UNICODE_ENVIRONMENT) != 0);
    }
    if (start.program.find('/') != std::string::npos)
        platform::MakeOwnerExecutable(start.program);

    platform::StartedProcess started;
    const DWORD error = platform::StartDetached(start, &started);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    processInfo->hProcess = platform::NewHandle(started.process);
    processInfo->hThread = platform::NewHandle(started.process);
    processInfo->dwProcessId = started.id;
    processInfo->dwThreadId = started.id;
    return TRUE;
}
