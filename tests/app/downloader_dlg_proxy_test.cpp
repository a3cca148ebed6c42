// The system proxy as the main dialog reads it: the variables' setting reduced to its http
// entry, a failed query that keeps the text held, and the log lines of the detection.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/base/lasterror.h"
#include "support/app/proxy_variables.h"

namespace apptest {
namespace {

class ProxyTest : public ProxyVariablesTest {};

TEST_F(ProxyTest, SystemProxyIsReducedToItsHttpEntry) {
    using Vars = std::vector<std::pair<const char*, const char*>>;
    struct Case {
        const char* name;
        Vars vars;
        const char* before;  // the proxy text held when the detection runs
        DWORD failWith;      // 0: the queries answer
        int callsFirst;
        const char* after;
        BOOL result;
    };
    const Case cases[] = {
        {"http entry of a list",
         {{"http_proxy", "a:1"}, {"https_proxy", "b:2"}},
         "",
         0,
         0,
         "a:1",
         TRUE},
        {"http entry alone",
         {{"http_proxy", "http://proxy.lan:3128"}},
         "",
         0,
         0,
         "proxy.lan:3128",
         TRUE},
        {"one host and port for all", {{"all_proxy", "p:3128"}}, "", 0, 0, "p:3128", TRUE},
        {"a host without a port", {{"all_proxy", "proxyhost"}}, "", 0, 0, "proxyhost", TRUE},
        {"no http entry stays whole",
         {{"https_proxy", "sec:3129"}},
         "",
         0,
         0,
         "https=sec:3129",
         TRUE},
        {"socks entry stays whole",
         {{"all_proxy", "socks5://s:1080"}},
         "",
         0,
         0,
         "socks=s:1080",
         TRUE},
        {"no system proxy at start-up", {}, "", 0, 0, "", TRUE},
        {"no system proxy keeps the text", {}, "kept:8080", 0, 0, "kept:8080", TRUE},
        // The reduction runs on whatever the text holds, also a kept one.
        {"kept list", {}, "ftp=f:21 http=h:80 https=s:443", 0, 0, "h:80", TRUE},
        {"ends in http=", {}, "socks=s:1 http=", 0, 0, "socks=s:1 http=", TRUE},
        {"http= then a blank", {}, "http= https=s:443", 0, 0, "", TRUE},
        {"exact case only", {}, "HTTP=h:1", 0, 0, "HTTP=h:1", TRUE},
        {"first query fails",
         {{"all_proxy", "p:3128"}},
         "kept:1",
         ERROR_INVALID_PARAMETER,
         0,
         "kept:1",
         FALSE},
        {"setting grew between the queries",
         {{"all_proxy", "p:3128"}},
         "kept:1",
         ERROR_INSUFFICIENT_BUFFER,
         1,
         "kept:1",
         FALSE},
        {"failure still reduces",
         {{"all_proxy", "p:3128"}},
         "http=h:1 https=s:2",
         ERROR_INVALID_PARAMETER,
         0,
         "h:1",
         FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : kVariables)
            unsetenv(name);
        for (const auto& [name, value] : c.vars)
            setenv(name, value, 1);
        platform::testing::FailInternetQueries(c.failWith, c.callsFirst);
        std::string logPath;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "status");
            dlg.m_strProxy = c.before;
            EXPECT_EQ(c.result, dlg.GetProxySetting());
            EXPECT_STREQ(c.after, dlg.m_strProxy.GetString());
            EXPECT_EQ("status", dlg.Text(IDC_STATIC_STATUS)) << "no line in the status";
        }));
        platform::testing::FailInternetQueries(0);
        const auto lines = LogLines(logPath);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ("INFO: +++++ GetProxySetting()", lines[lines.size() - 3]);
        EXPECT_EQ(std::string("INFO: Get Proxy string is : ") + c.after, lines[lines.size() - 2]);
        EXPECT_EQ("INFO: ----- GetProxySetting()", lines.back());
    }
}

}  // namespace
}  // namespace apptest
