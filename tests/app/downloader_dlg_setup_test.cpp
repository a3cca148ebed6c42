// The dialog's own set-up, run as the modal run runs it, from a configuration file in the
// working folder and with whatever an earlier run left in the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/dl_info.h"
#include "platform/modules/resources.h"
#include "support/app/engine_fixture.h"
#include "support/fault_server.h"
#include "support/platform/res_builder.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

struct Product {
    std::string name, md5, url;
};

const char kUrlA[] = "http://127.0.0.1:9/a/setup_a.exe";
const char kUrlB[] = "http://127.0.0.1:9/b/setup_b.exe";

class SetUpTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        cwd_ = std::make_unique<WorkingFolder>(sandbox_.root());
        // The system proxy that the set-up detects (the sandbox restores the variable).
        setenv("http_proxy", "http://proxy.lan:3128", 1);
    }
    void TearDown() override {
        cwd_.reset();
        EngineTest::TearDown();
    }
    void WriteConfig(const std::vector<Product>& products, const std::string& sn = "") {
        std::string ini;
        for (size_t i = 0; i < products.size(); ++i) {
            ini += "[Download#" + std::to_string(i + 1) + "]\nProductName=" + products[i].name +
                   "\nURL=" + products[i].url + "\n";
            if (!products[i].md5.empty())
                ini += "MD5=" + products[i].md5 + "\n";
        }
        if (!sn.empty())
            ini += "[Config]\nSN=" + sn + "\n";
        ini += "[Description]\nDescription=Pick a product.\n";
        ini += "[TipLink#1]\nName=Before you install\nURL=http://127.0.0.1:9/tips\n";
        sandbox_.WriteFile(sandbox_.Path("DownloadCfg.ini"), ini);
    }
    // The default target path of a product: the desktop and the URL's file name.
    std::string DesktopTarget(const std::string& fileName) const {
        return sandbox_.home() + "/Desktop/" + fileName;
    }
    std::string PathB() const { return sandbox_.Path("download/setup_b.exe"); }
    // A paused download of product B into the sandbox, of `size` bytes of `fill`.
    SavedDownload PausedB(DWORD size, std::vector<std::pair<DWORD, DWORD>> connections,
                          const std::string& url = kUrlB) {
        const std::string path = PathB();
        sandbox_.WriteFile(path, std::string(size, 'x'));
        SavedDownload saved;
        saved.url = url;
        saved.fullName = fixtures::Sandbox::Win(path);
        saved.size = size;
        saved.connections = std::move(connections);
        return saved;
    }
    std::vector<std::string> Lines(const TestDlg& dlg) const { return LogLines(dlg.LogPath()); }
    static bool Has(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    static size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
        return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
    }
    static void ExpectGroupEnabled(const TestDlg& dlg, bool exit, bool action, bool product,
                                   bool browse) {
        EXPECT_EQ(exit, dlg.Enabled(IDC_BUTTON_EXIT));
        EXPECT_EQ(action, dlg.Enabled(IDC_BUTTON_ACTION));
        EXPECT_EQ(product, dlg.Enabled(IDC_COMBO_PRODUCT));
        EXPECT_EQ(browse, dlg.Enabled(IDC_BUTTON_BROWSE));
    }

    std::unique_ptr<WorkingFolder> cwd_;
};

LOGFONTA FontOf(CWnd* wnd) {
    LOGFONTA lf{};
    const HFONT font = reinterpret_cast<HFONT>(wnd->SendMessage(WM_GETFONT, 0, 0));
    EXPECT_NE(0, GetObjectA(font, sizeof(lf), &lf));
    return lf;
}

