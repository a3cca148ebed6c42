// Download throughput of the engine against aria2c, axel and curl, all from one nginx on
// loopback, in one run:
//
//   throughput [work folder, default $TMPDIR or /tmp]
//
// Scenarios: a 1 GiB file as fast as it goes (ours with 4 and with 12 connections), and a
// 200 MiB file at 20 MiB/s per connection (ideal with 4 connections: 2.5 s). Every contender
// runs as a child of its own, so wait4 gives its CPU and peak RSS alone; ours is this program
// started again with --engine, which runs the real main dialog offscreen with the real resource
// library and drives it as the main button does. Wall time runs from the start command to the
// complete file; every file is checked by MD5 before its time counts. The engine gets no MD5
// value, so its completion check is free, and the same digest (CMd5Checksum) is timed apart.
// Last, the CPU of the engine while its transfers are stalled for 10 s.
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/dl_info.h"
#include "log/md5_checksum.h"
#include "platform/afx/app.h"
#include "platform/base/path.h"
#include "platform/base/xdg.h"
#include "random_file.h"
#include "support/app/engine_fixture.h"
#include "support/child_process.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kBigSize = 1024 * kMiB;
constexpr std::uint64_t kLimitedSize = 200 * kMiB;
constexpr long kLimitedRate = 20 * kMiB;  // per connection
constexpr int kLimitedConnections = 4;
constexpr int kStallSeconds = 10;
constexpr int kChildTimeoutSeconds = 120;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double TimevalSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

std::string Md5OfFile(const std::string& nativePath, double* seconds) {
    CMd5Checksum checksum(nullptr);
    CString md5;
    const auto start = Clock::now();
    checksum.GetFileMd5(md5, platform::ToWindowsPath(nativePath).c_str());
    if (seconds != nullptr)
        *seconds = Seconds(Clock::now() - start);
    return md5.GetString();
}

// key=value words, as the engine child reports them.
std::map<std::string, std::string> ReadReport(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string word;
    while (in >> word) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos)
            values[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return values;
}

double Number(const std::map<std::string, std::string>& report, const std::string& key) {
    const auto it = report.find(key);
    return it == report.end() ? -1 : std::atof(it->second.c_str());
}

// ---------------------------------------------------------------------------------------------
// The engine side: runs in the child started with --engine or --stall.

// The registry, the log and the named mutex of the child stay in its own folder.
void EnterSandbox(const std::string& folder) {
    for (const char* sub : {"", "/home", "/tmp", "/state", "/runtime", "/config"}) {
        std::filesystem::create_directories(folder + sub);
        std::filesystem::permissions(folder + sub, std::filesystem::perms::owner_all);
    }
    setenv("HOME", (folder + "/home").c_str(), 1);
    setenv("TMPDIR", (folder + "/tmp").c_str(), 1);
    setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder + "/runtime").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

DWORD WrittenBytes(apptest::TestDlg& dlg, int split) {
    if (dlg.m_pDLInfo == NULL)
        return 0;
    DWORD total = 0;
    for (int i = 0; i < split; ++i)
        total += dlg.m_pDLInfo[i].dwWrittenBytes.load();
    return total;
}

// Runs `body` inside a real main dialog; false when the dialog did not run.
bool RunDialog(const std::string& sandbox, const std::function<void(apptest::TestDlg&)>& body) {
    EnterSandbox(sandbox);
    platform::testing::EnsureUi();
    HMODULE resources = LoadLibraryA("ZELVDlderRes.dll");
    if (resources == nullptr) {
        std::fprintf(stderr, "cannot load the resource library\n");
        return false;
    }
    AfxSetResourceHandle(resources);
    platform::testing::ScriptedResponder responder;  // a box would fail the run, not block it
    bool ran = false;
    {
        apptest::TestDlg dlg;
        dlg.body = [&](apptest::TestDlg& d) {
            ran = true;
            body(d);
        };
        dlg.DoModal();
    }
    for (const auto& box : responder.boxes())
        std::fprintf(stderr, "message box: %s\n", box.text.c_str());
    AfxSetResourceHandle(nullptr);
    FreeLibrary(resources);
    return ran && responder.boxes().empty();
}

