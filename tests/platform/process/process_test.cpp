#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/base/lasterror.h"
#include "platform/base/textconv_internal.h"
#include "platform/kernel/kernel_object.h"
#include "platform/process/process.h"
#include "platform/process/process_internal.h"
#include "support/noexec_mount.h"
#include "support/sandbox.h"

namespace {

using fixtures::Sandbox;

std::wstring Wide(const std::string& utf8) {
    return platform::WideFromUtf8(utf8.data(), utf8.size());
}

// Waits, bounded, for a file that a started program writes.
bool WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Sandbox::Exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// True when this process has no child left, neither running nor waiting to be reaped.
bool HasNoChildren() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

void CloseProcessHandles(PROCESS_INFORMATION& info) {
    EXPECT_TRUE(platform::CloseKernelHandle(info.hThread));
    EXPECT_TRUE(platform::CloseKernelHandle(info.hProcess));
}

TEST(CommandLine, SplitsByTheWindowsRules) {
    struct Case {
        const char* line;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {R"(prog a b)", {"prog", "a", "b"}},
        {"  prog\t a  ", {"prog", "a"}},
        {"", {}},
        {"   ", {}},
        {R"("\home\a b\setup x.exe")", {R"(\home\a b\setup x.exe)"}},
        {R"("\p q\r" -s "two words")", {R"(\p q\r)", "-s", "two words"}},
        // The program name ends at its closing quote and knows no escapes.
        {R"("a\"b c")", {R"(a\)", "b", "c"}},
        {R"("prog"x y)", {"prog", "x", "y"}},
        // A Linux file name may hold a quote: written twice inside the quoted program name.
        {R"("\d\setup"" it's.sh" x)", {R"(\d\setup" it's.sh)", "x"}},
        {R"("""a"""".sh")", {R"("a"".sh)"}},
        {R"("end""" x)", {R"(end")", "x"}},
        {R"(\unquoted\path\prog a)", {R"(\unquoted\path\prog)", "a"}},
        // Arguments: quotes group, backslashes count only before a quote.
        {R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
        {R"(p "ab\"c" "\\" d)", {"p", R"(ab"c)", R"(\)", "d"}},
        {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
        {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
        {R"(p "" x)", {"p", "", "x"}},
        {R"(p "open end)", {"p", "open end"}},
        {R"(p trailing\)", {"p", R"(trailing\)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.expected) << c.line;
    }
}

TEST(CommandLine, ParametersHaveNoProgramName) {
    EXPECT_EQ(platform::SplitArguments(R"("a\"b c")"), std::vector<std::string>{R"(a"b c)"});
    EXPECT_EQ(platform::SplitArguments(R"(/S /D="C:\x y")"),
              (std::vector<std::string>{"/S", R"(/D=C:\x y)"}));
    EXPECT_TRUE(platform::SplitArguments(" \t ").empty());
}

class CreateProcessTest : public fixtures::SandboxTest {
  protected:
    // A script without any execute bit in a folder whose name has blanks and non-ASCII
    // letters, so that only a quoted, converted path reaches it.
    std::string WriteScript(const std::string& name, const std::string& body) {
        const std::string folder = sandbox_.Path("dir with blanks äö");
        mkdir(folder.c_str(), 0700);
        const std::string script = folder + "/" + name;
        sandbox_.WriteFile(script, "#!/bin/sh\n" + body);
        chmod(script.c_str(), 0644);
        return script;
    }

    BOOL Start(LPCWSTR app, std::wstring commandLine, LPCWSTR dir, BOOL inherit,
               PROCESS_INFORMATION* info, LPVOID env = nullptr, DWORD flags = 0) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        *info = PROCESS_INFORMATION{};
        commandLine.push_back(L'\0');
        return CreateProcessW(app, commandLine.data(), nullptr, nullptr, inherit, flags, env, dir,
                              &startup, info);
    }
};

TEST_F(CreateProcessTest, StartsAQuotedPathDetachedAndSetsTheExecuteBit) {
    const std::string script = WriteScript("run me.sh", R"sh(cd "$(dirname "$0")" || exit 1
{
  echo "$$"
  echo "$PPID"
  readlink /proc/$$/fd/0
  if [ -e /proc/$$/fd/$2 ]; then echo kept; else echo closed; fi
  echo "$1"
} > marker.tmp
mv marker.tmp marker
)sh");
    const std::string marker = sandbox_.Path("dir with blanks äö/marker");
    // A descriptor that the caller did not mark close-on-exec, as a log file may be.
    const int probe = open(script.c_str(), O_RDONLY);
    ASSERT_GE(probe, 0);
    const int held = fcntl(probe, F_DUPFD, 50);
    close(probe);
    ASSERT_GE(held, 50);

    struct Case {
        BOOL inherit;
        const char* descriptor;
    };
    for (const Case c : {Case{FALSE, "closed"}, Case{TRUE, "kept"}}) {
        SCOPED_TRACE(c.descriptor);
        unlink(marker.c_str());
        PROCESS_INFORMATION info;
        const std::wstring line =
            L"\"" + Wide(Sandbox::Win(script)) + L"\" \"two words\" " + std::to_wstring(held);
        ASSERT_TRUE(Start(nullptr, line, nullptr, c.inherit, &info)) << GetLastError();
        EXPECT_NE(info.hProcess, nullptr);
        EXPECT_NE(info.hThread, nullptr);
        EXPECT_NE(info.hProcess, info.hThread);
        struct stat st {};
        ASSERT_EQ(stat(script.c_str(), &st), 0);
        EXPECT_NE(st.st_mode & S_IXUSR, 0u);
        // The middle process is reaped and the program is none of ours.
        EXPECT_TRUE(HasNoChildren());

        ASSERT_TRUE(WaitForFile(marker));
        const std::vector<std::string> lines = Lines(Sandbox::ReadFile(marker));
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0], std::to_string(info.dwProcessId));
        EXPECT_NE(lines[1], std::to_string(getpid()));
        EXPECT_EQ(lines[2], "/dev/null");
        EXPECT_EQ(lines[3], c.descriptor);
        EXPECT_EQ(lines[4], "two words");
        EXPECT_TRUE(platform::ObjectOf(info.hProcess)->WaitFor(10000));
        CloseProcessHandles(info);
    }
    close(held);
}

// A name holding quotes reaches the program whole, and nothing named by a part of it runs, though
// the start gives a program its execute bit.
TEST_F(CreateProcessTest, AProgramNameHoldingQuotesIsStartedWhole) {
    const std::string marker = sandbox_.Path("argv");
    const std::string decoyRan = sandbox_.Path("decoy ran");
    const std::string decoy = WriteScript("setup", "touch '" + decoyRan + "'\n");
    // The script's $0 is the path it was executed by; $# counts what followed it.
    const std::string body = R"(printf '%s\n' "$0" "$#" > ')" + marker + "'\n";
    for (const char* name : {R"(setup" it's.sh)", R"(""a'"")", R"(ends in a quote")"}) {
        SCOPED_TRACE(name);
        unlink(marker.c_str());
        const std::string script = WriteScript(name, body);
        std::string quoted;
        for (const char c : Sandbox::Win(script))
            quoted += c == '"' ? std::string(2, '"') : std::string(1, c);
        PROCESS_INFORMATION info;
        ASSERT_TRUE(Start(nullptr, Wide("\"" + quoted + "\""), nullptr, FALSE, &info))
            << GetLastError();
        ASSERT_TRUE(platform::ObjectOf(info.hProcess)->WaitFor(10000));
        CloseProcessHandles(info);
        EXPECT_EQ(Sandbox::ReadFile(marker), script + "\n0\n");
    }
    EXPECT_FALSE(Sandbox::Exists(decoyRan));
    struct stat st {};
    ASSERT_EQ(stat(decoy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IXUSR, 0u);
}

TEST_F(CreateProcessTest, ProcessHandleIsSignalledWhenTheProgramEnds) {
    // Ends once "go" appears in its current folder, or after about five seconds.
    const std::string script = WriteScript("wait.sh", R"sh(i=0
while [ ! -e go ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done
)sh");
    const std::string folder = sandbox_.Path("dir with blanks äö");
    PROCESS_INFORMATION info;
    const std::wstring app = Wide(Sandbox::Win(script));
    const std::wstring dir = Wide(Sandbox::Win(folder));
    ASSERT_TRUE(Start(app.c_str(), L"anything", dir.c_str(), FALSE, &info)) << GetLastError();
    EXPECT_NE(getsid(static_cast<pid_t>(info.dwProcessId)), getsid(0));

    const auto waiter = platform::ObjectOf(info.hProcess);
    ASSERT_TRUE(waiter);
    EXPECT_FALSE(waiter->WaitFor(0));
    EXPECT_FALSE(platform::ObjectOf(info.hThread)->WaitFor(20));
    sandbox_.WriteFile(folder + "/go", "");
    EXPECT_TRUE(waiter->WaitFor(10000));
    EXPECT_TRUE(platform::ObjectOf(info.hThread)->WaitFor(0));
    CloseProcessHandles(info);
    EXPECT_EQ(platform::ObjectOf(info.hProcess), nullptr);
}

TEST_F(CreateProcessTest, BareNameFromPathWithItsOwnEnvironment) {
    const std::string marker = sandbox_.Path("env marker");
    const std::string line = "sh -c \"echo \\\"$ZELV_X|$HOME\\\" > '" + marker + "'\"";
    const char ansiBlock[] = "=C:=C:\\\0ZELV_X=narrow\0";
    const wchar_t wideBlock[] = L"ZELV_X=wide \u00e4\0";
    struct Case {
        const char* name;
        LPVOID block;
        DWORD flags;
        const char* expected;
    };
    const Case cases[] = {
        {"ansi block", const_cast<char*>(ansiBlock), 0, "narrow|"},
        {"wide block", const_cast<wchar_t*>(wideBlock), CREATE_UNICODE_ENVIRONMENT,
         "wide \xC3\xA4|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unlink(marker.c_str());
        PROCESS_INFORMATION info;
        ASSERT_TRUE(Start(nullptr, Wide(line), nullptr, FALSE, &info, c.block, c.flags))
            << GetLastError();
        ASSERT_TRUE(platform::ObjectOf(info.hProcess)->WaitFor(10000));
        EXPECT_EQ(Sandbox::ReadFile(marker), std::string(c.expected) + "\n");
        CloseProcessHandles(info);
    }
}

TEST_F(CreateProcessTest, StartsFromSeveralThreadsAtOnce) {
    const std::string script = WriteScript("touch.sh", "touch \"$1\"\n");
    const std::wstring program = L"\"" + Wide(Sandbox::Win(script)) + L"\" ";
    constexpr int kThreads = 4;
    constexpr int kStarts = 5;
    std::vector<std::thread> threads;
    std::atomic<int> started{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kStarts; ++i) {
                const std::string marker = sandbox_.Path("m" + std::to_string(t * kStarts + i));
                PROCESS_INFORMATION info;
                if (!Start(nullptr, program + Wide(marker), nullptr, FALSE, &info)) {
                    continue;
                }
                if (platform::ObjectOf(info.hProcess)->WaitFor(10000))
                    ++started;
                platform::CloseKernelHandle(info.hThread);
                platform::CloseKernelHandle(info.hProcess);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(started.load(), kThreads * kStarts);
    for (int n = 0; n < kThreads * kStarts; ++n) {
        EXPECT_TRUE(Sandbox::Exists(sandbox_.Path("m" + std::to_string(n)))) << n;
    }
}

TEST_F(CreateProcessTest, FailedStartsReportTheirReason) {
    sandbox_.WriteFile(sandbox_.Path("plain.txt"), "no program here\n");
    sandbox_.WriteFile(sandbox_.Path("garbage.bin"), std::string("\x7f\x01\x02\x03 junk", 9));
    const std::string runnable = WriteScript("ok.sh", "exit 0\n");
    struct Case {
        const char* name;
        std::string commandLine;
        std::string dir;
        DWORD error;
    };
    const Case cases[] = {
        {"missing program", "\"" + Sandbox::Win(sandbox_.Path("no such.exe")) + "\"", "",
         ERROR_FILE_NOT_FOUND},
        {"missing bare name", "zelv-no-such-program-here", "", ERROR_FILE_NOT_FOUND},
        {"folder", Sandbox::Win(sandbox_.Path("home")), "", ERROR_ACCESS_DENIED},
        {"file as folder", Sandbox::Win(sandbox_.Path("plain.txt/prog")), "", ERROR_PATH_NOT_FOUND},
        {"not a program", Sandbox::Win(sandbox_.Path("garbage.bin")), "", ERROR_BAD_EXE_FORMAT},
        {"missing current folder", "\"" + Sandbox::Win(runnable) + "\"",
         Sandbox::Win(sandbox_.Path("gone")), ERROR_DIRECTORY},
        {"empty command line", "", "", ERROR_INVALID_PARAMETER},
        {"empty program name", "\"\" x", "", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        PROCESS_INFORMATION info;
        const std::wstring dir = Wide(c.dir);
        EXPECT_FALSE(Start(nullptr, Wide(c.commandLine), c.dir.empty() ? nullptr : dir.c_str(),
                           FALSE, &info));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(info.hProcess, nullptr);
        EXPECT_EQ(info.hThread, nullptr);
        EXPECT_TRUE(HasNoChildren());
    }
}

// A program that the system refuses to execute fails the start with the reason; the start
// does not report success before the program was executed.
TEST_F(CreateProcessTest, AProgramOnANoexecMountFailsTheStart) {
    const std::string script =
        fixtures::NoexecProgramOrRunThere(sandbox_.Path("noexec"), "setup.sh", 0755);
    if (script.empty())
        return;
    PROCESS_INFORMATION info;
    SetLastError(0);
    EXPECT_FALSE(Start(nullptr, Wide("\"" + Sandbox::Win(script) + "\""), nullptr, FALSE, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_TRUE(HasNoChildren());
}

TEST_F(CreateProcessTest, RefusesWhatCannotBeHonoured) {
    PROCESS_INFORMATION info;
    SetLastError(0);
    EXPECT_FALSE(Start(nullptr, L"sh -c true", nullptr, FALSE, &info, nullptr, CREATE_SUSPENDED));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    EXPECT_FALSE(CreateProcessW(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