TEST_F(SetUpTest, WithoutAConfigurationOnlyTheExitButtonIsLeftAndNothingElseIsDone) {
    const SavedDownload saved = PausedB(1000, {{0, 250}, {250, 0}, {500, 0}, {750, 0}});
    WriteSavedDownload(saved);
    std::vector<std::string> lines;
    ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        ExpectGroupEnabled(dlg, true, false, false, false);
        EXPECT_TRUE(dlg.m_strDLFullName.IsEmpty()) << "no target path";
        EXPECT_EQ("", dlg.Text(IDC_STATIC_PATH));
        EXPECT_TRUE(dlg.m_strProxy.IsEmpty()) << "the system proxy is not read";
        EXPECT_EQ(nullptr, dlg.m_pDLInfo);
        EXPECT_EQ(0u, dlg.IsDlgButtonChecked(IDC_CHECK_LAUNCH)) << "as the template has it";
        EXPECT_EQ("Can't find config file!!", dlg.Text(IDC_STATIC_STATUS)) << "the reader's own";
        lines = Lines(dlg);
    }));
    EXPECT_TRUE(responder_.boxes().empty()) << "no box, no text";
    EXPECT_FALSE(Has(lines, "INFO: +++++ LoadRegProgressInfo()"));
    EXPECT_FALSE(Has(lines, "INFO: +++++ SyncUIStatus()"));
    EXPECT_TRUE(SavedKeyExists("Progress\\Connect3")) << "the saved state is kept for later";
    EXPECT_EQ(std::string(1000, 'x'), fixtures::Sandbox::ReadFile(PathB()));
}

TEST_F(SetUpTest, ANormalSetUpShowsTheStateOfTheFileAtTheDefaultPath) {
    const std::string bytes = "the installer";
    struct Case {
        const char* why;
        std::string md5;
        bool file;
        const char* sn;
        int status;
        int split;
    };
    const Case cases[] = {
        {"a value and no file", Md5Of(bytes), false, "", CZELVDownloaderDlg::STATUS_START_NEW, 4},
        {"no value and no file", "", false, "8", CZELVDownloaderDlg::STATUS_START_NEW, 8},
        {"no value and a file", "", true, "8", CZELVDownloaderDlg::STATUS_FINISHED, 8},
        {"a matching file", Md5Of(bytes), true, "12", CZELVDownloaderDlg::STATUS_FINISHED, 12},
        {"a file that does not match", Md5Of("other"), true, "13",
         CZELVDownloaderDlg::STATUS_START_NEW, 4},
    };
    const std::string target = DesktopTarget("setup_a.exe");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::remove(target.c_str());
        if (c.file)
            sandbox_.WriteFile(target, bytes);
        WriteConfig({{"Product A", c.md5, kUrlA}, {"Product B", "", kUrlB}}, c.sn);
        ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
            EXPECT_EQ(c.status, dlg.m_nStatus.load());
            EXPECT_EQ(Res(c.status == CZELVDownloaderDlg::STATUS_FINISHED ? IDS_BUTTON_INSTALL
                                                                          : IDS_BUTTON_START),
                      dlg.Text(IDC_BUTTON_ACTION));
            EXPECT_EQ(c.split, dlg.m_nSplitNum.load());
            EXPECT_EQ(1u, dlg.IsDlgButtonChecked(IDC_CHECK_LAUNCH));
            ExpectGroupEnabled(dlg, true, true, true, true);
            EXPECT_EQ(fixtures::Sandbox::Win(sandbox_.root()) + "\\", dlg.m_strCurDir.GetString());
            EXPECT_EQ(fixtures::Sandbox::Win(target), dlg.m_strDLFullName.GetString());
            EXPECT_EQ(kUrlA, std::string(dlg.m_strURL));
            EXPECT_EQ("proxy.lan:3128", std::string(dlg.m_strProxy));
            EXPECT_EQ(nullptr, dlg.m_pDLInfo);
        }));
        EXPECT_EQ(c.file, fixtures::Sandbox::Exists(target)) << "an ordinary check deletes nothing";
        EXPECT_TRUE(responder_.boxes().empty()) << "and asks nothing";
    }
}