// --engine URL SIZE SPLIT TARGET SANDBOX REPORT
int EngineMain(char** argv) {
    const std::string url = argv[0];
    const DWORD size = static_cast<DWORD>(std::strtoull(argv[1], nullptr, 10));
    const int split = std::atoi(argv[2]);
    const std::string target = argv[3];
    double complete = -1, finished = -1;
    int status = -1;
    const bool ran = RunDialog(argv[4], [&](apptest::TestDlg& dlg) {
        apptest::PrepareDownload(dlg, url, split, "", target);
        const auto start = Clock::now();
        dlg.OnBnClickedAction();
        // The progress tick takes the full size as completion and then waits for the worker,
        // so the file's last byte is seen here, between two turns of the queue (at most 10 ms
        // apart), or else within the turn in which the tick saw it.
        auto lastLook = start;
        platform::testing::PumpUntil(
            [&] {
                const auto now = Clock::now();
                const bool gone = dlg.m_pDLInfo == NULL &&
                                  dlg.m_nStatus != CZELVDownloaderDlg::STATUS_DOWNLOADING;
                if (complete < 0 && (gone || WrittenBytes(dlg, split) == size))
                    complete = Seconds((gone ? lastLook : now) - start);
                lastLook = now;
                return dlg.m_nStatus != CZELVDownloaderDlg::STATUS_DOWNLOADING &&
                       dlg.m_nLiveWorkers.load() == 0;
            },
            (kChildTimeoutSeconds - 20) * 1000);
        finished = Seconds(Clock::now() - start);
        status = dlg.m_nStatus.load();
    });
    std::ofstream report(argv[5]);
    report << "complete=" << complete << " finished=" << finished << " status=" << status << "\n";
    return ran && status == CZELVDownloaderDlg::STATUS_FINISHED ? 0 : 1;
}

// Nanoseconds on a CPU of each thread of this process, by role and thread id.
std::map<std::string, double> ThreadCpu() {
    std::map<std::string, double> cpu;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream sched(entry.path() / "schedstat");
        double ns = 0;
        sched >> ns;
        const std::string tid = entry.path().filename().string();
        cpu[(tid == std::to_string(getpid()) ? "interface" : "other") + std::string("/") + tid] =
            ns;
    }
    return cpu;
}

// --stall URL SECONDS SANDBOX REPORT: starts a download whose server stops sending, waits until
// the bytes stop, then measures the process over the window.
int StallMain(char** argv) {
    const std::string url = argv[0];
    const int window = std::atoi(argv[1]);
    const std::string sandbox = argv[2];
    std::ostringstream out;
    const bool ran = RunDialog(sandbox, [&](apptest::TestDlg& dlg) {
        apptest::PrepareDownload(dlg, url, kLimitedConnections, "", sandbox + "/stalled.bin");
        dlg.OnBnClickedAction();
        DWORD seen = 0;
        auto since = Clock::now();
        platform::testing::PumpUntil(
            [&] {
                const DWORD now = WrittenBytes(dlg, kLimitedConnections);
                if (now != seen || now == 0) {
                    seen = now;
                    since = Clock::now();
                }
                return Clock::now() - since > std::chrono::seconds(1);
            },
            10000);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const auto threadsBefore = ThreadCpu();
        const auto start = Clock::now();
        platform::testing::PumpFor(window * 1000);
        const double wall = Seconds(Clock::now() - start);
        getrusage(RUSAGE_SELF, &after);
        const auto threadsAfter = ThreadCpu();
        const double cpu = TimevalSeconds(after.ru_utime) - TimevalSeconds(before.ru_utime) +
                           TimevalSeconds(after.ru_stime) - TimevalSeconds(before.ru_stime);
        out << "written=" << WrittenBytes(dlg, kLimitedConnections) << " wall=" << wall
            << " cpu=" << cpu
            << " downloading=" << (dlg.m_nStatus == CZELVDownloaderDlg::STATUS_DOWNLOADING);
        for (const auto& [thread, ns] : threadsAfter) {
            const auto it = threadsBefore.find(thread);
            const double used = (ns - (it == threadsBefore.end() ? 0 : it->second)) / 1e9;
            if (used > 0.0005)
                out << " thread:" << thread << "=" << used;
        }
        out << "\n";
    });
    std::ofstream(argv[3]) << out.str();
    std::fflush(nullptr);
    // The server holds the stalled connections; nothing is left to tidy in this child.
    _exit(ran ? 0 : 1);
}

// ---------------------------------------------------------------------------------------------
// The bench side.

struct Outcome {
    bool ran = false;  // started, ended by itself with status 0 within the bound
    double wall = 0;
    double user = 0, sys = 0;
    long peakKiB = 0;
};

// The high-water mark of a running process's resident set, 0 once it has ended.
long PeakKiBOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

