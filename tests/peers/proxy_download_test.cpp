// The whole way of a user behind a proxy: the probe fails, the proxy link comes up, the
// proxy with its Basic credentials is typed into the proxy dialog, and the download then
// goes through squid to nginx, byte for byte, without the password in the log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "support/app/engine_fixture.h"
#include "support/app/proxy_dialog_driver.h"
#include "support/child_process.h"
#include "support/fault_server.h"  // PatternBytes
#include "support/nginx_server.h"
#include "support/platform/test_seams.h"
#include "support/squid_proxy.h"

namespace apptest {
namespace {

using fixtures::NginxServer;
using fixtures::SquidProxy;
using platform::testing::Click;
using platform::testing::TypeText;

// A proxy nobody listens on: the probe's connect is refused at once.
const char kClosedProxy[] = "127.0.0.1:9";

class ProxyDownloadTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::string why;
        if (!NginxServer::Available(&why))
            GTEST_SKIP() << why;
        if (!SquidProxy::Available(SquidProxy::Auth::Basic, &why))
            GTEST_SKIP() << why;
        // libcurl would let a no_proxy entry for 127.0.0.1 bypass the proxy.
        for (const char* name : kVariables) {
            if (const char* value = std::getenv(name))
                saved_[name] = value;
            unsetenv(name);
        }
        bytes_ = fixtures::PatternBytes(kSize, 23);
        nginx_ = std::make_unique<NginxServer>(sandbox_.Path("nginx"));
        std::string error;
        ASSERT_TRUE(nginx_->Start(&error)) << error;
        ASSERT_TRUE(nginx_->WriteFile(kName, bytes_));
        squid_ = std::make_unique<SquidProxy>(sandbox_.Path("squid"));
        ASSERT_TRUE(squid_->Start(&error)) << error;
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_)
            setenv(name.c_str(), value.c_str(), 1);
        EngineTest::TearDown();
    }

    static constexpr const char* kVariables[] = {"no_proxy", "NO_PROXY"};
    static constexpr const char* kName = "setup.exe";
    static constexpr size_t kSize = 1048576 + 3;  // no split divides it
    TestTicks ticks_;
    std::map<std::string, std::string> saved_;
    std::string bytes_;
    std::unique_ptr<NginxServer> nginx_;
    std::unique_ptr<SquidProxy> squid_;
};

TEST_F(ProxyDownloadTest, TheProxyTypedAfterAFailedProbeCarriesTheDownload) {
    constexpr int kSplit = 4;
    const std::string url = nginx_->fileUrl(kName);
    int status = -1;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, url, kSplit, Md5Of(bytes_));
        dlg.m_strProxy = kClosedProxy;
        dlg.m_strProxyUser = "";
        dlg.m_strProxyPassword = "";
        dlg.ShowWindow(SW_SHOW);
        CWnd* link = dlg.GetDlgItem(IDC_STATIC_PROXY_LINK);
        link->ShowWindow(SW_HIDE);

        dlg.OnBnClickedAction();
        ASSERT_TRUE(WaitSettled(dlg, 60000));
        ASSERT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load())
            << "the probe through a closed proxy fails";
        ASSERT_TRUE(link->IsWindowVisible()) << "the failed probe offers the proxy settings";

        ASSERT_TRUE(WithProxyDialog(dlg, [&](HWND proxy) {
            if (IsDlgButtonChecked(proxy, IDC_CHECK_USE_PROXY) != BST_CHECKED)
                Click(GetDlgItem(proxy, IDC_CHECK_USE_PROXY));
            EXPECT_TRUE(TypeText(GetDlgItem(proxy, IDC_EDIT_PROXY_HOST), "127.0.0.1"));
            EXPECT_TRUE(
                TypeText(GetDlgItem(proxy, IDC_EDIT_PROXY_PORT), std::to_string(squid_->port())));
            EXPECT_TRUE(TypeText(GetDlgItem(proxy, IDC_EDIT_PROXY_USER), squid_->user()));
            EXPECT_TRUE(TypeText(GetDlgItem(proxy, IDC_EDIT_PROXY_PASSWORD), squid_->password()));
            Click(GetDlgItem(proxy, IDOK));
        }));
        EXPECT_EQ(squid_->proxy(), dlg.m_strProxy.GetString());
        EXPECT_EQ(squid_->user(), dlg.m_strProxyUser.GetString());

        dlg.OnBnClickedAction();
        EXPECT_TRUE(WaitSettled(dlg, 120000));
        status = dlg.m_nStatus;
    }));
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, status) << "finished with the MD5 checked";
    EXPECT_TRUE(TargetBytes() == bytes_) << "byte for byte the server's file";

    // squid let the probe and every range through under the typed user's name.
    const std::string asUser = " GET " + url + " " + squid_->user() + " ";
    EXPECT_TRUE(
        fixtures::WaitForFileContaining(squid_->accessLog(), asUser, std::chrono::seconds(5)));
    const std::string logged = fixtures::Sandbox::ReadFile(squid_->accessLog());
    EXPECT_EQ(kSplit, fixtures::CountLinesWith(logged, asUser))
        << fixtures::FileTail(squid_->accessLog());
    EXPECT_EQ(1, fixtures::CountLinesWith(logged, " HEAD " + url + " " + squid_->user() + " "))
        << logged;
    EXPECT_EQ(std::string::npos, Log().find(squid_->password())) << "the password stays out";
}

}  // namespace
}  // namespace apptest