TEST_F(SetUpTest, TheSetUpMakesItsFontsAndTexts) {
    WriteConfig({{"Product A", "", kUrlA}});
    ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
        const LOGFONTA dialog = FontOf(&dlg);
        const LOGFONTA title = FontOf(dlg.GetDlgItem(IDC_STATIC_TITLE));
        EXPECT_EQ(16, title.lfHeight);
        EXPECT_EQ(700, title.lfWeight);
        EXPECT_EQ(0, title.lfUnderline);
        for (int id : {IDC_STATIC_TIPS_TITLE, IDC_STATIC_FAQ_TITLE}) {
            const LOGFONTA lf = FontOf(dlg.GetDlgItem(id));
            EXPECT_EQ(700, lf.lfWeight) << id;
            EXPECT_EQ(dialog.lfHeight, lf.lfHeight) << id;
            EXPECT_EQ(0, lf.lfUnderline) << id;
        }
        for (int id : {IDC_LIST_GUIDE, IDC_LIST_FAQ}) {
            const LOGFONTA lf = FontOf(dlg.GetDlgItem(id));
            EXPECT_EQ(dialog.lfWeight, lf.lfWeight) << id;
            EXPECT_EQ(1, lf.lfUnderline) << id;
        }
        const LOGFONTA link = FontOf(dlg.GetDlgItem(IDC_STATIC_PROXY_LINK));
        EXPECT_EQ(700, link.lfWeight);
        EXPECT_EQ(1, link.lfUnderline);

        EXPECT_EQ(Res(IDS_TITLE), dlg.Text(IDC_STATIC_TITLE));
        CString caption;
        dlg.GetWindowText(caption);
        EXPECT_EQ(Res(IDS_TITLE), caption.GetString());
        EXPECT_EQ("Pick a product.", dlg.Text(IDC_STATIC_DESCRIPTION));
        EXPECT_EQ(Res(IDS_PRODUCT_LABEL), dlg.Text(IDC_STATIC_PRODUCT));
        EXPECT_EQ(Res(IDS_BUTTON_EXIT), dlg.Text(IDC_BUTTON_EXIT));
        EXPECT_EQ(Res(IDS_BUTTON_BROWSE), dlg.Text(IDC_BUTTON_BROWSE));
        EXPECT_EQ(Res(IDS_PROXY_LINK), dlg.Text(IDC_STATIC_PROXY_LINK));
        EXPECT_EQ("", dlg.Text(IDC_STATIC_STATUS));
        EXPECT_NE(nullptr, dlg.m_brBkgnd.GetSafeHandle());

        dlg.ShowWindow(SW_SHOW);
        const HWND titleWnd = dlg.GetDlgItem(IDC_STATIC_TITLE)->m_hWnd;
        ASSERT_TRUE(platform::testing::PumpUntil(
            [&] { return platform::testing::InspectView(titleWnd).shown; }, 5000));
        EXPECT_FALSE(
            platform::testing::InspectView(dlg.GetDlgItem(IDC_STATIC_PROXY_LINK)->m_hWnd).shown)
            << "the proxy link stays hidden";
        EXPECT_TRUE(platform::testing::InspectView(dlg.m_hWnd).hasIcon);
    }));
}

