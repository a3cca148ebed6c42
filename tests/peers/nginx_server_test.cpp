#include "support/nginx_server.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "support/http_client.h"
#include "support/sandbox.h"

namespace fixtures {
namespace {

class NginxServerTest : public SandboxTest {
  protected:
    void SetUp() override {
        std::string why;
        if (!NginxServer::Available(&why))
            GTEST_SKIP() << why;
    }

    // A started server with `a.bin` in its root.
    static NginxServer::Options Options(long limitedRate, bool https) {
        NginxServer::Options options;
        options.limitedRate = limitedRate;
        options.https = https;
        return options;
    }

    void StartServer(NginxServer::Options options = NginxServer::Options()) {
        server_ = std::make_unique<NginxServer>(sandbox_.Path("nginx"), options);
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        ASSERT_TRUE(server_->WriteFile("a.bin", content_));
    }

    const std::string content_ = PatternBytes(100000);
    std::unique_ptr<NginxServer> server_;
};

TEST_F(NginxServerTest, ServesWholeFilesAndByteRanges) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    struct Case {
        const char* range;
        long status;
        size_t first;  // of the expected body in content_
        size_t length;
        const char* contentRange;
    };
    const Case cases[] = {
        {"", 200, 0, 100000, ""},
        {"0-99", 206, 0, 100, "bytes 0-99/100000"},
        {"65536-65636", 206, 65536, 101, "bytes 65536-65636/100000"},
        {"99990-", 206, 99990, 10, "bytes 99990-99999/100000"},
        {"-7", 206, 99993, 7, "bytes 99993-99999/100000"},
        {"99990-200000", 206, 99990, 10, "bytes 99990-99999/100000"},
        {"100000-", 416, 0, 0, "bytes */100000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("range '") + c.range + "'");
        const HttpResponse got = Fetch(HttpRequest(server_->fileUrl("a.bin")).Range(c.range));
        ASSERT_EQ(got.code, CURLE_OK) << got.error;
        EXPECT_EQ(got.status, c.status);
        // nginx announces ranges on whole answers only.
        EXPECT_EQ(got.header("accept-ranges"), c.status == 200 ? "bytes" : "");
        EXPECT_EQ(got.header("content-range"), c.contentRange);
        if (c.status != 416) {
            EXPECT_EQ(got.body, content_.substr(c.first, c.length));
        }
    }
}

TEST_F(NginxServerTest, HeadGivesSizeAndRangeSupportWithoutBody) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const HttpResponse got = Fetch(HttpRequest(server_->fileUrl("a.bin")).Head());
    ASSERT_EQ(got.code, CURLE_OK) << got.error;
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.header("content-length"), "100000");
    EXPECT_EQ(got.header("accept-ranges"), "bytes");
    EXPECT_EQ(got.body, "");
}

TEST_F(NginxServerTest, MissingFileIsNotFound) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    for (const std::string& path :
         {std::string(NginxServer::kFiles) + "none.bin",
          std::string(NginxServer::kLimited) + "none.bin", std::string("/a.bin")}) {
        SCOPED_TRACE(path);
        const HttpResponse got = Fetch(HttpRequest(server_->url(path)));
        ASSERT_EQ(got.code, CURLE_OK) << got.error;
        EXPECT_EQ(got.status, 404);
    }
}

TEST_F(NginxServerTest, KeepsConnectionsAlive) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    const std::vector<HttpResponse> got =
        FetchInTurn({HttpRequest(server_->fileUrl("a.bin")),
                     HttpRequest(server_->fileUrl("a.bin")).Range("10-19")});
    ASSERT_EQ(got[0].code, CURLE_OK) << got[0].error;
    ASSERT_EQ(got[1].code, CURLE_OK) << got[1].error;
    EXPECT_EQ(got[0].newConnections, 1);
    EXPECT_EQ(got[1].newConnections, 0);
    EXPECT_EQ(got[1].body, content_.substr(10, 10));
    EXPECT_TRUE(WaitForFileContaining(server_->accessLog(), "range=\"bytes=10-19\"",
                                      std::chrono::seconds(5)));
    EXPECT_TRUE(WaitForFileContaining(server_->accessLog(), "req=2", std::chrono::seconds(5)))
        << FileTail(server_->accessLog());
}

