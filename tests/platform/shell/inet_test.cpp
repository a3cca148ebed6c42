#include "platform/shell/inet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/lasterror.h"
#include "support/platform/test_seams.h"

namespace {

const char* const kVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                  "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

// Starts every test with none of the proxy variables set and gives the user's back afterwards.
class InetTest : public ::testing::Test {
  protected:
    InetTest() {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            if (value != nullptr)
                saved_[name] = value;
        }
        ClearAll();
    }
    ~InetTest() override {
        ClearAll();
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }
    static void ClearAll() {
        for (const char* name : kVariables)
            unsetenv(name);
    }

  private:
    std::map<std::string, std::string> saved_;
};

struct Answer {
    DWORD accessType = 0;
    bool hasProxy = false;
    std::string proxy;
    bool hasBypass = false;
    std::string bypass;
};

// The two-call protocol a caller follows: ask for the size, then query into that much.
Answer Query() {
    Answer answer;
    DWORD length = 0;
    EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<char> buffer(length);
    EXPECT_TRUE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &length));
    EXPECT_EQ(length, buffer.size());
    INTERNET_PROXY_INFO info;
    std::memcpy(&info, buffer.data(), sizeof info);
    answer.accessType = info.dwAccessType;
    answer.hasProxy = info.lpszProxy != nullptr;
    answer.proxy = answer.hasProxy ? info.lpszProxy : "";
    answer.hasBypass = info.lpszProxyBypass != nullptr;
    answer.bypass = answer.hasBypass ? info.lpszProxyBypass : "";
    return answer;
}

TEST_F(InetTest, ProxyTextFromTheEnvironment) {
    using Vars = std::vector<std::pair<const char*, const char*>>;
    struct Case {
        const char* name;
        Vars vars;
        const char* proxy;  // nullptr: direct
    };
    const Case cases[] = {
        {"nothing set", {}, nullptr},
        {"empty values count as unset", {{"http_proxy", ""}, {"ALL_PROXY", " "}}, nullptr},
        {"scheme only names no proxy", {{"http_proxy", "http://"}}, nullptr},
        {"http alone", {{"http_proxy", "http://proxy.lan:3128"}}, "http=proxy.lan:3128"},
        {"https alone", {{"https_proxy", "http://sec.lan:3129/"}}, "https=sec.lan:3129"},
        {"http and https the same",
         {{"http_proxy", "http://p:3128"}, {"https_proxy", "p:3128"}},
         "p:3128"},
        {"http and https differ",
         {{"http_proxy", "http://a:1"}, {"https_proxy", "http://b:2"}},
         "http=a:1 https=b:2"},
        {"all alone", {{"all_proxy", "http://all:8080/"}}, "all:8080"},
        {"all and a matching http",
         {{"all_proxy", "all:8080"}, {"http_proxy", "all:8080"}},
         "all:8080"},
        {"all fills the protocol without its own",
         {{"all_proxy", "all:8080"}, {"http_proxy", "a:1"}},
         "http=a:1 https=all:8080"},
        {"both own, all differs",
         {{"all_proxy", "all:8080"}, {"http_proxy", "a:1"}, {"https_proxy", "a:1"}},
         "http=a:1 https=a:1"},
        {"credentials dropped", {{"http_proxy", "http://user:pa@ss/word@h:3128/x"}}, "http=h:3128"},
        {"credentials without scheme", {{"all_proxy", "user:pw@h:3128"}}, "h:3128"},
        {"host without port", {{"all_proxy", "proxyhost"}}, "proxyhost"},
        {"query and fragment dropped", {{"all_proxy", "http://h:1?x#y"}}, "h:1"},
        {"blanks trimmed", {{"all_proxy", "  http://h:1  "}}, "h:1"},
        {"upper-case scheme", {{"all_proxy", "HTTP://h:1"}}, "h:1"},
        {"bracketed IPv6 kept", {{"all_proxy", "http://[::1]:3128"}}, "[::1]:3128"},
        {"upper-case names", {{"HTTP_PROXY", "a:1"}, {"HTTPS_PROXY", "b:2"}}, "http=a:1 https=b:2"},
        {"lower case wins", {{"http_proxy", "low:1"}, {"HTTP_PROXY", "up:2"}}, "http=low:1"},
        {"empty lower case yields to upper",
         {{"http_proxy", ""}, {"HTTP_PROXY", "up:2"}},
         "http=up:2"},
        {"socks all_proxy alone", {{"all_proxy", "socks5h://s:1080"}}, "socks=s:1080"},
        {"socks all_proxy fills no HTTP protocol",
         {{"all_proxy", "SOCKS4://s:1080"}, {"http_proxy", "h:1"}, {"https_proxy", "h:1"}},
         "http=h:1 https=h:1 socks=s:1080"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearAll();
        for (const auto& [name, value] : c.vars)
            setenv(name, value, 1);
        const Answer answer = Query();
        if (c.proxy == nullptr) {
            EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT));
            EXPECT_FALSE(answer.hasProxy) << answer.proxy;
        } else {
            EXPECT_EQ(answer.accessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
            EXPECT_TRUE(answer.hasProxy);
            EXPECT_EQ(answer.proxy, c.proxy);
        }
    }
}

