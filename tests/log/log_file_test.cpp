#include "log/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/path.h"
#include "platform/fs/folders.h"
#include "platform/kernel/systime.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace {

const char kBanner[] = "\r\n\r\n\r\n***** Downloader Log Start *****\r\n";
const char kStamp[] =
    "(?:0[1-9]|1[0-2])/(?:0[1-9]|[12][0-9]|3[01]) (?:[01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\t";

// Gives the tests the owner InitLogFile stored.
class LogWithOwner : public CLogFile {
  public:
    CWnd* owner() const { return m_pOwner; }
};

class LogFileTest : public fixtures::SandboxTest {
  protected:
    void TearDown() override {
        platform::testing::SetCurrentTimeFunction(nullptr);
        platform::testing::SetLocalTimeFunction(nullptr);
    }

  public:
    static std::string WindowsFolderOf() {
        char folder[MAX_PATH] = "";
        const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        EXPECT_GT(length, 0u);
        EXPECT_LT(length, static_cast<UINT>(MAX_PATH));
        return folder;
    }
    static std::string TempPathOf() {
        char folder[MAX_PATH] = "";
        const DWORD length = GetTempPathA(MAX_PATH, folder);
        EXPECT_GT(length, 0u);
        return folder;
    }
    // Native paths of the log in each of its two folders.
    std::string WindowsLog() const {
        return platform::ToNativePath(WindowsFolderOf().c_str()) + "/Temp/ZELV_Debug/Download.log";
    }
    std::string TempLog() const {
        return platform::ToNativePath(TempPathOf().c_str()) + "ZELV_Debug/Download.log";
    }

    static std::string Read(const std::string& path) { return fixtures::Sandbox::ReadFile(path); }

    // Every file under a folder with its bytes.
    static std::map<std::string, std::string> Snapshot(const std::string& root) {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_regular_file()) {
                files[entry.path().string()] = Read(entry.path().string());
            }
        }
        return files;
    }
    // Makes a plain file stand where the log's folder would be created.
    void BlockFolder(const std::string& folder) const {
        std::filesystem::create_directories(std::filesystem::path(folder).parent_path());
        sandbox_.WriteFile(folder, "not a folder");
    }
};

// Splits bytes into lines at CR LF; trailing text without CR LF is kept as the last line.
std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(bytes.substr(start, end - start));
    }
    if (start < bytes.size()) {
        lines.push_back(bytes.substr(start));
    }
    return lines;
}

std::string Escaped(const std::string& text) {
    static const std::regex metacharacters(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, metacharacters, R"(\$&)");
}

TEST_F(LogFileTest, FirstRunCreatesTheLogInTheWindowsFolderWithTheBanner) {
    int ownerStandIn = 0;
    CWnd* owner = reinterpret_cast<CWnd*>(&ownerStandIn);
    LogWithOwner log;
    EXPECT_EQ(log.owner(), nullptr);
    CString dir("left over");
    log.InitLogFile(owner, dir);

    EXPECT_EQ(log.owner(), owner);
    EXPECT_STREQ(dir, (WindowsFolderOf() + "\\Temp\\ZELV_Debug\\").c_str());
    EXPECT_EQ(WindowsLog().rfind(sandbox_.state(), 0), 0u) << WindowsLog();
    EXPECT_EQ(TempLog().rfind(sandbox_.temp(), 0), 0u) << TempLog();
    // The banner waits in the stream's buffer until the first flush.
    EXPECT_EQ(Read(WindowsLog()), "");
    log.Close();
    EXPECT_EQ(Read(WindowsLog()), kBanner);
    EXPECT_FALSE(fixtures::Sandbox::Exists(TempLog()));
}

