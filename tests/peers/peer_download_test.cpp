// Whole downloads through the engine against real peers: nginx (plain, rate-limited, HTTPS with
// a certificate nobody trusts) and squid in front of it with Basic and Digest authentication.
// What the peers logged is checked beside the file: the engine's requests are the ones it
// means to send.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/dl_info.h"
#include "platform/kernel/clock.h"
#include "platform/registry/registry.h"
#include "support/app/engine_fixture.h"
#include "support/child_process.h"
#include "support/fault_server.h"  // PatternBytes
#include "support/nginx_server.h"
#include "support/platform/test_seams.h"
#include "support/squid_proxy.h"

namespace apptest {
namespace {

using fixtures::NginxServer;
using fixtures::SquidProxy;

// Every click of the main button comes a second after the previous one, so that no click is
// taken for a double click. The count goes on over the tests: the button's filter keeps the
// last click for the whole process.
class SpacedTicks : public platform::TickSource {
  public:
    DWORD Now() override { return 1000000u + 1000u * ++calls_; }

  private:
    static inline DWORD calls_ = 0;
};

// One request as nginx logged it.
struct Logged {
    std::string method;
    std::string path;
    int status = 0;
    std::string range;  // the Range header, "-" when none
    long rate = 0;
    long conn = 0;
    std::string via;
};

std::vector<Logged> ParseNginxLog(const std::string& text) {
    static const std::regex format(R"re(\S+ "(\S+) (\S+) [^"]*" (\d+) \d+ range="([^"]*)" )re"
                                   R"re(rate=(\d+) conn=(\d+) req=\d+ via="([^"]*)")re");
    std::vector<Logged> requests;
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, m, format))
            continue;
        requests.push_back(
            {m[1], m[2], std::stoi(m[3]), m[4], std::stol(m[5]), std::stol(m[6]), m[7]});
    }
    return requests;
}

// The ranges a download of `size` bytes over `split` connections asks for, in order.
std::vector<std::string> ExpectedRanges(size_t size, int split) {
    const size_t chunk = size / static_cast<size_t>(split);
    std::vector<std::string> ranges;
    for (int i = 0; i < split; ++i) {
        const size_t first = static_cast<size_t>(i) * chunk;
        ranges.push_back("bytes=" + std::to_string(first) + "-" +
                         (i < split - 1 ? std::to_string(first + chunk - 1) : ""));
    }
    return ranges;
}

class PeerDownloadTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::string why;
        if (!NginxServer::Available(&why))
            GTEST_SKIP() << why;
        platform::SetTickSource(&ticks_);
        bytes_ = fixtures::PatternBytes(kSize, 11);
    }
    void TearDown() override {
        platform::SetTickSource(nullptr);
        EngineTest::TearDown();
    }

    void StartNginx(NginxServer::Options options = NginxServer::Options()) {
        nginx_ = std::make_unique<NginxServer>(sandbox_.Path("nginx"), options);
        std::string error;
        ASSERT_TRUE(nginx_->Start(&error)) << error;
        ASSERT_TRUE(nginx_->WriteFile(kName, bytes_));
    }

    // Some seconds for the whole file under kLimited: time to pause.
    void StartSlowNginx() {
        NginxServer::Options options;
        options.limitedRate = 64 * 1024;
        StartNginx(options);
    }

    // The GET requests nginx logged for `path`, once at least `count` are there (bounded: the
    // line is written just after the answer went out).
    std::vector<Logged> NginxGets(const std::string& path, size_t count) const {
        std::vector<Logged> gets;
        platform::testing::PumpUntil(
            [&] {
                gets.clear();
                for (const Logged& r :
                     ParseNginxLog(fixtures::Sandbox::ReadFile(nginx_->accessLog())))
                    if (r.method == "GET" && r.path == path)
                        gets.push_back(r);
                return gets.size() >= count;
            },
            5000);
        return gets;
    }

    // Shows the dialog, so that its controls' visibility counts, with the proxy link hidden.
    static void ShowWithoutProxyLink(TestDlg& dlg) {
        dlg.ShowWindow(SW_SHOW);
        dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->ShowWindow(SW_HIDE);
    }
    static bool ProxyLinkShown(TestDlg& dlg) {
        return dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->IsWindowVisible() != FALSE;
    }

    // Starts with the main button and pumps until the download has settled; the final state.
    int Download(TestDlg& dlg, const std::string& url, int split) {
        Prepare(dlg, url, split, Md5Of(bytes_));
        ShowWithoutProxyLink(dlg);
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 120000));
        return dlg.m_nStatus;
    }

    // A probe that fails: back to a new start with the proxy link shown and nothing written.
    void ExpectRefusedStart(TestDlg& dlg, const std::string& url) {
        Prepare(dlg, url, 4, Md5Of(bytes_));
        ShowWithoutProxyLink(dlg);
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 60000));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        EXPECT_TRUE(ProxyLinkShown(dlg)) << "the way to the proxy settings is offered";
        EXPECT_FALSE(fixtures::Sandbox::Exists(target_)) << "nothing written";
    }

    std::vector<std::string> Boxes(size_t from) const {
        std::vector<std::string> texts;
        const auto boxes = responder_.boxes();
        for (size_t i = from; i < boxes.size(); ++i)
            texts.push_back(boxes[i].caption + " | " + boxes[i].text);
        return texts;
    }

    static constexpr const char* kName = "setup.exe";
    static constexpr size_t kSize = 1048576 + 3;  // no split divides it
    SpacedTicks ticks_;
    std::string bytes_;
    std::unique_ptr<NginxServer> nginx_;
};

