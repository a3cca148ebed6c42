#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/config_proxy_dlg.h"
#include "app_fixture.h"
#include "platform/base/lasterror.h"
#include "platform/shell/inet.h"
#include "proxy_dialog_driver.h"

namespace apptest {
namespace {

using platform::testing::Click;
using platform::testing::InspectView;
using platform::testing::PumpUntil;
using platform::testing::TypeText;

const char kPassword[] = "s3cr3t-Pw";

// The system proxy comes from the proxy variables: every test starts without them and without
// a failing query, and gives the user's variables back afterwards.
class ProxyTest : public DialogTest {
  protected:
    ProxyTest() {
        for (const char* name : kVariables) {
            if (const char* value = std::getenv(name))
                saved_[name] = value;
            unsetenv(name);
        }
    }
    ~ProxyTest() override {
        platform::testing::FailInternetQueries(0);
        for (const char* name : kVariables)
            unsetenv(name);
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
    }

    // The handler's lines end the log: the proxy and the user name, and no password anywhere.
    static void ExpectInputLogged(const std::string& logPath, const std::string& proxy,
                                  const std::string& user) {
        const auto lines = LogLines(logPath);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ("INFO: Get User proxy input::", lines[lines.size() - 3]);
        EXPECT_EQ("INFO: " + proxy, lines[lines.size() - 2]);
        EXPECT_EQ("INFO: " + user, lines.back());
        EXPECT_EQ(std::string::npos, fixtures::Sandbox::ReadFile(logPath).find(kPassword));
    }

    static constexpr const char* kVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                 "HTTPS_PROXY", "all_proxy",  "ALL_PROXY"};
    std::map<std::string, std::string> saved_;
};

HWND Item(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

const int kFields[] = {IDC_EDIT_PROXY_HOST, IDC_EDIT_PROXY_PORT, IDC_EDIT_PROXY_USER,
                       IDC_EDIT_PROXY_PASSWORD};

// The four fields are enabled (or not) in the model and in what the user sees, once the click
// before has been handled.
void ExpectFieldsEnabled(HWND proxy, bool enabled) {
    auto as = [&](int id) {
        return (IsWindowEnabled(Item(proxy, id)) != FALSE) == enabled &&
               InspectView(Item(proxy, id)).enabled == enabled;
    };
    PumpUntil([&] { return std::all_of(std::begin(kFields), std::end(kFields), as); }, 2000);
    for (int id : kFields)
        EXPECT_TRUE(as(id)) << "field " << id << (enabled ? " not enabled" : " not disabled");
}

std::string FieldText(HWND proxy, int id) {
    char text[256] = {0};
    GetDlgItemTextA(proxy, id, text, sizeof text);
    return text;
}

void ExpectTexts(TestDlg& dlg, const std::string& proxy, const std::string& user,
                 const std::string& password) {
    EXPECT_EQ(proxy, dlg.m_strProxy.GetString());
    EXPECT_EQ(user, dlg.m_strProxyUser.GetString());
    EXPECT_EQ(password, dlg.m_strProxyPassword.GetString());
}

void SetTexts(TestDlg& dlg, const char* proxy, const char* user, const char* password) {
    dlg.m_strProxy = proxy;
    dlg.m_strProxyUser = user;
    dlg.m_strProxyPassword = password;
}

// --- the system proxy ------------------------------------------------------------------------

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

// --- the proxy dialog ------------------------------------------------------------------------

TEST_F(ProxyTest, TheDialogOpensWithTheHeldTextsAndOkGivesThemBack) {
    struct Case {
        const char* name;
        const char* proxy;
        const char* user;
        bool ticked;
        const char* host;
        const char* port;
        const char* userField;
        const char* passwordField;
        const char* proxyAfter;  // OK without changes
        const char* userAfter;
        const char* passwordAfter;
    };
    const Case cases[] = {
        {"host and port", "proxy.lan:8080", "alice", true, "proxy.lan", "8080", "alice", kPassword,
         "proxy.lan:8080", "alice", kPassword},
        {"the last colon splits", "[::1]:3128", "alice", true, "[::1]", "3128", "alice", kPassword,
         "[::1]:3128", "alice", kPassword},
        {"no colon: all in the port", "proxyhost", "", true, "", "proxyhost", "", kPassword,
         ":proxyhost", "", kPassword},
        // Credentials held without a proxy are neither shown nor kept.
        {"no proxy with a user held", "", "alice", false, "", "", "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string logPath;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            SetTexts(dlg, c.proxy, c.user, kPassword);
            ASSERT_TRUE(WithProxyDialog(dlg, [&](HWND proxy) {
                EXPECT_EQ(static_cast<UINT>(c.ticked ? BST_CHECKED : BST_UNCHECKED),
                          IsDlgButtonChecked(proxy, IDC_CHECK_USE_PROXY));
                EXPECT_EQ(c.ticked ? 1 : 0, InspectView(Item(proxy, IDC_CHECK_USE_PROXY)).check);
                EXPECT_EQ(c.host, FieldText(proxy, IDC_EDIT_PROXY_HOST));
                EXPECT_EQ(c.port, FieldText(proxy, IDC_EDIT_PROXY_PORT));
                EXPECT_EQ(c.userField, FieldText(proxy, IDC_EDIT_PROXY_USER));
                EXPECT_EQ(c.passwordField, FieldText(proxy, IDC_EDIT_PROXY_PASSWORD));
                ExpectFieldsEnabled(proxy, c.ticked);
                EXPECT_TRUE(InspectView(Item(proxy, IDC_EDIT_PROXY_PASSWORD)).password)
                    << "the password shows in clear";
                EXPECT_FALSE(InspectView(Item(proxy, IDC_EDIT_PROXY_USER)).password);
                Click(Item(proxy, IDOK));
            }));
            ExpectTexts(dlg, c.proxyAfter, c.userAfter, c.passwordAfter);
        }));
        ExpectInputLogged(logPath, c.proxyAfter, c.userAfter);
    }
}

