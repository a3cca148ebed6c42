#include "platform/afx/file_dialog.h"

#include <gtest/gtest.h>

#include "support/platform/window_test_support.h"

namespace {

using platform::SaveAsAnswer;
using wintest::RecordingDialog;
using wintest::StandardTemplate;

class FileDialogTest : public wintest::WindowTest {};

TEST_F(FileDialogTest, TheSaveAsDialogIsAskedAsTheApplicationSetItUp) {
    RecordingDialog dialog;
    INT_PTR result = 0;
    CString path, name, ext, title, folder;
    HWND owner = nullptr;
    std::string chosen = fixtures::Sandbox::Win(sandbox_.Path("home/Desktop/setup.exe"));
    responder_.QueueSaveAs(SaveAsAnswer{IDOK, chosen});
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        owner = d.m_hWnd;
        CFileDialog save(FALSE, "*.*", "setup.exe", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         "*.exe|*.exe||", &d);
        result = save.DoModal();
        path = save.GetPathName();
        name = save.GetFileName();
        ext = save.GetFileExt();
        title = save.GetFileTitle();
        folder = save.GetFolderPath();
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(path, chosen.c_str());
    EXPECT_EQ(name, "setup.exe");
    EXPECT_EQ(ext, "exe");
    EXPECT_EQ(title, "setup");
    EXPECT_EQ(folder, fixtures::Sandbox::Win(sandbox_.Path("home/Desktop")).c_str());
    auto calls = responder_.saveAsCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].openFile);
    EXPECT_EQ(calls[0].defaultExtension, "*.*");
    EXPECT_EQ(calls[0].fileName, "setup.exe");
    EXPECT_EQ(calls[0].filter, "*.exe|*.exe||");
    EXPECT_EQ(calls[0].flags & (OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT),
              OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(calls[0].owner, owner);
}

TEST_F(FileDialogTest, CancelOrAPathTooLongForTheBufferChangesNothing) {
    struct Case {
        SaveAsAnswer answer;
    };
    const Case cases[] = {
        {SaveAsAnswer{IDCANCEL, "\\tmp\\ignored.exe"}},
        {SaveAsAnswer{IDOK, "\\tmp\\" + std::string(300, 'x') + ".exe"}},
    };
    for (const Case& c : cases) {
        responder_.QueueSaveAs(c.answer);
        CFileDialog save(FALSE, "*.*", "setup.exe", OFN_OVERWRITEPROMPT, "*.exe|*.exe||");
        EXPECT_EQ(save.DoModal(), IDCANCEL);
        EXPECT_EQ(save.GetPathName(), "setup.exe");
    }
}

TEST_F(FileDialogTest, TheRealDialogGivesTheWindowsFormAndTheFiltersExtension) {
    platform::testing::InstallResponder(nullptr);
    struct Case {
        const char* defaultExtension;
        const char* filter;
        const char* typed;  // relative to the sandbox
        const char* expected;
    };
    const Case cases[] = {
        {"*.*", "*.exe|*.exe||", "setup", "setup.exe"},    // the filter names one extension
        {"*.*", "All|*.*||", "notes", "notes"},            // "*.*" names none
        {"txt", nullptr, "readme", "readme.txt"},          // the default extension
        {"*.*", "*.exe|*.exe||", "tool.bin", "tool.bin"},  // typed with an extension
    };
    RecordingDialog dialog;
    int answered = 0;
    std::string typed;
    dialog.onTimer = [&](RecordingDialog& d, UINT_PTR id) {
        if (id == 11 && platform::testing::AnswerShownFileDialog(typed.c_str())) {
            d.KillTimer(11);
            ++answered;
        }
    };
    std::vector<std::string> got;
    RunWith(dialog, StandardTemplate(), [&](RecordingDialog& d) {
        for (const Case& c : cases) {
            typed = sandbox_.Path(c.typed);
            CFileDialog save(FALSE, c.defaultExtension, "first.exe", OFN_OVERWRITEPROMPT, c.filter,
                             &d);
            d.SetTimer(11, 30);
            INT_PTR result = save.DoModal();
            got.push_back(result == IDOK ? std::string(save.GetPathName()) : "cancelled");
        }
        d.EndDialog(IDOK);
    });
    platform::testing::InstallResponder(&responder_);
    ASSERT_EQ(answered, static_cast<int>(std::size(cases)));
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], fixtures::Sandbox::Win(sandbox_.Path(cases[i].expected))) << i;
    }
}

}  // namespace