TEST_F(PeerDownloadTest, EverySplitGivesTheExactFileWithOneRangedRequestPerConnection) {
    constexpr long kRate = 512 * 1024;
    NginxServer::Options options;
    options.limitedRate = kRate;
    ASSERT_NO_FATAL_FAILURE(StartNginx(options));
    struct Case {
        const char* prefix;
        int split;
        long rate;  // as nginx logs it: 0 for none
    };
    const Case cases[] = {
        {NginxServer::kFiles, 1, 0},
        {NginxServer::kFiles, 4, 0},
        {NginxServer::kFiles, 12, 0},
        {NginxServer::kLimited, 4, kRate},
    };
    for (const Case& c : cases) {
        const std::string path = c.prefix + std::string(kName);
        SCOPED_TRACE(path + " split " + std::to_string(c.split));
        std::remove(target_.c_str());
        const size_t before = NginxGets(path, 0).size();  // of earlier cases
        int status = -1;
        std::string statusLine;
        bool linkShown = true;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            status = Download(dlg, nginx_->url(path), c.split);
            statusLine = dlg.Text(IDC_STATIC_STATUS);
            linkShown = ProxyLinkShown(dlg);
        }));
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, status);
        EXPECT_EQ(Res(IDS_DOWNLOAD_VERIFIED), statusLine);
        EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";
        EXPECT_FALSE(linkShown);

        std::vector<Logged> gets = NginxGets(path, before + static_cast<size_t>(c.split));
        gets.erase(gets.begin(), gets.begin() + static_cast<long>(std::min(before, gets.size())));
        ASSERT_EQ(static_cast<size_t>(c.split), gets.size())
            << fixtures::FileTail(nginx_->accessLog());
        std::multiset<std::string> ranges;
        std::set<long> connections;
        for (const Logged& r : gets) {
            EXPECT_EQ(206, r.status) << r.range;
            EXPECT_EQ(c.rate, r.rate) << r.range;
            ranges.insert(r.range);
            connections.insert(r.conn);
        }
        const std::vector<std::string> expected = ExpectedRanges(kSize, c.split);
        EXPECT_EQ(std::multiset<std::string>(expected.begin(), expected.end()), ranges);
        EXPECT_EQ(gets.size(), connections.size()) << "one ranged request per connection";
    }
}