// InitUIText loads every string into one text: a string that the resource library lacks, or
// that is empty, leaves the previous string's text, which its control then gets; before the
// first string the text is empty.
TEST_F(SetUpTest, AMissingOrEmptyStringGivesItsControlThePreviousText) {
    // The strings 128 to 143 form one block of the string table; null: no string table.
    const std::u16string* none = nullptr;
    const std::u16string empty;
    const std::u16string title = u"Title", description = u"Description", start = u"Start",
                         product = u"Product", exitText = u"Exit", browse = u"Browse",
                         proxy = u"Proxy";
    struct Case {
        const char* why;
        std::vector<const std::u16string*> strings;  // 139, 129, 130, 133, 137, 138, 140
        std::vector<std::string> texts;  // 1000 and the title, 1001, 1006, 1002, 1007, 1008, 1018
    };
    const Case cases[] = {
        {"every string there",
         {&title, &description, &start, &product, &exitText, &browse, &proxy},
         {"Title", "Description", "Start", "Product", "Exit", "Browse", "Proxy"}},
        {"every other string empty",
         {&empty, &description, &empty, &product, &empty, &browse, &empty},
         {"", "Description", "Description", "Product", "Product", "Browse", "Browse"}},
        {"only the title",
         {&title, &empty, &empty, &empty, &empty, &empty, &empty},
         {"Title", "Title", "Title", "Title", "Title", "Title", "Title"}},
        {"no string table", {none}, {"", "", "", "", "", "", ""}},
    };
    const UINT ids[] = {IDS_TITLE,       IDS_DESCRIPTION,   IDS_BUTTON_START, IDS_PRODUCT_LABEL,
                        IDS_BUTTON_EXIT, IDS_BUTTON_BROWSE, IDS_PROXY_LINK};
    const int controls[] = {IDC_STATIC_TITLE,     IDC_STATIC_DESCRIPTION, IDC_BUTTON_ACTION,
                            IDC_STATIC_PRODUCT,   IDC_BUTTON_EXIT,        IDC_BUTTON_BROWSE,
                            IDC_STATIC_PROXY_LINK};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        resbuild::Writer res = resbuild::NewRes();
        if (c.strings[0] != nullptr) {
            std::vector<std::u16string> block(16);
            for (size_t i = 0; i < c.strings.size(); ++i)
                block[ids[i] - 128] = *c.strings[i];
            resbuild::AddEntry(res, 6, 128 / 16 + 1, resbuild::StringBlock(block));
        }
        const HMODULE strings = platform::LoadResourceModuleFromBytes(res.bytes());
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            for (int id : controls)
                dlg.SetDlgItemText(id, "stale");
            for (int id : {IDC_STATIC_PATH, IDC_STATIC_TIPS_TITLE, IDC_STATIC_FAQ_TITLE,
                           IDC_STATIC_STATUS}) {
                dlg.SetDlgItemText(id, "stale");
            }
            AfxSetResourceHandle(strings);
            dlg.InitUIText();
            AfxSetResourceHandle(resources_);
            for (size_t i = 0; i < c.texts.size(); ++i)
                EXPECT_EQ(c.texts[i], dlg.Text(controls[i])) << controls[i];
            CString caption;
            dlg.GetWindowText(caption);
            EXPECT_EQ(c.texts[0], caption.GetString());
            for (int id : {IDC_STATIC_PATH, IDC_STATIC_TIPS_TITLE, IDC_STATIC_FAQ_TITLE,
                           IDC_STATIC_STATUS}) {
                EXPECT_EQ("", dlg.Text(id)) << id;
            }
        }));
        FreeLibrary(strings);
    }
}

TEST_F(SetUpTest, SavedProgressWithRangesOpensPausedWithItsProgress) {
    WriteConfig({{"Product A", Md5Of("a"), kUrlA}, {"Product B", Md5Of("b"), kUrlB}});
    const SavedDownload saved = PausedB(1000, {{0, 250}, {250, 10}, {500, 0}, {750, 250}});
    WriteSavedDownload(saved);
    ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_EQ(Res(IDS_PAUSED), dlg.Text(IDC_STATIC_STATUS)) << "after the progress text";
        EXPECT_EQ(51, dlg.m_progress.GetPos());
        ASSERT_NE(nullptr, dlg.m_pDLInfo);
        EXPECT_EQ(10u, dlg.m_pDLInfo[1].dwWrittenBytes.load());
        EXPECT_EQ(1, dlg.m_cbProduct.GetCurSel()) << "the saved download's product";
        EXPECT_EQ(saved.fullName, dlg.m_strDLFullName.GetString());
        EXPECT_EQ(1u, dlg.IsDlgButtonChecked(IDC_CHECK_LAUNCH));
        ExpectGroupEnabled(dlg, true, true, true, true);
        const auto lines = Lines(dlg);
        const std::string progress =
            "INFO: " + std::string(FormatText(IDS_PROGRESS_FMT, 510 / 1048576.0, 1000 / 1048576.0));
        ASSERT_TRUE(Has(lines, progress));
        EXPECT_LT(IndexOf(lines, progress), IndexOf(lines, "INFO: " + Res(IDS_PAUSED)));
    }));
    EXPECT_EQ(std::string(1000, 'x'), fixtures::Sandbox::ReadFile(PathB()));
    EXPECT_TRUE(SavedKeyExists("Progress\\Connect3"));
}

