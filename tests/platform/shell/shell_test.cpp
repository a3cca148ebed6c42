#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/base/lasterror.h"
#include "platform/base/textconv_internal.h"
#include "platform/kernel/kernel_object.h"
#include "platform/shell/shell.h"
#include "support/named_pipe.h"
#include "support/noexec_mount.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace {

using fixtures::Sandbox;

std::wstring Wide(const std::string& utf8) {
    return platform::WideFromUtf8(utf8.data(), utf8.size());
}

INT_PTR Code(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result);
}

class FakeProcess : public platform::KernelObject {
  public:
    bool WaitFor(DWORD) override { return true; }
};

// Records what the shell would hand to the desktop.
class RecordingStarter : public platform::ProgramStarter {
  public:
    struct Call {
        std::string kind;
        std::string target;
        std::vector<std::string> arguments;
        std::string folder;
    };

    RecordingStarter() { platform::SetProgramStarter(this); }
    ~RecordingStarter() override { platform::SetProgramStarter(nullptr); }

    DWORD OpenDocument(const std::string& target,
                       std::shared_ptr<platform::KernelObject>* process) override {
        calls.push_back({"open", target, {}, {}});
        return Answer(process);
    }
    DWORD StartElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& folder,
                        std::shared_ptr<platform::KernelObject>* process) override {
        calls.push_back({"elevated", program, arguments, folder});
        return Answer(process);
    }

    std::vector<Call> calls;
    DWORD error = ERROR_SUCCESS;
    std::weak_ptr<platform::KernelObject> handedOut;

  private:
    DWORD Answer(std::shared_ptr<platform::KernelObject>* process) {
        if (error == ERROR_SUCCESS && process) {
            auto object = std::make_shared<FakeProcess>();
            handedOut = object;
            *process = object;
        }
        return error;
    }
};

class ShellTest : public fixtures::SandboxTest {
  protected:
    std::string MakeFile(const std::string& relative, mode_t mode) {
        const std::string path = sandbox_.Path(relative);
        sandbox_.WriteFile(path, "#!/bin/sh\nexit 0\n");
        chmod(path.c_str(), mode);
        return path;
    }

    static SHELLEXECUTEINFOW RunAs(const std::wstring& file, LPCWSTR parameters, ULONG mask) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = mask;
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.lpParameters = parameters;
        info.nShow = 0;
        return info;
    }
};