// Reads the saved progress of connection `index`; false when its key or values are missing.
bool SavedConnection(int index, DWORD* start, DWORD* written) {
    HKEY key = nullptr;
    const std::string path =
        "SOFTWARE\\Corvantis\\Downloader\\Progress\\Connect" + std::to_string(index);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof(DWORD);
    bool ok = RegQueryValueExA(key, "StartRange", nullptr, nullptr, reinterpret_cast<BYTE*>(start),
                               &size) == ERROR_SUCCESS;
    size = sizeof(DWORD);
    ok = ok && RegQueryValueExA(key, "WrittenBytes", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(written), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

TEST_F(PeerDownloadTest, APauseSavesWhatIsOnDiskAndTheResumeAsksForTheRest) {
    constexpr int kSplit = 4;
    ASSERT_NO_FATAL_FAILURE(StartSlowNginx());
    const std::string path = NginxServer::kLimited + std::string(kName);
    const size_t chunk = kSize / kSplit;
    std::vector<DWORD> saved(kSplit, 0);
    int finalStatus = -1;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, nginx_->url(path), kSplit, Md5Of(bytes_));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_DOWNLOADING, dlg.m_nStatus.load());
        const bool flowing = platform::testing::PumpUntil(
            [&] {
                for (int i = 0; i < kSplit; ++i)
                    if (dlg.m_pDLInfo[i].dwWrittenBytes.load() == 0)
                        return false;
                return true;
            },
            30000);
        EXPECT_TRUE(flowing) << "every connection got bytes";

        dlg.OnBnClickedAction();
        if (!flowing)
            return;  // paused: no worker is left behind
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(0, dlg.m_nLiveWorkers.load()) << "the pause waits for the worker";
        const std::string onDisk = TargetBytes();
        ASSERT_EQ(kSize, onDisk.size());
        for (int i = 0; i < kSplit; ++i) {
            SCOPED_TRACE("connection " + std::to_string(i));
            DWORD start = 0;
            ASSERT_TRUE(SavedConnection(i, &start, &saved[i]));
            EXPECT_EQ(i * chunk, start);
            EXPECT_GT(saved[i], 0u);
            EXPECT_LT(saved[i], i < kSplit - 1 ? chunk : kSize - start) << "paused, not done";
            EXPECT_TRUE(onDisk.compare(start, saved[i], bytes_, start, saved[i]) == 0)
                << "a saved count covers only bytes on the disk";
        }

        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 120000));
        finalStatus = dlg.m_nStatus;
    }));
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus);
    EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";

    // The resumed run asked each connection's range from where the saved count ends.
    const std::vector<Logged> gets = NginxGets(path, 2 * kSplit);
    ASSERT_EQ(2u * kSplit, gets.size()) << fixtures::FileTail(nginx_->accessLog());
    std::multiset<std::string> resumed;
    for (size_t i = kSplit; i < gets.size(); ++i)
        resumed.insert(gets[i].range);
    std::multiset<std::string> expected;
    for (int i = 0; i < kSplit; ++i) {
        const size_t from = i * chunk + saved[i];
        expected.insert("bytes=" + std::to_string(from) + "-" +
                        (i < kSplit - 1 ? std::to_string((i + 1) * chunk - 1) : ""));
    }
    EXPECT_EQ(expected, resumed);
}

// nginx's own validator and If-Range: a file replaced by another of the same size while the
// download was paused is fetched again from zero, never joined to the bytes already held.
TEST_F(PeerDownloadTest, AFileReplacedWhilePausedIsFetchedAgainFromZero) {
    constexpr int kSplit = 4;
    ASSERT_NO_FATAL_FAILURE(StartSlowNginx());
    const std::string path = NginxServer::kLimited + std::string(kName);
    const std::string replaced = fixtures::PatternBytes(kSize, 12);
    int finalStatus = -1;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, nginx_->url(path), kSplit, Md5Of(replaced));
        dlg.OnBnClickedAction();
        ASSERT_TRUE(platform::testing::PumpUntil([&] { return Written(dlg) > 0; }, 30000));
        dlg.OnBnClickedAction();
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        // nginx's ETag is the file's time and size: the new file is an hour younger.
        ASSERT_TRUE(nginx_->WriteFile(kName, replaced));
        const std::string served = nginx_->root() + "/" + kName;
        std::filesystem::last_write_time(
            served, std::filesystem::last_write_time(served) + std::chrono::hours(1));
        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 120000));
        finalStatus = dlg.m_nStatus;
    }));
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, finalStatus);
    EXPECT_TRUE(TargetBytes() == replaced) << "byte for byte the new file";
    EXPECT_TRUE(LogHas("every range starts again from zero"));

    // After the first run's ranges: the resumed ones answered with the whole file, then every
    // range again from its first byte.
    std::vector<Logged> gets;
    std::multiset<std::string> again;
    size_t whole = 0;
    platform::testing::PumpUntil(
        [&] {
            gets = NginxGets(path, kSplit);
            again.clear();
            whole = 0;
            for (size_t i = kSplit; i < gets.size(); ++i) {
                if (gets[i].status == 206)
                    again.insert(gets[i].range);
                whole += gets[i].status == 200 ? 1 : 0;
            }
            return again.size() >= static_cast<size_t>(kSplit);
        },
        10000);
    const auto ranges = ExpectedRanges(kSize, kSplit);
    EXPECT_EQ(std::multiset<std::string>(ranges.begin(), ranges.end()), again)
        << fixtures::FileTail(nginx_->accessLog());
    EXPECT_GT(whole, 0u);
}

TEST_F(PeerDownloadTest, AnUntrustedCertificateFailsTheProbeWithTheTlsError) {
    NginxServer::Options options;
    options.https = true;
    ASSERT_NO_FATAL_FAILURE(StartNginx(options));
    const std::string url = nginx_->httpsUrl(NginxServer::kFiles + std::string(kName));
    const size_t boxesBefore = responder_.boxes().size();
    std::string statusLine;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        ExpectRefusedStart(dlg, url);
        statusLine = dlg.Text(IDC_STATIC_STATUS);
    }));
    EXPECT_EQ(CZELVDownloaderDlg::GetCurlErrorText(CURLE_PEER_FAILED_VERIFICATION).GetString(),
              statusLine);
    EXPECT_EQ(std::vector<std::string>{Res(IDS_ERROR_CAPTION) + " | " +
                                       FormatText(IDS_DOWNLOAD_FAILED, url.c_str()).GetString()},
              Boxes(boxesBefore));
    EXPECT_EQ(0, fixtures::CountLinesWith(fixtures::Sandbox::ReadFile(nginx_->accessLog()), "GET "))
        << "no transfer started";
}