TEST_F(InetTest, BypassListFromNoProxy) {
    struct Case {
        const char* name;
        const char* lower;
        const char* upper;
        const char* bypass;  // nullptr: none
    };
    const Case cases[] = {
        {"unset", nullptr, nullptr, nullptr},
        {"comma list", "localhost, .lan ,,127.0.0.1,", nullptr, "localhost;.lan;127.0.0.1"},
        {"upper case", nullptr, "*.corp", "*.corp"},
        {"lower case wins", "low", "up", "low"},
        {"only separators", " , ", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearAll();
        setenv("http_proxy", "h:1", 1);
        if (c.lower != nullptr)
            setenv("no_proxy", c.lower, 1);
        if (c.upper != nullptr)
            setenv("NO_PROXY", c.upper, 1);
        const Answer answer = Query();
        EXPECT_EQ(answer.proxy, "http=h:1");
        EXPECT_EQ(answer.hasBypass, c.bypass != nullptr);
        EXPECT_EQ(answer.bypass, c.bypass != nullptr ? c.bypass : "");
    }
}

TEST_F(InetTest, BufferSizeProtocol) {
    setenv("http_proxy", "http://a:1", 1);
    setenv("https_proxy", "http://b:2", 1);
    setenv("no_proxy", "localhost", 1);
    const DWORD needed = static_cast<DWORD>(sizeof(INTERNET_PROXY_INFO) +
                                            sizeof("http=a:1 https=b:2") + sizeof("localhost"));

    DWORD length = 0;
    EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, needed);

    length = 4096;
    EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &length))
        << "no buffer, whatever length is claimed";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, needed);

    std::vector<char> buffer(needed + 16, '#');
    length = needed - 1;
    EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, needed);
    EXPECT_EQ(buffer[0], '#') << "a refused query leaves the buffer alone";

    length = static_cast<DWORD>(buffer.size());
    EXPECT_TRUE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &length));
    EXPECT_EQ(length, needed);
    EXPECT_EQ(buffer[needed], '#') << "wrote past the size it reported";
    INTERNET_PROXY_INFO info;
    std::memcpy(&info, buffer.data(), sizeof info);
    const char* const strings = buffer.data() + sizeof(INTERNET_PROXY_INFO);
    const char* const end = buffer.data() + needed;
    ASSERT_TRUE(info.lpszProxy >= strings && info.lpszProxy < end);
    ASSERT_TRUE(info.lpszProxyBypass >= strings && info.lpszProxyBypass < end);
    EXPECT_STREQ(info.lpszProxy, "http=a:1 https=b:2");
    EXPECT_STREQ(info.lpszProxyBypass, "localhost");
}

TEST_F(InetTest, DirectNeedsOnlyTheRecord) {
    DWORD length = 0;
    EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &length));
    EXPECT_EQ(length, sizeof(INTERNET_PROXY_INFO));
    INTERNET_PROXY_INFO info{};
    EXPECT_TRUE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, &info, &length));
    EXPECT_EQ(info.dwAccessType, static_cast<DWORD>(INTERNET_OPEN_TYPE_DIRECT));
    EXPECT_EQ(info.lpszProxy, nullptr);
    EXPECT_EQ(info.lpszProxyBypass, nullptr);
}

TEST_F(InetTest, RefusedQueries) {
    setenv("http_proxy", "h:1", 1);
    char buffer[256];
    DWORD length = sizeof buffer;
    struct Case {
        const char* name;
        HINTERNET internet;
        DWORD option;
        LPDWORD bufferLength;
        DWORD error;
    };
    int handle = 0;
    const Case cases[] = {
        {"other option", nullptr, 39, &length, ERROR_INTERNET_INVALID_OPTION},
        {"a handle", &handle, INTERNET_OPTION_PROXY, &length, ERROR_INVALID_HANDLE},
        {"no length", nullptr, INTERNET_OPTION_PROXY, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(InternetQueryOptionA(c.internet, c.option, buffer, c.bufferLength));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(length, sizeof buffer);
    }
}

TEST_F(InetTest, TheTestSeamFailsQueriesAfterTheCallsItLets) {
    setenv("http_proxy", "h:1", 1);
    std::vector<char> buffer(256);
    DWORD length = static_cast<DWORD>(buffer.size());
    platform::testing::FailInternetQueries(ERROR_INTERNET_INVALID_OPTION, 1);
    EXPECT_TRUE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &length));
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &length));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_OPTION));
    }
    platform::testing::FailInternetQueries(0);
    EXPECT_EQ(Query().proxy, "http=h:1");
}

}  // namespace