TEST_F(ShellTest, OpenHandsLinksAndExistingFilesToTheOpener) {
    const std::string document = MakeFile("read me.txt", 0644);
    struct Case {
        const char* name;
        const char* verb;
        std::string file;
        DWORD starterError;
        INT_PTR result;  // 0: any start (> 32)
        std::string opened;
        DWORD error;
    };
    const std::string url = "https://example.org/faq?id=1&lang=de#top";
    const Case cases[] = {
        {"link", "open", url, ERROR_SUCCESS, 0, url, 0},
        {"no verb", nullptr, "mailto:help@example.org", ERROR_SUCCESS, 0, "mailto:help@example.org",
         0},
        {"verb in capitals", "OPEN", url, ERROR_SUCCESS, 0, url, 0},
        {"existing file", "open", Sandbox::Win(document), ERROR_SUCCESS, 0, document, 0},
        {"missing file", "open", Sandbox::Win(sandbox_.Path("gone.txt")), ERROR_SUCCESS, SE_ERR_FNF,
         "", ERROR_FILE_NOT_FOUND},
        {"no file", "open", "", ERROR_SUCCESS, SE_ERR_FNF, "", ERROR_FILE_NOT_FOUND},
        {"verb without a handler", "print", url, ERROR_SUCCESS, SE_ERR_NOASSOC, "",
         ERROR_NO_ASSOCIATION},
        {"no opener", "open", url, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC, url, ERROR_NO_ASSOCIATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingStarter starter;
        starter.error = c.starterError;
        SetLastError(0);
        const INT_PTR result =
            Code(ShellExecuteA(nullptr, c.verb, c.file.c_str(), nullptr, nullptr, 1));
        if (c.result == 0) {
            EXPECT_GT(result, 32);
        } else {
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (c.opened.empty()) {
            EXPECT_TRUE(starter.calls.empty());
        } else {
            ASSERT_EQ(starter.calls.size(), 1u);
            EXPECT_EQ(starter.calls[0].kind, "open");
            EXPECT_EQ(starter.calls[0].target, c.opened);
        }
        EXPECT_TRUE(starter.handedOut.expired()) << "ShellExecuteA keeps no process";
    }
}

TEST_F(ShellTest, RunAsStartsTheProgramElevatedAndReturnsItsProcess) {
    const std::string program = MakeFile("setup a.run", 0644);
    RecordingStarter starter;
    const std::wstring file = Wide(Sandbox::Win(program));
    const std::wstring folder = Wide(Sandbox::Win(sandbox_.home()));
    SHELLEXECUTEINFOW info = RunAs(file, L"/S \"/D=two words\"", SEE_MASK_NOCLOSEPROCESS);
    info.lpDirectory = folder.c_str();
    ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
    EXPECT_GT(Code(info.hInstApp), 32);

    ASSERT_EQ(starter.calls.size(), 1u);
    EXPECT_EQ(starter.calls[0].kind, "elevated");
    EXPECT_EQ(starter.calls[0].target, program);
    EXPECT_EQ(starter.calls[0].arguments, (std::vector<std::string>{"/S", "/D=two words"}));
    EXPECT_EQ(starter.calls[0].folder, sandbox_.home());
    struct stat st {};
    ASSERT_EQ(stat(program.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);

    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(platform::ObjectOf(info.hProcess), starter.handedOut.lock());
    EXPECT_TRUE(platform::CloseKernelHandle(info.hProcess));
    EXPECT_TRUE(starter.handedOut.expired());

    SHELLEXECUTEINFOW noHandle = RunAs(file, nullptr, 0);
    ASSERT_TRUE(ShellExecuteExW(&noHandle));
    EXPECT_EQ(noHandle.hProcess, nullptr);
    EXPECT_TRUE(starter.handedOut.expired());
    ASSERT_EQ(starter.calls.size(), 2u);
    EXPECT_TRUE(starter.calls[1].arguments.empty());
    EXPECT_EQ(starter.calls[1].folder, "");
}

TEST_F(ShellTest, RunAsFailuresReachTheCaller) {
    const std::string program = MakeFile("setup.run", 0755);
    struct Case {
        const char* name;
        std::string file;
        DWORD cbSize;
        DWORD starterError;
        DWORD error;
        INT_PTR instApp;  // 0: not set
        bool asked;
    };
    const Case cases[] = {
        {"missing program", Sandbox::Win(sandbox_.Path("nothing.run")), sizeof(SHELLEXECUTEINFOW),
         ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, SE_ERR_FNF, false},
        {"prompt refused", Sandbox::Win(program), sizeof(SHELLEXECUTEINFOW), ERROR_CANCELLED,
         ERROR_CANCELLED, SE_ERR_ACCESSDENIED, true},
        {"no prompt", Sandbox::Win(program), sizeof(SHELLEXECUTEINFOW), ERROR_NO_ASSOCIATION,
         ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC, true},
        {"record of another size", Sandbox::Win(program), sizeof(SHELLEXECUTEINFOW) - 8,
         ERROR_SUCCESS, ERROR_INVALID_PARAMETER, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingStarter starter;
        starter.error = c.starterError;
        const std::wstring file = Wide(c.file);
        SHELLEXECUTEINFOW info = RunAs(file, nullptr, SEE_MASK_NOCLOSEPROCESS);
        info.cbSize = c.cbSize;
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExW(&info));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(Code(info.hInstApp), c.instApp);
        EXPECT_EQ(info.hProcess, nullptr);
        EXPECT_EQ(starter.calls.size(), c.asked ? 1u : 0u);
    }
    SetLastError(0);
    EXPECT_FALSE(ShellExecuteExW(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The prompt executes the program only after the password and never tells us its failure: a
// program that the system will not execute is refused before the prompt is asked.
TEST_F(ShellTest, RunAsRefusesAProgramOnANoexecMount) {
    // Given its execute bit, and refused all the same.
    const std::string program =
        fixtures::NoexecProgramOrRunThere(sandbox_.Path("noexec"), "setup.run", 0644);
    if (program.empty())
        return;
    RecordingStarter starter;
    const std::wstring file = Wide(Sandbox::Win(program));
    SHELLEXECUTEINFOW info = RunAs(file, nullptr, SEE_MASK_NOCLOSEPROCESS);
    SetLastError(0);
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Code(info.hInstApp), SE_ERR_ACCESSDENIED);
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_TRUE(starter.calls.empty());
}

// The desktop's own helpers, replaced in PATH by scripts that write down how they were called.
class DesktopHelpersTest : public ShellTest {
  protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        bin_ = sandbox_.Path("bin");
        mkdir(bin_.c_str(), 0700);
        setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
    }
    void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

    void InstallHelper(const std::string& name) {
        const std::string script = bin_ + "/" + name;
        sandbox_.WriteFile(script,
                           "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\"\n"
                           "pwd >> \"$0.tmp\"\nmv \"$0.tmp\" \"$0.called\"\n");
        chmod(script.c_str(), 0755);
    }

    std::vector<std::string> CallOf(const std::string& name) {
        const std::string record = bin_ + "/" + name + ".called";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Sandbox::Exists(record) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::string> lines;
        std::istringstream in(Sandbox::ReadFile(record));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string bin_;

  private:
    std::string savedPath_;
};

TEST_F(DesktopHelpersTest, OpenerGetsTheLinkAndRunAsGoesThroughThePrompt) {
    InstallHelper("xdg-open");
    InstallHelper("pkexec");
    const std::string url = "https://example.org/guide?a=1&b=2";
    EXPECT_GT(Code(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, 1)), 32);
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    EXPECT_EQ(CallOf("xdg-open"), (std::vector<std::string>{url, current}));

    const std::string program = MakeFile("-setup.run", 0644);
    const std::wstring file = Wide(Sandbox::Win(program));
    const std::wstring folder = Wide(Sandbox::Win(sandbox_.temp()));
    SHELLEXECUTEINFOW info = RunAs(file, L"--quiet \"a b\"", SEE_MASK_NOCLOSEPROCESS);
    info.lpDirectory = folder.c_str();
    ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_TRUE(platform::ObjectOf(info.hProcess)->WaitFor(10000));
    EXPECT_TRUE(platform::CloseKernelHandle(info.hProcess));
    EXPECT_EQ(CallOf("pkexec"),
              (std::vector<std::string>{program, "--quiet", "a b", sandbox_.temp()}));
}

TEST_F(DesktopHelpersTest, WithoutTheHelpersNothingStarts) {
    // Only a folder without them is searched: a desktop machine has them in /usr/bin.
    setenv("PATH", bin_.c_str(), 1);
    const std::string program = MakeFile("setup.run", 0755);
    SetLastError(0);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "https://example.org/", nullptr, nullptr, 1)),
              SE_ERR_NOASSOC);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
    const std::wstring file = Wide(Sandbox::Win(program));
    SHELLEXECUTEINFOW info = RunAs(file, nullptr, SEE_MASK_NOCLOSEPROCESS);
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
    EXPECT_EQ(info.hProcess, nullptr);
}

TEST_F(ShellTest, DesktopFolderFromTheUserDirectories) {
    const std::string home = sandbox_.home();
    struct Case {
        const char* name;
        const char* userDirs;  // null: no file
        std::string expected;
    };
    const Case cases[] = {
        {"no file", nullptr, home + "/Desktop"},
        {"home relative", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", home + "/Schreibtisch"},
        {"among others",
         "# written by the desktop\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
         "  XDG_DESKTOP_DIR=\"$HOME/Bureau\"\nXDG_MUSIC_DIR=\"$HOME/Musik\"\n",
         home + "/Bureau"},
        {"braced home", "XDG_DESKTOP_DIR=\"${HOME}/Desk top\"\n", home + "/Desk top"},
        {"absolute with a slash at the end", "XDG_DESKTOP_DIR=\"/srv/desk/\"\n", "/srv/desk"},
        {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"\n", home},
        {"escaped quote", "XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", home + "/My \"Desk\""},
        {"the last one counts", "XDG_DESKTOP_DIR=\"$HOME/A\"\nXDG_DESKTOP_DIR=\"$HOME/B\"\n",
         home + "/B"},
        {"relative is no entry", "XDG_DESKTOP_DIR=\"Desk\"\n", home + "/Desktop"},
        {"unclosed quote is no entry", "XDG_DESKTOP_DIR=\"$HOME/Desk\n", home + "/Desktop"},
        {"other variable only", "XDG_DESKTOP_DIRS=\"$HOME/X\"\n", home + "/Desktop"},
    };
    const std::string file = sandbox_.Path("config/user-dirs.dirs");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(file.c_str());
        if (c.userDirs)
            sandbox_.WriteFile(file, c.userDirs);
        char path[MAX_PATH];
        std::memset(path, '#', sizeof path);
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE));
        EXPECT_EQ(std::string(path), Sandbox::Win(c.expected));
        char desktop[MAX_PATH];
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOP, FALSE));
        EXPECT_STREQ(desktop, path);
    }
    EXPECT_FALSE(Sandbox::Exists(home + "/Schreibtisch")) << "made without being asked";

    // A named pipe of the file's name is no file, and is not waited on.
    ASSERT_TRUE(fixtures::MakeNamedPipe(file));
    EXPECT_TRUE(fixtures::ReturnsWithoutWaitingOn(file, [&] {
        char path[MAX_PATH];
        ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE));
        EXPECT_EQ(std::string(path), Sandbox::Win(home + "/Desktop"));
    }));
}

