#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/config_proxy_dlg.h"
#include "support/app/app_fixture.h"
#include "support/app/proxy_dialog_driver.h"
#include "support/app/proxy_variables.h"

namespace apptest {
namespace {

using platform::testing::Click;
using platform::testing::InspectView;
using platform::testing::PumpUntil;
using platform::testing::TypeText;

const char kPassword[] = "s3cr3t-Pw";

// The proxy dialog, run from the main dialog.
class ProxyTest : public ProxyVariablesTest {
  protected:
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
