#include "support/app/app_fixture.h"

#include <filesystem>
#include <sstream>

#include "platform/afx/app.h"
#include "platform/base/path.h"

namespace apptest {

std::string TestDlg::OpenLog() {
    m_logFile.InitLogFile(this, m_strLogDir);
    return platform::ToNativePath(m_strLogDir + "Download.log");
}

std::string TestDlg::LogPath() const {
    return platform::ToNativePath(m_strLogDir + "Download.log");
}

bool TestDlg::Ended() const {
    return platform::testing::InnermostModalDialog() != m_hWnd;
}

WorkingFolder::WorkingFolder(const std::string& folder)
    : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(folder);
}

WorkingFolder::~WorkingFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

void DialogTest::SetUp() {
    platform::testing::EnsureUi();
    resources_ = LoadLibraryA("ZELVDlderRes.dll");
    ASSERT_NE(nullptr, resources_);
    AfxSetResourceHandle(resources_);
}

void DialogTest::TearDown() {
    AfxSetResourceHandle(nullptr);
    if (resources_ != nullptr)
        FreeLibrary(resources_);
}

bool DialogTest::Run(const std::function<void(TestDlg&)>& body) {
    return RunDialog(body, false);
}

bool DialogTest::RunSetUp(const std::function<void(TestDlg&)>& body) {
    return RunDialog(body, true);
}

bool DialogTest::RunDialog(const std::function<void(TestDlg&)>& body, bool realSetUp) {
    bool ran = false;
    TestDlg dlg;
    dlg.realSetUp = realSetUp;
    dlg.body = [&](TestDlg& d) {
        ran = true;
        body(d);
    };
    const INT_PTR result = dlg.DoModal();
    return ran && result == IDOK;
}

// The log's lines without their time stamps, CR LF removed.
std::vector<std::string> DialogTest::LogLines(const std::string& nativePath) {
    std::vector<std::string> lines;
    std::istringstream in(fixtures::Sandbox::ReadFile(nativePath));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            lines.push_back(line.substr(tab + 1));
    }
    return lines;
}

}  // namespace apptest