TEST_F(NginxServerTest, LimitedPrefixHoldsEachConnectionToItsRate) {
    // Speed is the benchmark's business: here the server's own account of the limit it applied
    // to each connection is what counts.
    constexpr long kRate = 40000;
    ASSERT_NO_FATAL_FAILURE(StartServer(Options(kRate, false)));
    const HttpResponse limited = Fetch(HttpRequest(server_->limitedUrl("a.bin")));
    ASSERT_EQ(limited.code, CURLE_OK) << limited.error;
    EXPECT_EQ(limited.status, 200);
    EXPECT_EQ(limited.body, content_);

    const HttpResponse free = Fetch(HttpRequest(server_->fileUrl("a.bin")));
    ASSERT_EQ(free.code, CURLE_OK) << free.error;
    EXPECT_EQ(free.body, content_);
    EXPECT_TRUE(WaitForFileContaining(
        server_->accessLog(),
        "\"GET /limited/a.bin HTTP/1.1\" 200 100000 range=\"-\" rate=" + std::to_string(kRate) +
            " ",
        std::chrono::seconds(5)))
        << FileTail(server_->accessLog());
    EXPECT_TRUE(WaitForFileContaining(
        server_->accessLog(), "\"GET /files/a.bin HTTP/1.1\" 200 100000 range=\"-\" rate=0 ",
        std::chrono::seconds(5)))
        << FileTail(server_->accessLog());
}

TEST_F(NginxServerTest, HttpsFailsVerificationUntilItsCertificateIsTrusted) {
    ASSERT_NO_FATAL_FAILURE(StartServer(Options(64 * 1024, true)));
    ASSERT_NE(server_->httpsPort(), 0);
    ASSERT_NE(server_->httpsPort(), server_->port());

    const HttpResponse untrusted = Fetch(HttpRequest(server_->httpsUrl("/files/a.bin")));
    EXPECT_EQ(untrusted.code, CURLE_PEER_FAILED_VERIFICATION) << untrusted.error;

    const HttpResponse trusted =
        Fetch(HttpRequest(server_->httpsUrl("/files/a.bin")).TrustOnly(server_->certificate()));
    ASSERT_EQ(trusted.code, CURLE_OK) << trusted.error;
    EXPECT_EQ(trusted.status, 200);
    EXPECT_EQ(trusted.body, content_);

    // Plain HTTP goes on beside it.
    EXPECT_EQ(Fetch(HttpRequest(server_->fileUrl("a.bin"))).body, content_);
}

TEST_F(NginxServerTest, KeepsItsFilesInTheFolderAndEndsWithTheFixture) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    ASSERT_EQ(Fetch(HttpRequest(server_->fileUrl("a.bin"))).status, 200);
    const std::string folder = sandbox_.Path("nginx");
    for (const char* name : {"nginx.conf", "nginx.pid", "error.log", "access.log"}) {
        EXPECT_TRUE(Sandbox::Exists(folder + "/" + name)) << name;
    }
    const pid_t pid = std::stoi(Sandbox::ReadFile(folder + "/nginx.pid"));
    const std::string url = server_->fileUrl("a.bin");

    const auto begun = std::chrono::steady_clock::now();
    server_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(8));
    EXPECT_NE(kill(pid, 0), 0) << "nginx outlived its fixture";
    EXPECT_EQ(Fetch(HttpRequest(url)).code, CURLE_COULDNT_CONNECT);
}

TEST_F(NginxServerTest, TwoServersGetPortsOfTheirOwn) {
    ASSERT_NO_FATAL_FAILURE(StartServer());
    NginxServer other(sandbox_.Path("other"));
    std::string error;
    ASSERT_TRUE(other.Start(&error)) << error;
    ASSERT_TRUE(other.WriteFile("b.bin", "other"));
    EXPECT_NE(other.port(), server_->port());
    EXPECT_EQ(Fetch(HttpRequest(other.fileUrl("b.bin"))).body, "other");
    EXPECT_EQ(Fetch(HttpRequest(server_->fileUrl("b.bin"))).status, 404);
}

TEST_F(NginxServerTest, AStartThatFailsSaysWhyAtOnce) {
    // nginx refuses a negative rate: the start must give up soon, with nginx's own words.
    NginxServer broken(sandbox_.Path("broken"), Options(-1, false));
    std::string error;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(broken.Start(&error));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(8));
    EXPECT_NE(error.find("\"limit_rate\" directive invalid value"), std::string::npos) << error;
}

}  // namespace
}  // namespace fixtures