TEST_F(SetUpTest, SavedProgressWithoutRangesIsDiscarded) {
    WriteConfig({{"Product A", Md5Of("a"), kUrlA}, {"Product B", Md5Of("b"), kUrlB}});
    SavedDownload saved = PausedB(1000, {{0, 250}, {250, 10}, {500, 0}, {750, 250}});
    saved.ranges = 0;
    WriteSavedDownload(saved);
    ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        EXPECT_EQ(TRUE, dlg.m_bRangesByte.load());
        EXPECT_EQ(nullptr, dlg.m_pDLInfo);
        EXPECT_EQ(0, dlg.m_progress.GetPos());
        EXPECT_EQ(Res(IDS_BUTTON_START), dlg.Text(IDC_BUTTON_ACTION));
        EXPECT_TRUE(Has(Lines(dlg),
                        "INFO: m_bRangesByte is false form register key, so "
                        "BackToStartNewEnv(TRUE)"));
    }));
    EXPECT_FALSE(fixtures::Sandbox::Exists(PathB()));
    EXPECT_FALSE(SavedKeyExists("")) << "no saved state is left behind";
}

TEST_F(SetUpTest, SavedProgressThatIsAlreadyCompleteFinishesBeforeTheBoxIsTicked) {
    WriteConfig({{"Product A", Md5Of("a"), kUrlA}, {"Product B", "", kUrlB}});
    WriteSavedDownload(PausedB(1000, {{0, 250}, {250, 250}, {500, 250}, {750, 250}}));
    ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_DOWNLOAD_VERIFIED), dlg.Text(IDC_STATIC_STATUS));
        EXPECT_EQ(Res(IDS_BUTTON_CLOSE), dlg.Text(IDC_BUTTON_EXIT));
        EXPECT_EQ(1u, dlg.IsDlgButtonChecked(IDC_CHECK_LAUNCH)) << "ticked after the completion";
        EXPECT_FALSE(Has(Lines(dlg), "INFO: +++++ OnLaunch()"))
            << "the completion read the box as the template left it";
    }));
    EXPECT_TRUE(fixtures::Sandbox::Exists(PathB()));
    EXPECT_FALSE(SavedKeyExists(""));
}

TEST_F(SetUpTest, SavedConnectionsThatDoNotLoadRestartEveryRangeAtTheResume) {
    constexpr DWORD kSize = 65536 + 3;
    const std::string bytes = fixtures::PatternBytes(kSize, 3);
    fixtures::FaultServer server;
    server.AddFile("/setup_b.exe", bytes);
    const std::string url = server.Url("/setup_b.exe");
    const DWORD chunk = kSize / 4;
    struct Case {
        const char* why;
        std::vector<std::pair<DWORD, DWORD>> connections;
    };
    const Case cases[] = {
        {"a connection key missing", {{0, chunk}, {chunk, 100}, {2 * chunk, 7}}},
        {"more written than a range holds",
         {{0, chunk}, {chunk, chunk + 1}, {2 * chunk, 0}, {3 * chunk, 0}}},
    };
    TestTicks ticks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        WriteConfig({{"Product A", Md5Of("a"), kUrlA}, {"Product B", Md5Of(bytes), url}});
        const SavedDownload saved = PausedB(kSize, c.connections, url);
        WriteSavedDownload(saved);
        ASSERT_TRUE(RunSetUp([&](TestDlg& dlg) {
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_PAUSED, dlg.m_nStatus.load());
            EXPECT_EQ(nullptr, dlg.m_pDLInfo) << "the records are released";
            EXPECT_EQ(Res(IDS_PAUSED), dlg.Text(IDC_STATIC_STATUS));
            EXPECT_EQ(Res(IDS_BUTTON_RESUME), dlg.Text(IDC_BUTTON_ACTION));
            EXPECT_EQ(0, dlg.m_progress.GetPos());
            EXPECT_EQ(saved.fullName, dlg.m_strDLFullName.GetString()) << "settings kept";
            EXPECT_TRUE(SavedKeyExists("Progress"));
            EXPECT_EQ(std::string(kSize, 'x'), fixtures::Sandbox::ReadFile(PathB())) << "file kept";

            // The resume fills every range from its start: the old bytes are all replaced.
            dlg.CheckDlgButton(IDC_CHECK_LAUNCH, BST_UNCHECKED);
            dlg.OnBnClickedAction();
            EXPECT_TRUE(WaitSettled(dlg, 60000));
            EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
        }));
        EXPECT_TRUE(fixtures::Sandbox::ReadFile(PathB()) == bytes)
            << "the server's file, byte for byte";
    }
}

}  // namespace
}  // namespace apptest