TEST_F(ProxyTest, OkWritesWhatWasTypedAndNeverLogsThePassword) {
    struct Case {
        const char* name;
        const char* host;
        const char* port;
        const char* user;
        const char* proxyAfter;
    };
    const Case cases[] = {
        {"host and port", "squid.lan", "3128", "bob", "squid.lan:3128"},
        {"empty host", "", "3128", "bob", ":3128"},
        {"empty port", "squid.lan", "", "bob", "squid.lan:"},
        {"both empty: a lone colon", "", "", "", ":"},
        {"a port that is no number", "squid.lan", "web", "", "squid.lan:web"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string logPath;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "status");
            ASSERT_TRUE(WithProxyDialog(dlg, [&](HWND proxy) {
                ExpectFieldsEnabled(proxy, false);
                Click(Item(proxy, IDC_CHECK_USE_PROXY));
                ExpectFieldsEnabled(proxy, true);
                EXPECT_TRUE(TypeText(Item(proxy, IDC_EDIT_PROXY_HOST), c.host));
                EXPECT_TRUE(TypeText(Item(proxy, IDC_EDIT_PROXY_PORT), c.port));
                EXPECT_TRUE(TypeText(Item(proxy, IDC_EDIT_PROXY_USER), c.user));
                EXPECT_TRUE(TypeText(Item(proxy, IDC_EDIT_PROXY_PASSWORD), kPassword));
                EXPECT_EQ(kPassword, FieldText(proxy, IDC_EDIT_PROXY_PASSWORD));
                EXPECT_TRUE(InspectView(Item(proxy, IDC_EDIT_PROXY_PASSWORD)).password);
                Click(Item(proxy, IDOK));
            }));
            ExpectTexts(dlg, c.proxyAfter, c.user, kPassword);
            EXPECT_EQ("status", dlg.Text(IDC_STATIC_STATUS));
        }));
        ExpectInputLogged(logPath, c.proxyAfter, c.user);
    }
}

// The dialog's box has two states only, so it is never indeterminate.
TEST_F(ProxyTest, TheCheckBoxSwitchesTheFieldsAndAClearedBoxEmptiesAll) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.OpenLog();
        SetTexts(dlg, "p.lan:1", "alice", kPassword);
        ASSERT_TRUE(WithProxyDialog(dlg, [&](HWND proxy) {
            HWND check = Item(proxy, IDC_CHECK_USE_PROXY);
            ExpectFieldsEnabled(proxy, true);
            for (int round = 0; round < 2; ++round) {
                Click(check);
                ExpectFieldsEnabled(proxy, false);
                EXPECT_EQ(0, InspectView(check).check);
                Click(check);
                ExpectFieldsEnabled(proxy, true);
                EXPECT_EQ(1, InspectView(check).check);
            }
            Click(check);
            ExpectFieldsEnabled(proxy, false);
            EXPECT_EQ("p.lan", FieldText(proxy, IDC_EDIT_PROXY_HOST)) << "only disabled";
            Click(Item(proxy, IDOK));
        }));
        ExpectTexts(dlg, "", "", "");
    }));
}

TEST_F(ProxyTest, CancelEscAndTheCloseBoxChangeNothingAndLogNothing) {
    struct Case {
        const char* name;
        std::function<void(HWND)> leave;
    };
    const Case cases[] = {
        {"Cancel", [](HWND proxy) { Click(Item(proxy, IDCANCEL)); }},
        {"Esc", [](HWND proxy) { platform::testing::PressKey(proxy, VK_ESCAPE); }},
        {"close box", [](HWND proxy) { platform::testing::PressCloseBox(proxy); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string logPath;
        size_t linesBefore = 0;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.m_logFile.WriteLog("before", FALSE, LOG_INFO);
            linesBefore = LogLines(logPath).size();
            SetTexts(dlg, "p.lan:1", "alice", kPassword);
            ASSERT_TRUE(WithProxyDialog(dlg, [&](HWND proxy) {
                TypeText(Item(proxy, IDC_EDIT_PROXY_HOST), "other.lan");
                TypeText(Item(proxy, IDC_EDIT_PROXY_USER), "mallory");
                Click(Item(proxy, IDC_CHECK_USE_PROXY));
                c.leave(proxy);
            }));
            ExpectTexts(dlg, "p.lan:1", "alice", kPassword);
        }));
        EXPECT_EQ(linesBefore, LogLines(logPath).size());
    }
}

TEST_F(ProxyTest, TheDialogIsDynamicWithTheDialogTemplateAndEmptyTexts) {
    CConfigProxyDlg dlg;
    EXPECT_STREQ("CConfigProxyDlg", dlg.GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(RUNTIME_CLASS(CDialog), dlg.GetRuntimeClass()->m_pBaseClass);
    EXPECT_EQ(nullptr, dlg.GetRuntimeClass()->CreateObject());
    EXPECT_EQ(nullptr, dlg.m_pParentWnd);
    EXPECT_TRUE(dlg.m_strProxy.IsEmpty());
    EXPECT_TRUE(dlg.m_strProxyUser.IsEmpty());
    EXPECT_TRUE(dlg.m_strProxyPassword.IsEmpty());
}

}  // namespace
}  // namespace apptest