// Runs argv[0] (a full path) to its end, output appended to `log`, bounded.
Outcome RunChild(const std::vector<std::string>& args, const std::string& log) {
    Outcome outcome;
    fixtures::ChildOptions options;
    options.argv = args;
    options.outputPath = log;
    // As any program starts another: in this one's group, and left alone when this one ends.
    options.ownProcessGroup = false;
    options.dieWithTest = false;
    fixtures::ChildProcess child;
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const auto start = Clock::now();
    std::string error;
    if (!child.Start(options, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return outcome;
    }
    long polledKiB = 0;
    auto nextPoll = start;
    const auto probe = [&](pid_t pid) {
        if (Clock::now() >= nextPoll) {
            polledKiB = std::max(polledKiB, PeakKiBOf(pid));
            nextPoll = Clock::now() + std::chrono::milliseconds(10);
        }
    };
    if (!child.WaitForExit(std::chrono::seconds(kChildTimeoutSeconds),
                           std::chrono::microseconds(500), probe)) {
        child.Kill();
        std::fprintf(stderr, "%s did not end within %d s\n", args[0].c_str(), kChildTimeoutSeconds);
        return outcome;
    }
    outcome.wall = Seconds(Clock::now() - start);
    const int status = child.status();
    const rusage& usage = child.usage();
    outcome.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.user = TimevalSeconds(usage.ru_utime);
    outcome.sys = TimevalSeconds(usage.ru_stime);
    // A child's high-water mark starts at this process's size, which it took over before its
    // exec; only a higher one is its own.
    outcome.peakKiB = usage.ru_maxrss > self.ru_maxrss ? usage.ru_maxrss : polledKiB;
    return outcome;
}

struct Row {
    std::string scenario, name;
    std::uint64_t size = 0;
    Outcome outcome;
    bool verified = false;
    double verify = -1;    // ours: the digest of the file, timed apart
    double finished = -1;  // ours: start command to the finished state
};

Row NewRow(const std::string& scenario, const std::string& name, std::uint64_t size) {
    Row row;
    row.scenario = scenario;
    row.name = name;
    row.size = size;
    return row;
}

class Bench {
  public:
    Bench(std::string self, std::string work) : self_(std::move(self)), work_(std::move(work)) {}

    Row Ours(const std::string& scenario, const std::string& url, const std::string& file,
             std::uint64_t size, int split) {
        Row row = NewRow(scenario, "ours -" + std::to_string(split), size);
        const std::string target = work_ + "/out/" + file;
        const std::string report = work_ + "/report.txt";
        std::remove(report.c_str());
        row.outcome = RunChild({self_, "--engine", url, std::to_string(size), std::to_string(split),
                                target, Sandbox(), report},
                               work_ + "/ours.log");
        const auto values = ReadReport(report);
        row.outcome.wall = Number(values, "complete");
        row.finished = Number(values, "finished");
        Check(row, target, true);
        return row;
    }

    Row Tool(const std::string& scenario, const std::string& name,
             const std::vector<std::string>& args, const std::string& target, std::uint64_t size) {
        Row row = NewRow(scenario, name, size);
        row.outcome = RunChild(args, work_ + "/tools.log");
        Check(row, target, false);
        return row;
    }

    void Expect(const std::string& file, std::string md5) { md5_[file] = std::move(md5); }

    std::string Sandbox() { return work_ + "/sandbox-" + std::to_string(++sandboxes_); }

  private:
    void Check(Row& row, const std::string& target, bool timed) {
        double seconds = 0;
        const std::string name = std::filesystem::path(target).filename().string();
        const std::string md5 = Md5OfFile(target, &seconds);
        row.verified = row.outcome.ran && !md5.empty() && md5 == md5_[name];
        if (timed)
            row.verify = seconds;
        if (!row.verified)
            std::fprintf(stderr, "%s (%s): the file is not right (md5 %s)\n", row.name.c_str(),
                         row.scenario.c_str(), md5.empty() ? "none" : md5.c_str());
        std::remove(target.c_str());
    }

    std::string self_, work_;
    std::map<std::string, std::string> md5_;
    int sandboxes_ = 0;
};

void PrintTable(const std::vector<Row>& rows) {
    std::printf("\n%-12s %-16s %8s %8s %8s %8s %9s %9s %9s %s\n", "scenario", "contender", "wall s",
                "MB/s", "user s", "sys s", "CPU s/GiB", "peak MiB", "verify s", "finished s");
    for (const Row& r : rows) {
        const double cpu = r.outcome.user + r.outcome.sys;
        const double gib = static_cast<double>(r.size) / (1024.0 * kMiB);
        char verify[32] = "-", finished[32] = "-";
        if (r.verify >= 0)
            std::snprintf(verify, sizeof verify, "%.3f", r.verify);
        if (r.finished >= 0)
            std::snprintf(finished, sizeof finished, "%.3f", r.finished);
        std::printf("%-12s %-16s %8.3f %8.1f %8.3f %8.3f %9.3f %9.1f %9s %s%s\n",
                    r.scenario.c_str(), r.name.c_str(), r.outcome.wall,
                    r.size / r.outcome.wall / 1e6, r.outcome.user, r.outcome.sys, cpu / gib,
                    r.outcome.peakKiB / 1024.0, verify, finished,
                    r.verified ? "" : "  FAILED (not counted)");
    }
}

const Row* Find(const std::vector<Row>& rows, const std::string& scenario,
                const std::string& name) {
    for (const Row& r : rows) {
        if (r.scenario == scenario && r.name == name && r.verified)
            return &r;
    }
    return nullptr;
}

void PrintStall(const std::map<std::string, std::string>& report) {
    const double wall = Number(report, "wall");
    const double cpu = Number(report, "cpu");
    if (wall <= 0 || cpu < 0 || report.count("downloading") == 0 ||
        report.at("downloading") != "1") {
        std::printf("\nstalled download: no measurement (the download did not stay stalled)\n");
        return;
    }
    std::printf(
        "\nstalled download (%.0f bytes in, then 4 connections silent), %.1f s: %.2f %% "
        "of a core (goal <= 2 %%)\n",
        Number(report, "written"), wall, cpu * 100 / wall);
    for (const auto& [key, value] : report) {
        if (key.rfind("thread:", 0) == 0)
            std::printf("  thread %-24s %6.2f %%\n", key.substr(7).c_str(),
                        std::atof(value.c_str()) * 100 / wall);
    }
}

std::map<std::string, std::string> MeasureStall(const std::string& self, Bench& bench,
                                                const std::string& work) {
    fixtures::FaultServer server;
    server.AddFile("/stalled.bin", fixtures::PatternBytes(4 * kMiB, 3));
    server.AddFault("/stalled.bin", fixtures::Fault::StallAfter(64 * 1024).HoldFor(
                                        std::chrono::seconds(kStallSeconds + 30)));
    const std::string report = work + "/stall.txt";
    RunChild({self, "--stall", server.Url("/stalled.bin"), std::to_string(kStallSeconds),
              bench.Sandbox(), report},
             work + "/ours.log");
    server.Stop();
    return ReadReport(report);
}

int BenchMain(const std::string& self, const std::string& parent) {
    std::string why;
    for (const char* tool : {"/usr/bin/aria2c", "/usr/bin/axel", "/usr/bin/curl"}) {
        if (access(tool, X_OK) != 0) {
            std::fprintf(stderr, "missing %s\n", tool);
            return 2;
        }
    }
    if (!fixtures::NginxServer::Available(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 2;
    }
    std::string pattern = parent + "/throughput-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a folder in %s\n", parent.c_str());
        return 2;
    }
    const std::string work = pattern;
    struct statvfs fs {};
    // The two served files, one download at a time, and room to spare.
    const std::uint64_t needed = kBigSize + kLimitedSize + kBigSize + 512 * kMiB;
    if (statvfs(work.c_str(), &fs) != 0 ||
        static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < needed) {
        std::fprintf(stderr, "%s needs %llu MiB free\n", work.c_str(),
                     static_cast<unsigned long long>(needed / kMiB));
        std::filesystem::remove_all(work);
        return 2;
    }
    std::filesystem::create_directories(work + "/out");

    fixtures::NginxServer::Options options;
    options.limitedRate = kLimitedRate;
    fixtures::NginxServer nginx(work + "/nginx", options);
    if (!nginx.Start(&why)) {
        std::fprintf(stderr, "nginx: %s\n", why.c_str());
        std::filesystem::remove_all(work);
        return 2;
    }
    Bench bench(self, work);
    const std::string big = "big.bin", limited = "limited.bin";
    for (const auto& [name, size] : {std::pair{big, kBigSize}, std::pair{limited, kLimitedSize}}) {
        const std::string path = nginx.root() + "/" + name;
        if (!bench::MakeRandomFile(path, size, size)) {
            std::fprintf(stderr, "cannot make %s\n", path.c_str());
            nginx.Stop();
            std::filesystem::remove_all(work);
            return 2;
        }
        bench.Expect(name, Md5OfFile(path, nullptr));  // also warms the page cache for nginx
    }
    std::printf("files in %s; nginx on 127.0.0.1:%d; limited rate %ld B/s per connection\n",
                work.c_str(), nginx.port(), kLimitedRate);

    std::vector<Row> rows;
    const auto tools = [&](const std::string& scenario, const std::string& url,
                           const std::string& file, std::uint64_t size) {
        const std::string out = work + "/out";
        const std::string target = out + "/" + file;
        const std::vector<std::string> aria = {"/usr/bin/aria2c",
                                               "-x4",
                                               "-s4",
                                               "--no-conf",
                                               "-q",
                                               "--allow-overwrite=true",
                                               "--auto-file-renaming=false",
                                               "-d",
                                               out,
                                               "-o",
                                               file,
                                               url};
        rows.push_back(bench.Tool(scenario, "aria2c -x4 -s4", aria, target, size));
        // Its default allocation writes the whole file before the download; without it, it
        // makes a sparse file as ours does.
        std::vector<std::string> sparse = aria;
        sparse.insert(sparse.begin() + 3, "--file-allocation=none");
        rows.push_back(bench.Tool(scenario, "aria2c (sparse)", sparse, target, size));
        rows.push_back(bench.Tool(scenario, "axel -n 4",
                                  {"/usr/bin/axel", "-n", "4", "-q", "-o", target, url}, target,
                                  size));
        rows.push_back(bench.Tool(scenario, "curl",
                                  {"/usr/bin/curl", "-s", "-S", "-o", target, url}, target, size));
    };
    const std::string unthrottled = "1 GiB", rated = "200 MiB@20";
    rows.push_back(bench.Ours(unthrottled, nginx.fileUrl(big), big, kBigSize, 4));
    rows.push_back(bench.Ours(unthrottled, nginx.fileUrl(big), big, kBigSize, 12));
    tools(unthrottled, nginx.fileUrl(big), big, kBigSize);
    rows.push_back(
        bench.Ours(rated, nginx.limitedUrl(limited), limited, kLimitedSize, kLimitedConnections));
    tools(rated, nginx.limitedUrl(limited), limited, kLimitedSize);
    nginx.Stop();
    const auto stall = MeasureStall(self, bench, work);
    std::filesystem::remove_all(work);

    PrintTable(rows);
    const double ideal = static_cast<double>(kLimitedSize) / (kLimitedRate * kLimitedConnections);
    std::printf(
        "\nwall: start command to the complete file (ours: all bytes written; the tools: "
        "their exit)\n"
        "CPU: the whole child process (wait4); peak RSS: its VmHWM\n"
        "verify: CMd5Checksum of ours' file, apart from the wall time\n"
        "finished: ours from the start command to the finished state (the file synced, "
        "the worker ended)\n");
    const Row* ours = Find(rows, unthrottled, "ours -4");
    const Row* oursLimited = Find(rows, rated, "ours -4");
    const Row* aria = Find(rows, unthrottled, "aria2c -x4 -s4");
    const Row* ariaLimited = Find(rows, rated, "aria2c -x4 -s4");
    if (oursLimited != nullptr)
        std::printf("limited: ideal %.2f s, ours %.3f s = %.3f x ideal (goal <= 1.05)\n", ideal,
                    oursLimited->outcome.wall, oursLimited->outcome.wall / ideal);
    long peak = 0;
    for (const Row& r : rows) {
        if (r.name.rfind("ours", 0) == 0)
            peak = std::max(peak, r.outcome.peakKiB);
    }
    std::printf("ours peak RSS: %.1f MiB (goal <= 60)\n", peak / 1024.0);
    if (ours != nullptr && aria != nullptr) {
        const auto perGiB = [](const Row& r) {
            return (r.outcome.user + r.outcome.sys) / (r.size / (1024.0 * kMiB));
        };
        std::printf(
            "CPU per GiB, unthrottled: ours -4 %.3f s, aria2c %.3f s (goal: ours <= "
            "aria2c)\n",
            perGiB(*ours), perGiB(*aria));
    }
    PrintStall(stall);
    const auto ratio = [](const Row* a, const Row* b) {
        char text[32] = "n/a";
        if (a != nullptr && b != nullptr)
            std::snprintf(text, sizeof text, "%.3f", a->outcome.wall / b->outcome.wall);
        return std::string(text);
    };
    std::printf("ours/aria2c wall ratio: %s (unthrottled) %s (limited)\n",
                ratio(ours, aria).c_str(), ratio(oursLimited, ariaLimited).c_str());
    bool all = true;
    for (const Row& r : rows)
        all = all && r.verified;
    return all ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::strcmp(argv[1], "--engine") == 0)
        return EngineMain(argv + 2);
    if (argc == 6 && std::strcmp(argv[1], "--stall") == 0)
        return StallMain(argv + 2);
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: %s [work folder, default $TMPDIR or /tmp]\n", argv[0]);
        return 2;
    }
    // Every contender goes straight to the server.
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        unsetenv(name);
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return BenchMain(self, argc == 2 ? argv[1] : platform::TempFolder());
}