TEST_F(ShellTest, DesktopFolderIsMadeOnlyWhenAsked) {
    // Without XDG_CONFIG_HOME the file lives in ~/.config.
    unsetenv("XDG_CONFIG_HOME");
    mkdir((sandbox_.home() + "/.config").c_str(), 0700);
    sandbox_.WriteFile(sandbox_.home() + "/.config/user-dirs.dirs",
                       "XDG_DESKTOP_DIR=\"$HOME/new/Schreibtisch\"\n");
    const std::string desktop = sandbox_.home() + "/new/Schreibtisch";
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_EQ(std::string(path), Sandbox::Win(desktop));
    EXPECT_FALSE(Sandbox::Exists(desktop));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE));
    struct stat st {};
    ASSERT_EQ(stat(desktop.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ShellTest, DesktopFolderRefusals) {
    char path[MAX_PATH] = "old";
    SetLastError(0);
    EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, 0x0005, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_STREQ(path, "");

    const std::string deep = "/" + std::string(MAX_PATH, 'd');
    sandbox_.WriteFile(sandbox_.Path("config/user-dirs.dirs"),
                       "XDG_DESKTOP_DIR=\"" + deep + "\"\n");
    std::strcpy(path, "old");
    EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_STREQ(path, "");
}

}  // namespace
