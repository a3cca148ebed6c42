#include <gtest/gtest.h>

#include "support/app/app_fixture.h"

namespace apptest {
namespace {

TEST_F(DialogTest, TargetPathIsTheDesktopAndTheUrlsFileNameOrTheGivenPath) {
    const std::string desktop = fixtures::Sandbox::Win(sandbox_.home() + "/Desktop");
    struct Case {
        const char* url;
        const char* given;
        std::string expected;
    };
    const Case cases[] = {
        {"http://127.0.0.1/dl/setup_a.exe", "", desktop + "\\setup_a.exe"},
        {"setup_b.exe", "", desktop + "\\setup_b.exe"},  // no '/': the whole URL
        {"http://127.0.0.1/dl/", "", desktop + "\\"},    // ends in '/': no file name
        // '\\' separates folders in a path: the name is what follows the last one, so that it
        // never leaves the desktop; "." and ".." name folders, not files.
        {"http://127.0.0.1/dl/..\\.profile", "", desktop + "\\.profile"},
        {"http://127.0.0.1/dl/..\\..\\..\\etc\\x.exe", "", desktop + "\\x.exe"},
        {"http://127.0.0.1/get?name=..\\..\\setup.exe", "", desktop + "\\setup.exe"},
        {"..\\setup_b.exe", "", desktop + "\\setup_b.exe"},
        {"http://127.0.0.1/dl/sub\\", "", desktop + "\\"},
        {"http://127.0.0.1/dl/..", "", desktop + "\\"},
        {"http://127.0.0.1/dl/.", "", desktop + "\\"},
        {"http://127.0.0.1/dl/a\\..", "", desktop + "\\"},
        {"http://127.0.0.1/dl/...", "", desktop + "\\..."},
        {"http://127.0.0.1/dl/setup_a.exe", "\\srv\\target\\x.exe", "\\srv\\target\\x.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string logPath;
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.m_arrProductURL.Add("http://127.0.0.1/other/first.exe");
            dlg.m_cbProduct.AddString("First");
            dlg.m_arrProductURL.Add(c.url);
            dlg.m_cbProduct.AddString("Second");
            dlg.m_cbProduct.SetCurSel(1);
            dlg.UpdateDLFullName(c.given);
            EXPECT_EQ(c.expected, dlg.m_strDLFullName.GetString());
            EXPECT_EQ(c.expected, dlg.Text(IDC_STATIC_PATH));
        }));
        const auto lines = LogLines(logPath);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ("INFO: +++++ UpdateDLFullName()", lines[lines.size() - 3]);
        EXPECT_EQ("INFO: Change Full download name : " + c.expected, lines[lines.size() - 2]);
        EXPECT_EQ("INFO: ----- UpdateDLFullName()", lines.back());
    }
}

TEST_F(DialogTest, ASelectionWithoutItsUrlChangesNothing) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.OpenLog();
        dlg.SetDlgItemText(IDC_STATIC_PATH, "kept");
        // No selection at all, then a selected item without an entry in the URL list.
        dlg.UpdateDLFullName("");
        dlg.m_cbProduct.AddString("Only in the list");
        dlg.m_cbProduct.SetCurSel(0);
        dlg.UpdateDLFullName("\\given\\path.exe");
        EXPECT_TRUE(dlg.m_strDLFullName.IsEmpty());
        EXPECT_EQ("kept", dlg.Text(IDC_STATIC_PATH));
    }));
}

// The Save-As dialog's suggested name and the path after a product change follow the same rule
// as the default path: a URL's name never leads out of the folder.
TEST_F(DialogTest, BrowseAndProductChangeTakeTheSameFileNameFromTheUrl) {
    responder_.QueueSaveAs(platform::SaveAsAnswer{IDCANCEL, ""});
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        dlg.OpenLog();
        for (const char* url :
             {"http://127.0.0.1/a/setup_a.exe", "http://127.0.0.1/b/..\\.profile"}) {
            dlg.m_arrProductURL.Add(url);
            dlg.m_arrProductMD5.Add("");
            dlg.m_cbProduct.AddString(url);
        }
        dlg.m_cbProduct.SetCurSel(0);
        dlg.m_strURL = dlg.m_arrProductURL[0];
        dlg.UpdateDLFullName("\\srv\\dl\\setup_a.exe");
        dlg.m_cbProduct.SetCurSel(1);  // the user's choice
        dlg.OnSelChangeProduct();
        EXPECT_EQ("\\srv\\dl\\.profile", std::string(dlg.m_strDLFullName));
        dlg.OnBrowse();
    }));
    const auto calls = responder_.saveAsCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(".profile", calls[0].fileName);
}

}  // namespace
}  // namespace apptest