// Downloads through squid in front of nginx, for each scheme of proxy authentication.
class ProxiedDownloadTest : public PeerDownloadTest,
                            public ::testing::WithParamInterface<SquidProxy::Auth> {
  protected:
    void SetUp() override {
        PeerDownloadTest::SetUp();
        if (IsSkipped())
            return;
        std::string why;
        if (!SquidProxy::Available(GetParam(), &why))
            GTEST_SKIP() << why;
        ASSERT_NO_FATAL_FAILURE(StartNginx());
        SquidProxy::Options options;
        options.auth = GetParam();
        squid_ = std::make_unique<SquidProxy>(sandbox_.Path("squid"), options);
        std::string error;
        ASSERT_TRUE(squid_->Start(&error)) << error;
        url_ = nginx_->fileUrl(kName);
    }

    void UseProxy(TestDlg& dlg, const std::string& password) const {
        dlg.m_strProxy = squid_->proxy().c_str();
        dlg.m_strProxyUser = squid_->user().c_str();
        dlg.m_strProxyPassword = password.c_str();
    }

    std::unique_ptr<SquidProxy> squid_;
    std::string url_;
};

TEST_P(ProxiedDownloadTest, TheRightCredentialsDownloadThroughTheProxy) {
    constexpr int kSplit = 4;
    int status = -1;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        UseProxy(dlg, squid_->password());
        status = Download(dlg, url_, kSplit);
    }));
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, status);
    EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";

    // squid let each request through under the user's name, and nginx got them from squid.
    const std::string asUser = " GET " + url_ + " " + squid_->user() + " ";
    EXPECT_TRUE(
        fixtures::WaitForFileContaining(squid_->accessLog(), asUser, std::chrono::seconds(5)));
    EXPECT_EQ(kSplit,
              fixtures::CountLinesWith(fixtures::Sandbox::ReadFile(squid_->accessLog()), asUser))
        << fixtures::FileTail(squid_->accessLog());
    EXPECT_EQ(1, fixtures::CountLinesWith(fixtures::Sandbox::ReadFile(squid_->accessLog()),
                                          " HEAD " + url_ + " " + squid_->user() + " "));
    const std::vector<Logged> gets = NginxGets(NginxServer::kFiles + std::string(kName), kSplit);
    ASSERT_EQ(static_cast<size_t>(kSplit), gets.size());
    std::multiset<std::string> ranges;
    for (const Logged& r : gets) {
        EXPECT_NE(std::string::npos, r.via.find("squid")) << r.via;
        ranges.insert(r.range);
    }
    const std::vector<std::string> expected = ExpectedRanges(kSize, kSplit);
    EXPECT_EQ(std::multiset<std::string>(expected.begin(), expected.end()), ranges);

    EXPECT_EQ(std::string::npos, Log().find(squid_->password())) << "the password stays out";
}

TEST_P(ProxiedDownloadTest, AWrongPasswordFailsTheProbeClearly) {
    const std::string wrong = "wr0ng-Guess";
    std::string statusLine;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        UseProxy(dlg, wrong);
        ExpectRefusedStart(dlg, url_);
        statusLine = dlg.Text(IDC_STATIC_STATUS);
    }));
    // String 151 with the code, then the proxy's status line.
    const std::string said = FormatText(IDS_HTTP_STATUS_ERROR, 407, "").GetString();
    EXPECT_EQ(said, statusLine.substr(0, said.size())) << statusLine;
    EXPECT_NE(std::string::npos, statusLine.find("HTTP/1.1 407 ")) << statusLine;
    EXPECT_TRUE(fixtures::WaitForFileContaining(squid_->accessLog(), "TCP_DENIED/407",
                                                std::chrono::seconds(5)));
    EXPECT_EQ("", fixtures::Sandbox::ReadFile(nginx_->accessLog())) << "nothing got past squid";
    EXPECT_EQ(std::string::npos, Log().find(wrong)) << "the password stays out";
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProxiedDownloadTest,
                         ::testing::Values(SquidProxy::Auth::Basic, SquidProxy::Auth::Digest),
                         [](const ::testing::TestParamInfo<SquidProxy::Auth>& info) {
                             return info.param == SquidProxy::Auth::Basic ? "Basic" : "Digest";
                         });

}  // namespace
}  // namespace apptest