struct LineCase {
    const char* name;
    int level;
    const char* text;
    const char* written;  // what follows the stamp on disk
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class LogLineTest : public LogFileTest, public ::testing::WithParamInterface<LineCase> {};

// Each line is on disk when WriteLog returns, so the file is read before Close.
TEST_P(LogLineTest, WriteLogPutsStampPrefixAndTextOnDisk) {
    const LineCase& c = GetParam();
    CLogFile log;
    CString dir;
    log.InitLogFile(nullptr, dir);
    log.WriteLog(c.text, TRUE, c.level);

    const std::string bytes = Read(WindowsLog());
    const std::regex expected(Escaped(kBanner) + kStamp + Escaped(c.written));
    EXPECT_TRUE(std::regex_match(bytes, expected)) << bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogLineTest,
    ::testing::Values(LineCase{"info", LOG_INFO, "Start download", "INFO: Start download\r\n"},
                      LineCase{"error", LOG_ERROR, "Connect failed", "ERROR: Connect failed\r\n"},
                      LineCase{"fatal", LOG_FATAL, "Can't find config file!!",
                               "FATAL ERROR:Can't find config file!!\r\n"},
                      LineCase{"empty", LOG_INFO, "", "INFO: \r\n"},
                      LineCase{"newlines", LOG_ERROR, "first\nsecond\n\nlast",
                               "ERROR: first\r\nsecond\r\n\r\nlast\r\n"},
                      LineCase{"percent", LOG_INFO, "100% of %s %d %n",
                               "INFO: 100% of %s %d %n\r\n"},
                      LineCase{"level below", -1, "odd", "odd\r\n"},
                      LineCase{"level above", 3, "odd", "odd\r\n"}),
    [](const ::testing::TestParamInfo<LineCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// The conversions the stamp test installs: one that knows only the test clock's moment, and
// one that always fails.
struct tm* ConvertTheTestMoment(const time_t* time, struct tm* out) {
    return *time == 1700000000 ? gmtime_r(time, out) : nullptr;
}

struct tm* FailToConvert(const time_t*, struct tm*) {
    return nullptr;
}

TEST_F(LogFileTest, StampIsTheLocalTimeOfOneClockReading) {
    struct Case {
        const char* name;
        platform::testing::LocalTimeFunction convert;
        const char* stamp;
    };
    const Case cases[] = {
        {"converted", ConvertTheTestMoment, "11/14 22:13:20\t"},
        {"conversion fails", FailToConvert, "00/00 -1:-1:-1\t"},
    };
    platform::testing::SetCurrentTimeFunction([]() -> time_t { return 1700000000; });
    for (const Case& c : cases) {
        fixtures::Sandbox sandbox;
        platform::testing::SetLocalTimeFunction(c.convert);
        CLogFile log;
        CString dir;
        log.InitLogFile(nullptr, dir);
        log.WriteLog("by WriteLog", FALSE, LOG_INFO);
        log.WriteLogFormat(LOG_FATAL, "by %s", "WriteLogFormat");
        log.Close();
        EXPECT_EQ(Read(WindowsLog()), std::string(kBanner) + c.stamp + "INFO: by WriteLog\r\n" +
                                          c.stamp + "FATAL ERROR:by WriteLogFormat\r\n")
            << c.name;
    }
}

TEST_F(LogFileTest, WriteLogFormatLineWaitsForTheNextFlush) {
    struct Case {
        const char* name;
        void (*flush)(CLogFile& log);
        const char* flushedLine;  // what the flushing call adds after the format line
    };
    const Case cases[] = {
        {"next WriteLog", [](CLogFile& log) { log.WriteLog("next", FALSE, LOG_INFO); },
         "INFO: next"},
        {"Close", [](CLogFile& log) { log.Close(); }, nullptr},
        {"Flush", [](CLogFile& log) { log.Flush(); }, nullptr},
    };
    for (const Case& c : cases) {
        fixtures::Sandbox sandbox;
        CLogFile log;
        CString dir;
        log.InitLogFile(nullptr, dir);
        log.WriteLog("before", FALSE, LOG_INFO);
        log.WriteLogFormat(LOG_FATAL, "proxy %s refused: %d%%", "10.0.0.1:3128", 407);
        const std::string beforeFlush = Read(WindowsLog());
        EXPECT_EQ(beforeFlush.find("proxy"), std::string::npos) << c.name;

        c.flush(log);
        const std::vector<std::string> lines = Lines(Read(WindowsLog()));
        ASSERT_EQ(lines.size(), c.flushedLine ? 7u : 6u) << c.name;
        EXPECT_TRUE(std::regex_match(
            lines[5], std::regex(std::string(kStamp) +
                                 "FATAL ERROR:proxy 10\\.0\\.0\\.1:3128 refused: 407%")))
            << c.name << ": " << lines[5];
        if (c.flushedLine != nullptr) {
            EXPECT_TRUE(std::regex_match(lines[6], std::regex(kStamp + std::string(c.flushedLine))))
                << c.name << ": " << lines[6];
        }
    }
}

TEST_F(LogFileTest, LaterRunsAppendBannerAndLinesToTheWindowsFolderLog) {
    std::string previous;
    for (int run = 1; run <= 3; ++run) {
        CLogFile log;
        CString dir;
        log.InitLogFile(nullptr, dir);
        log.WriteLog(CString("last line of run ") + static_cast<char>('0' + run), FALSE, LOG_INFO);
        log.Close();

        const std::string now = Read(WindowsLog());
        ASSERT_EQ(now.compare(0, previous.size(), previous), 0) << "run " << run;
        const std::regex added(Escaped(kBanner) + kStamp + "INFO: last line of run " +
                               std::to_string(run) + "\r\n");
        EXPECT_TRUE(std::regex_match(now.substr(previous.size()), added)) << now;
        previous = now;
    }
}

TEST_F(LogFileTest, UnusableWindowsFolderLogFallsBackToAnEmptyLogInTheTempFolder) {
    struct Case {
        const char* name;
        bool readOnly;  // else another open holds it
    };
    for (const Case& c : {Case{"read-only", true}, Case{"held", false}}) {
        fixtures::Sandbox sandbox;
        std::filesystem::create_directories(std::filesystem::path(WindowsLog()).parent_path());
        std::filesystem::create_directories(std::filesystem::path(TempLog()).parent_path());
        sandbox.WriteFile(WindowsLog(), "kept\r\n");
        sandbox.WriteFile(TempLog(), "stale log of an earlier run\r\n");
        CFile holder;
        if (c.readOnly) {
            ASSERT_EQ(chmod(WindowsLog().c_str(), 0444), 0);
        } else {
            ASSERT_TRUE(holder.Open(fixtures::Sandbox::Win(WindowsLog()).c_str(), CFile::modeRead));
        }

        CLogFile log;
        CString dir;
        log.InitLogFile(nullptr, dir);
        EXPECT_STREQ(dir, (TempPathOf() + "\\ZELV_Debug\\").c_str()) << c.name;
        EXPECT_NE(std::string(dir).find("\\\\ZELV_Debug\\"), std::string::npos) << dir;
        log.WriteLog("here", FALSE, LOG_ERROR);
        log.Close();
        holder.Close();

        EXPECT_EQ(Read(WindowsLog()), "kept\r\n") << c.name;
        EXPECT_TRUE(std::regex_match(Read(TempLog()),
                                     std::regex(Escaped(kBanner) + kStamp + "ERROR: here\r\n")))
            << c.name << ": " << Read(TempLog());
    }
}

// The temporary folder that every user shares: another user (65534) has made the log's folder
// there with a link to a file of this user's and a named pipe beside it. The fall-back log
// lies in a folder of this user's instead, and neither is touched.
TEST_F(LogFileTest, FallBackLogNeverLiesInAFolderThatOthersShare) {
    const std::string shared = fixtures::Sandbox::Folder(sandbox_.Path("shared"), 01777, 0);
    const std::string planted = fixtures::Sandbox::Folder(shared + "/ZELV_Debug", 0777, 65534);
    const std::string victim = sandbox_.home() + "/.profile";
    sandbox_.WriteFile(victim, "export PATH\n");
    ASSERT_EQ(symlink(victim.c_str(), (planted + "/Download.log").c_str()), 0);
    ASSERT_EQ(lchown((planted + "/Download.log").c_str(), 65534, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(mkfifo((planted + "/pipe").c_str(), 0666), 0);
    setenv("TMPDIR", shared.c_str(), 1);
    BlockFolder(std::filesystem::path(WindowsLog()).parent_path());

    CLogFile log;
    CString dir;
    log.InitLogFile(nullptr, dir);
    log.WriteLog("here", FALSE, LOG_INFO);
    log.Close();

    const std::string folder = platform::ToNativePath(dir);
    EXPECT_NE(folder.rfind(shared, 0), 0u) << folder;
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_TRUE(std::regex_match(Read(folder + "Download.log"),
                                 std::regex(Escaped(kBanner) + kStamp + "INFO: here\r\n")));
    EXPECT_EQ(Read(victim), "export PATH\n");
}

// The log holds URLs and the proxy user: its folder is the user's alone and so is the log,
// in the Windows folder and in a temporary folder of the user's own that others may read,
// whatever the umask.
TEST_F(LogFileTest, TheLogAndItsFolderAreTheUsersAloneWhereverTheLogFalls) {
    struct Case {
        const char* name;
        bool fallBack;
        mode_t mask;
    };
    const Case cases[] = {{"Windows folder", false, 022},
                          {"Windows folder, no umask", false, 0},
                          {"temporary folder that others read", true, 022},
                          {"temporary folder that others read, no umask", true, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::Sandbox sandbox;
        if (c.fallBack) {
            const std::string temp =
                fixtures::Sandbox::Folder(sandbox.Path("open-tmp"), 0755, geteuid());
            setenv("TMPDIR", temp.c_str(), 1);
            BlockFolder(std::filesystem::path(WindowsLog()).parent_path());
        }
        const mode_t saved = umask(c.mask);
        CLogFile log;
        CString dir;
        log.InitLogFile(nullptr, dir);
        umask(saved);
        log.WriteLog("here", FALSE, LOG_INFO);
        log.Close();

        const std::string folder = platform::ToNativePath(dir);
        EXPECT_TRUE(std::filesystem::equivalent(c.fallBack ? TempLog() : WindowsLog(),
                                                folder + "Download.log"))
            << folder;
        struct stat st {};
        ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
        ASSERT_EQ(stat((folder + "Download.log").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

// A log never opened, one whose folders both failed, and a closed one: writes reach no file.
TEST_F(LogFileTest, WritesWithoutAnOpenLogChangeNoFile) {
    struct Case {
        const char* name;
        void (*prepare)(LogFileTest& test, CLogFile& log);
    };
    const Case cases[] = {
        {"never initialised", [](LogFileTest&, CLogFile&) {}},
        {"both folders unusable",
         [](LogFileTest& test, CLogFile& log) {
             test.BlockFolder(std::filesystem::path(test.WindowsLog()).parent_path());
             test.BlockFolder(std::filesystem::path(test.TempLog()).parent_path());
             CString dir;
             log.InitLogFile(nullptr, dir);
             EXPECT_STREQ(dir, (TempPathOf() + "\\ZELV_Debug\\").c_str());
         }},
        {"closed",
         [](LogFileTest&, CLogFile& log) {
             CString dir;
             log.InitLogFile(nullptr, dir);
             log.WriteLog("!!!!!  WM_CLOSE  !!!!!", FALSE, LOG_INFO);
             log.Close();
         }},
    };
    for (const Case& c : cases) {
        fixtures::Sandbox sandbox;
        CLogFile log;
        c.prepare(*this, log);
        const auto before = Snapshot(sandbox.root());
        log.WriteLog("lost", TRUE, LOG_ERROR);
        log.WriteLogFormat(LOG_FATAL, "lost %d", 2);
        log.Close();
        log.WriteLog("lost again", FALSE, LOG_INFO);
        EXPECT_EQ(Snapshot(sandbox.root()), before) << c.name;
        EXPECT_FALSE(fixtures::Sandbox::Exists(TempLog())) << c.name;
    }
}

TEST_F(LogFileTest, LinesFromTwoThreadsArriveWhole) {
    const int kLines = 5000;
    CLogFile log;
    CString dir;
    log.InitLogFile(nullptr, dir);

    std::atomic<int> ready{0};
    auto writer = [&](char name) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        // Both writers alternate so that both prefix tables are first used by both threads.
        for (int i = 0; i < kLines; ++i) {
            if (i % 2 == 0) {
                log.WriteLogFormat(LOG_ERROR,
                                   "thread %c line %d of a line long enough to cross "
                                   "a stream buffer boundary now and then",
                                   name, i);
            } else {
                CString text;
                text.Format(
                    "thread %c line %d of a line long enough to cross a stream buffer "
                    "boundary now and then",
                    name, i);
                log.WriteLog(text, FALSE, LOG_ERROR);
            }
        }
    };
    std::thread a(writer, 'A');
    std::thread b(writer, 'B');
    a.join();
    b.join();
    log.Close();

    const std::vector<std::string> lines = Lines(Read(WindowsLog()));
    ASSERT_EQ(lines.size(), 4u + 2 * kLines);
    const std::regex line(std::string(kStamp) +
                          "ERROR: thread ([AB]) line ([0-9]+) of a line long enough to cross a "
                          "stream buffer boundary now and then");
    std::map<char, int> next{{'A', 0}, {'B', 0}};
    for (size_t i = 4; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, line)) << "line " << i << ": " << lines[i];
        const char name = m[1].str()[0];
        EXPECT_EQ(std::stoi(m[2].str()), next[name]) << "line " << i;
        next[name] = std::stoi(m[2].str()) + 1;
    }
    EXPECT_EQ(next['A'], kLines);
    EXPECT_EQ(next['B'], kLines);
}

TEST_F(LogFileTest, CloseRacingWithAWriterLeavesOnlyWholeLines) {
    CLogFile log;
    CString dir;
    log.InitLogFile(nullptr, dir);
    std::atomic<int> written{0};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            log.WriteLog("a line written while the log closes", FALSE, LOG_INFO);
            log.WriteLogFormat(LOG_INFO, "a buffered line %d", i);
            written.fetch_add(1);
        }
    });
    while (written.load() < 200) {
        std::this_thread::yield();
    }
    log.Close();
    writer.join();

    const std::string bytes = Read(WindowsLog());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    const std::vector<std::string> lines = Lines(bytes);
    ASSERT_GT(lines.size(), 4u + 200);
    const std::regex line(std::string(kStamp) +
                          "INFO: (a line written while the log closes|a buffered line [0-9]+)");
    for (size_t i = 4; i < lines.size(); ++i) {
        ASSERT_TRUE(std::regex_match(lines[i], line)) << "line " << i << ": " << lines[i];
    }
}

}  // namespace
