#include "support/squid_proxy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "support/http_client.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"

namespace fixtures {
namespace {

using Auth = SquidProxy::Auth;

// A proxy in front of a web server, for each scheme of proxy authentication.
class SquidProxyTest : public SandboxTest, public ::testing::WithParamInterface<Auth> {
  protected:
    void SetUp() override {
        std::string why;
        if (!NginxServer::Available(&why) || !SquidProxy::Available(GetParam(), &why)) {
            GTEST_SKIP() << why;
        }
        server_ = std::make_unique<NginxServer>(sandbox_.Path("nginx"));
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        ASSERT_TRUE(server_->WriteFile("a.bin", content_));
        SquidProxy::Options options;
        options.auth = GetParam();
        proxy_ = std::make_unique<SquidProxy>(sandbox_.Path("squid"), options);
        ASSERT_TRUE(proxy_->Start(&error)) << error;
    }

    HttpRequest ThroughProxy(const std::string& url) const {
        return HttpRequest(url).Proxy(proxy_->proxy(), proxy_->userPassword());
    }

    const std::string content_ = PatternBytes(200000);
    std::unique_ptr<NginxServer> server_;
    std::unique_ptr<SquidProxy> proxy_;
};

TEST_P(SquidProxyTest, RightCredentialsFetchFromTheServer) {
    const std::string url = server_->fileUrl("a.bin");
    const HttpResponse got = Fetch(ThroughProxy(url));
    ASSERT_EQ(got.code, CURLE_OK) << got.error;
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, content_);
    // Both ends saw it: the proxy with the user's name, the server with the proxy's Via.
    EXPECT_TRUE(WaitForFileContaining(proxy_->accessLog(), " GET " + url + " " + proxy_->user(),
                                      std::chrono::seconds(5)))
        << FileTail(proxy_->accessLog());
    EXPECT_TRUE(WaitForFileContaining(server_->accessLog(), "GET /files/a.bin HTTP/1.1\" 200",
                                      std::chrono::seconds(5)));
    EXPECT_TRUE(WaitForFileContaining(server_->accessLog(), "(squid", std::chrono::seconds(5)))
        << FileTail(server_->accessLog());
}

TEST_P(SquidProxyTest, WrongOrMissingCredentialsAreRefused) {
    struct Case {
        const char* what;
        std::string userPassword;
    };
    const Case cases[] = {
        {"wrong password", proxy_->user() + ":not-" + proxy_->password()},
        {"unknown user", "someone:" + proxy_->password()},
        {"no credentials", ""},
    };
    const std::string url = server_->fileUrl("a.bin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HttpResponse got = Fetch(HttpRequest(url).Proxy(proxy_->proxy(), c.userPassword));
        ASSERT_EQ(got.code, CURLE_OK) << got.error;
        EXPECT_EQ(got.status, 407);
        // The proxy asks for its scheme, and no other.
        EXPECT_EQ(got.header("proxy-authenticate")
                      .rfind(GetParam() == Auth::Basic ? "Basic " : "Digest ", 0),
                  0u)
            << got.header("proxy-authenticate");
        EXPECT_EQ(got.body.find(content_.substr(0, 64)), std::string::npos);
    }
    EXPECT_TRUE(
        WaitForFileContaining(proxy_->accessLog(), "TCP_DENIED/407", std::chrono::seconds(5)));
    // Nothing got past the proxy.
    EXPECT_EQ(Sandbox::ReadFile(server_->accessLog()), "");
}

TEST_P(SquidProxyTest, HeadGivesTheServersSizeAndRangeSupport) {
    const HttpResponse got = Fetch(ThroughProxy(server_->fileUrl("a.bin")).Head());
    ASSERT_EQ(got.code, CURLE_OK) << got.error;
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.header("content-length"), std::to_string(content_.size()));
    EXPECT_EQ(got.header("accept-ranges"), "bytes");
    EXPECT_TRUE(WaitForFileContaining(server_->accessLog(), "\"HEAD /files/a.bin HTTP/1.1\" 200",
                                      std::chrono::seconds(5)))
        << FileTail(server_->accessLog());
}

TEST_P(SquidProxyTest, RangesPassThroughAsAsked) {
    struct Case {
        const char* range;
        size_t first;
        size_t length;
    };
    const Case cases[] = {
        {"0-999", 0, 1000}, {"150000-160000", 150000, 10001}, {"199000-", 199000, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        const HttpResponse got = Fetch(ThroughProxy(server_->fileUrl("a.bin")).Range(c.range));
        ASSERT_EQ(got.code, CURLE_OK) << got.error;
        EXPECT_EQ(got.status, 206);
        EXPECT_EQ(got.body, content_.substr(c.first, c.length));
        EXPECT_EQ(got.header("content-range"), "bytes " + std::to_string(c.first) + "-" +
                                                   std::to_string(c.first + c.length - 1) + "/" +
                                                   std::to_string(content_.size()));
        // The server was asked for that range only, not for the whole file.
        EXPECT_TRUE(WaitForFileContaining(
            server_->accessLog(),
            "206 " + std::to_string(c.length) + " range=\"bytes=" + c.range + "\"",
            std::chrono::seconds(5)))
            << FileTail(server_->accessLog());
    }
}

TEST_P(SquidProxyTest, EndsWithTheFixture) {
    const std::string proxyText = proxy_->proxy();
    const std::string userPassword = proxy_->userPassword();
    const auto begun = std::chrono::steady_clock::now();
    proxy_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(8));
    const HttpResponse got =
        Fetch(HttpRequest(server_->fileUrl("a.bin")).Proxy(proxyText, userPassword));
    EXPECT_EQ(got.code, CURLE_COULDNT_CONNECT) << got.error;
}

INSTANTIATE_TEST_SUITE_P(Schemes, SquidProxyTest, ::testing::Values(Auth::Basic, Auth::Digest),
                         [](const ::testing::TestParamInfo<Auth>& info) {
                             return info.param == Auth::Basic ? "Basic" : "Digest";
                         });

}  // namespace
}  // namespace fixtures
