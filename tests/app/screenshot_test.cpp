// Renders both dialog templates into PNG files beside the test programs, so the layout can be
// looked at without a display (docs/ holds pictures of the real program, scripts/screenshots.sh).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/app/app_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

std::string OutputPath(const char* name) {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

class GrabbingDialog : public CDialog {
  public:
    GrabbingDialog(UINT id, std::string path) : CDialog(id), path_(std::move(path)) {}
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        grabbed = platform::testing::GrabWindow(m_hWnd, path_.c_str());
        EndDialog(IDOK);
        return TRUE;
    }
    bool grabbed = false;

  private:
    std::string path_;
};

TEST_F(DialogTest, BothTemplatesRenderIntoPngFiles) {
    std::error_code ignored;
    const std::string main = OutputPath("main_dialog.png");
    std::filesystem::remove(main, ignored);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.ResetProgressBar();
        EXPECT_TRUE(platform::testing::GrabWindow(dlg.m_hWnd, main.c_str()));
    }));
    EXPECT_GT(std::filesystem::file_size(main, ignored), 1000u);

    const std::string proxy = OutputPath("proxy_dialog.png");
    std::filesystem::remove(proxy, ignored);
    GrabbingDialog dlg(IDD_CONFIG_PROXY, proxy);
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_TRUE(dlg.grabbed);
    EXPECT_GT(std::filesystem::file_size(proxy, ignored), 1000u);
}

}  // namespace
}  // namespace apptest
