#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs/file.h"
#include "support/app/app_fixture.h"
#include "support/named_pipe.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using namespace std::string_literals;
using Texts = std::vector<std::string>;

// What the set-up leaves in the three texts before the reader runs.
const char kKeptTips[] = "tips before";
const char kKeptFaq[] = "faq before";
const char kKeptDescription[] = "description before";

struct Result {
    int ret = -1;
    Texts products, md5s, urls;
    int split = 0;
    int selection = -2;
    std::string url, tips, faq, description, status;
    Texts guideNames, guideUrls, faqNames, faqUrls;
    Texts log;  // from the entry line on
};

// The texts at 0 .. count - 1, each fetched by `get`.
template <typename Get>
Texts Collect(INT_PTR count, Get get) {
    Texts texts;
    for (INT_PTR i = 0; i < count; ++i) {
        CString text;
        get(static_cast<int>(i), text);
        texts.push_back(text.GetString());
    }
    return texts;
}

Texts Items(const CComboBox& box) {
    return Collect(box.GetCount(), [&](int i, CString& text) { box.GetLBText(i, text); });
}

Texts Items(const CListBox& box) {
    return Collect(box.GetCount(), [&](int i, CString& text) { box.GetText(i, text); });
}

Texts Entries(const CStringArray& array) {
    return Collect(array.GetSize(), [&](int i, CString& text) { text = array[i]; });
}

class ConfigReaderTest : public DialogTest {
  protected:
    std::string CfgPath() const { return sandbox_.Path("DownloadCfg.ini"); }
    std::string CurDir() const { return fixtures::Sandbox::Win(sandbox_.root()) + "\\"; }

    // Runs the reader in a fresh dialog as the set-up would call it: log open, split number 4,
    // the control texts set. `during` runs just before the call.
    Result Read(const std::string& curDir, const std::function<void()>& during = {}) {
        Result r;
        std::string logPath;
        EXPECT_TRUE(Run([&](TestDlg& dlg) {
            logPath = dlg.OpenLog();
            dlg.m_nSplitNum = CZELVDownloaderDlg::DEFAULT_SPLIT_NUM;
            dlg.m_strCurDir = curDir.c_str();
            dlg.SetDlgItemText(IDC_STATIC_TIPS_TITLE, kKeptTips);
            dlg.SetDlgItemText(IDC_STATIC_FAQ_TITLE, kKeptFaq);
            dlg.SetDlgItemText(IDC_STATIC_DESCRIPTION, kKeptDescription);
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "");
            if (during)
                during();
            r.ret = dlg.LoadConfigFileSettings();
            r.products = Items(dlg.m_cbProduct);
            r.md5s = Entries(dlg.m_arrProductMD5);
            r.urls = Entries(dlg.m_arrProductURL);
            r.split = dlg.m_nSplitNum;
            r.selection = dlg.m_cbProduct.GetCurSel();
            r.url = dlg.m_strURL.GetString();
            r.tips = dlg.Text(IDC_STATIC_TIPS_TITLE);
            r.faq = dlg.Text(IDC_STATIC_FAQ_TITLE);
            r.description = dlg.Text(IDC_STATIC_DESCRIPTION);
            r.status = dlg.Text(IDC_STATIC_STATUS);
            r.guideNames = Items(dlg.m_lbGuide);
            r.guideUrls = Entries(dlg.m_arrGuideURL);
            r.faqNames = Items(dlg.m_lbFAQ);
            r.faqUrls = Entries(dlg.m_arrFAQURL);
        }));
        const Texts lines = LogLines(logPath);
        for (size_t i = lines.size(); i-- > 0;) {
            if (lines[i] == "INFO: +++++ LoadConfigFileSettings()") {
                r.log.assign(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end());
                break;
            }
        }
        return r;
    }
};

// The log of a read: the entry line, the split-number line when SN was given, the dump of the
// three URL lists and the exit line.
Texts ExpectedLog(int ret, const std::string& splitLine, const Texts& urls, const Texts& guides,
                  const Texts& faqs) {
    Texts log = {"INFO: +++++ LoadConfigFileSettings()"};
    if (!splitLine.empty())
        log.push_back("INFO: " + splitLine);
    const auto dump = [&](const char* what, const Texts& entries) {
        for (size_t i = 0; i < entries.size(); ++i)
            log.push_back("INFO: Load " + std::string(what) + " " + std::to_string(i) +
                          " URL: " + entries[i]);
    };
    dump("Product", urls);
    dump("Guide", guides);
    dump("FAQ", faqs);
    log.push_back("INFO: ----- LoadConfigFileSettings() Ret = " + std::to_string(ret));
    return log;
}

TEST_F(ConfigReaderTest, ReadsProductsLinksSplitNumberAndTextsAsTheFileGivesThem) {
    struct Case {
        const char* name;
        std::string ini;
        int ret;
        Texts products, md5s, urls;
        int split;
        std::string splitLine, tips, faq, description;
        Texts guideNames, guideUrls, faqNames, faqUrls;
    };
    const std::string md5 = "0123456789abcdef0123456789abcdef";
    const std::string url300 = "http://127.0.0.1/" + std::string(283, 'u');
    const std::string products =
        "[Download#1]\nProductName=Product A\nURL=http://127.0.0.1/dl/setup_a.exe\n";
    const std::vector<Case> cases = {
        {"two products, links after a gap unread",
         "[Download#1]\nProductName=Product A\nMD5=" + md5 +
             "\nURL=http://127.0.0.1/dl/setup_a.exe\n"
             "[Download#2]\nProductName=Product B\nURL=http://127.0.0.1/dl/setup_b.exe\n"
             "[Config]\nSN=8\n[TipsInfo]\nTitle=Tips\n[FAQInfo]\nTitle=Questions\n"
             "[Description]\nDescription=Pick a product and a target file.\n"
             "[TipLink#1]\nName=Before you install\nURL=http://127.0.0.1/tips/install.html\n"
             "[FAQLink#1]\nName=The download stops\nURL=http://127.0.0.1/faq/stops.html\n"
             "[FAQLink#3]\nName=Never read\nURL=http://127.0.0.1/faq/never.html\n",
         1,
         {"Product A", "Product B"},
         {md5, ""},
         {"http://127.0.0.1/dl/setup_a.exe", "http://127.0.0.1/dl/setup_b.exe"},
         8,
         "Load split num == 8, set split num == 8",
         "Tips",
         "Questions",
         "Pick a product and a target file.",
         {"Before you install"},
         {"http://127.0.0.1/tips/install.html"},
         {"The download stops"},
         {"http://127.0.0.1/faq/stops.html"}},
        {"missing keys keep the lists in step; Download#4 after the gap unread",
         "[Download#1]\nURL=http://127.0.0.1/dl/first.exe\n"
         "[Download#2]\nProductName=Only a name\nMD5=abc\n"
         "[Download#4]\nProductName=After the gap\nURL=http://127.0.0.1/dl/fourth.exe\n"
         "[TipLink#1]\nName=Tip without URL\n[TipLink#2]\nURL=http://127.0.0.1/tip2\n"
         "[FAQLink#2]\nName=No first FAQ\nURL=http://127.0.0.1/faq2\n",
         1,
         {"", "Only a name"},
         {"", "abc"},
         {"http://127.0.0.1/dl/first.exe", ""},
         4,
         "",
         "",
         "",
         "",
         {"Tip without URL", ""},
         {"", "http://127.0.0.1/tip2"},
         {},
         {}},
        {"no URL at all",
         "[Download#1]\nProductName=Nameless\n",
         1,
         {"Nameless"},
         {""},
         {""},
         4,
         "",
         "",
         "",
         "",
         {},
         {},
         {},
         {}},
        {"links, texts and SN but no product section",
         "[Config]\nSN=8\n[TipsInfo]\nTitle=Tips\n[Description]\nDescription=Text\n"
         "[TipLink#1]\nName=Tip\nURL=http://127.0.0.1/tip\n[Download#2]\nURL=http://x/b\n",
         0,
         {},
         {},
         {},
         4,
         "",
         kKeptTips,
         kKeptFaq,
         kKeptDescription,
         {},
         {},
         {},
         {}},
        {"a first product section without entries",
         "[Download#1]\n\n[Download#2]\nURL=b\n",
         0,
         {},
         {},
         {},
         4,
         "",
         kKeptTips,
         kKeptFaq,
         kKeptDescription,
         {},
         {},
         {},
         {}},
        {"a first product section of comments only",
         "[Download#1]\n; URL=http://127.0.0.1/a\n",
         0,
         {},
         {},
         {},
         4,
         "",
         kKeptTips,
         kKeptFaq,
         kKeptDescription,
         {},
         {},
         {},
         {}},
        {"an empty file",
         "",
         0,
         {},
         {},
         {},
         4,
         "",
         kKeptTips,
         kKeptFaq,
         kKeptDescription,
         {},
         {},
         {},
         {}},
        {"binary bytes",
         "\0\x01\x02\n"s
         "[Download#1]\nProductName=\x01\x7f\x80\xff name\nMD5=\xc3\x28\x1b[2J\n"
         "URL=http://127.0.0.1/a\0hidden.exe\n"
         "[TipsInfo]\nTitle=\xfe\xff\n"
         "[TipLink#1]\nName=\x07\x08\x09tab\nURL=\x80\n"s,
         1,
         {"\x01\x7f\x80\xff name"},
         {"\xc3\x28\x1b[2J"},
         {"http://127.0.0.1/a"},
         4,
         "",
         "\xfe\xff",
         "",
         "",
         {"\x07\x08\x09tab"},
         {"\x80"},
         {},
         {}},
        {"a UTF-8 byte-order mark and CR LF line ends",
         "\xEF\xBB\xBF[Download#1]\r\nProductName=Product A\r\nMD5=" + md5 +
             "\r\nURL=http://127.0.0.1/a.exe\r\n[Config]\r\nSN=12\r\n"
             "[FAQInfo]\r\nTitle=Questions\r\n[FAQLink#1]\r\nName=Why\r\nURL=http://h/why\r\n",
         1,
         {"Product A"},
         {md5},
         {"http://127.0.0.1/a.exe"},
         12,
         "Load split num == 12, set split num == 12",
         "",
         "Questions",
         "",
         {},
         {},
         {"Why"},
         {"http://h/why"}},
        {"values of 300 characters are cut to 259, a description of 2000 to 1023",
         "[Download#1]\nProductName=" + std::string(300, 'n') + "\nMD5=" + std::string(300, 'm') +
             "\nURL=" + url300 + "\n[TipsInfo]\nTitle=" + std::string(300, 't') +
             "\n[Description]\nDescription=" + std::string(2000, 'd') +
             "\n[TipLink#1]\nName=" + std::string(300, 'g') + "\nURL=" + url300 + "\n",
         1,
         {std::string(259, 'n')},
         {std::string(259, 'm')},
         {url300.substr(0, 259)},
         4,
         "",
         std::string(259, 't'),
         "",
         std::string(1023, 'd'),
         {std::string(259, 'g')},
         {url300.substr(0, 259)},
         {},
         {}},
    };
    ASSERT_EQ(300u, url300.size());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox_.WriteFile(CfgPath(), c.ini);
        const Result r = Read(CurDir());
        EXPECT_EQ(c.ret, r.ret);
        EXPECT_EQ(c.products, r.products);
        EXPECT_EQ(c.md5s, r.md5s);
        EXPECT_EQ(c.urls, r.urls);
        EXPECT_EQ(c.split, r.split);
        EXPECT_EQ(c.ret == 1 ? 0 : -1, r.selection);
        EXPECT_EQ(c.ret == 1 ? c.urls[0] : "", r.url);
        EXPECT_EQ(c.tips, r.tips);
        EXPECT_EQ(c.faq, r.faq);
        EXPECT_EQ(c.description, r.description);
        EXPECT_EQ(c.guideNames, r.guideNames);
        EXPECT_EQ(c.guideUrls, r.guideUrls);
        EXPECT_EQ(c.faqNames, r.faqNames);
        EXPECT_EQ(c.faqUrls, r.faqUrls);
        EXPECT_EQ(ExpectedLog(c.ret, c.splitLine, c.urls, c.guideUrls, c.faqUrls), r.log);
    }
}

TEST_F(ConfigReaderTest, SplitNumberTakesOnlyAWholeNumberFromOneToTwelve) {
    struct Case {
        const char* config;  // the [Config] section's lines
        int split;
        const char* line;  // the logged line, empty for none
    };
    const Case cases[] = {
        {"SN=12", 12, "Load split num == 12, set split num == 12"},
        {"SN=1", 1, "Load split num == 1, set split num == 1"},
        {"SN=0", 4, "Load split num == 0, set split num == 4"},
        {"SN=13", 4, "Load split num == 13, set split num == 4"},
        {"SN=-3", 4, "Load split num == -3, set split num == 4"},
        {"SN=+7", 7, "Load split num == 7, set split num == 7"},
        {"SN=letters 6", 4, "Load split num == 0, set split num == 4"},
        {"SN=8 connections", 8, "Load split num == 8, set split num == 8"},
        {"SN=5.9", 5, "Load split num == 5, set split num == 5"},
        {"SN=' 6'", 6, "Load split num == 6, set split num == 6"},
        {"SN=0x5", 4, "Load split num == 0, set split num == 4"},
        {"SN=- 5", 4, "Load split num == 0, set split num == 4"},
        // Beyond int: the number saturates instead of wrapping into the range.
        {"SN=4294967298", 4, "Load split num == 2147483647, set split num == 4"},
        {"SN=-4294967295", 4, "Load split num == -2147483648, set split num == 4"},
        {"SN=123456789012345678901234567890", 4,
         "Load split num == 2147483647, set split num == 4"},
        {"SN=", 4, ""},
        {"Other=8", 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        sandbox_.WriteFile(
            CfgPath(), "[Download#1]\nURL=http://127.0.0.1/a.exe\n[Config]\n"s + c.config + "\n");
        const Result r = Read(CurDir());
        EXPECT_EQ(1, r.ret);
        EXPECT_EQ(c.split, r.split);
        EXPECT_EQ(ExpectedLog(1, c.line, {"http://127.0.0.1/a.exe"}, {}, {}), r.log);
    }
}

// A file that cannot be opened for reading counts as missing; so does one that is no regular
// file, and a named pipe is not waited on.
TEST_F(ConfigReaderTest, AFileThatCannotBeOpenedForReadingCountsAsMissing) {
    namespace fs = std::filesystem;
    const std::string full =
        "[Download#1]\nProductName=A\nURL=http://127.0.0.1/a.exe\n[Config]\nSN=8\n"
        "[TipLink#1]\nName=Tip\nURL=http://127.0.0.1/tip\n[Description]\nDescription=D\n";
    CFile holder;
    struct Case {
        const char* name;
        std::function<void()> prepare;  // before the dialog
        std::function<void()> during;   // right before the call
        std::string curDir;
    };
    const std::vector<Case> cases = {
        {"missing", [&] { fs::remove_all(CfgPath()); }, {}, CurDir()},
        {"a folder of that name",
         [&] {
             fs::remove_all(CfgPath());
             fs::create_directory(CfgPath());
             sandbox_.WriteFile(CfgPath() + "/x", full);
         },
         {},
         CurDir()},
        {"a named pipe of that name",
         [&] { ASSERT_TRUE(fixtures::MakeNamedPipe(CfgPath())); },
         {},
         CurDir()},
        {"held open by another",
         [&] {
             fs::remove_all(CfgPath());
             sandbox_.WriteFile(CfgPath(), full);
         },
         [&] {
             const std::string win = fixtures::Sandbox::Win(CfgPath());
             ASSERT_TRUE(holder.Open(win.c_str(), CFile::modeRead));
         },
         CurDir()},
        {"a path beyond MAX_PATH",
         [&] {
             fs::remove_all(CfgPath());
             sandbox_.WriteFile(CfgPath(), full);
         },
         {},
         CurDir() + std::string(MAX_PATH, 'd') + "\\..\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        Result r;
        EXPECT_TRUE(
            fixtures::ReturnsWithoutWaitingOn(CfgPath(), [&] { r = Read(c.curDir, c.during); }));
        holder.Close();
        EXPECT_EQ(0, r.ret);
        EXPECT_EQ("Can't find config file!!", r.status);
        EXPECT_EQ(
            (Texts{"INFO: +++++ LoadConfigFileSettings()", "FATAL ERROR:Can't find config file!!",
                   "INFO: ----- LoadConfigFileSettings() Ret = 0"}),
            r.log);
        EXPECT_TRUE(r.products.empty() && r.urls.empty() && r.md5s.empty());
        EXPECT_TRUE(r.guideNames.empty() && r.guideUrls.empty());
        EXPECT_TRUE(r.faqNames.empty() && r.faqUrls.empty());
        EXPECT_EQ(4, r.split);
        EXPECT_EQ(-1, r.selection);
        EXPECT_EQ("", r.url);
        EXPECT_EQ(kKeptDescription, r.description);
    }
}

// The program never writes its configuration, so one that the user may only read (an installed
// copy's, owned by another user) is read; a file without write permission bits stands for it.
TEST_F(ConfigReaderTest, AFileTheUserMayOnlyReadIsRead) {
    sandbox_.WriteFile(CfgPath(),
                       "[Download#1]\nProductName=A\nURL=http://127.0.0.1/a.exe\n[Config]\nSN=8\n");
    std::filesystem::permissions(CfgPath(), std::filesystem::perms::owner_read |
                                                std::filesystem::perms::group_read |
                                                std::filesystem::perms::others_read);
    const Result r = Read(CurDir());
    EXPECT_EQ(1, r.ret);
    EXPECT_EQ("", r.status);
    EXPECT_EQ(Texts{"A"}, r.products);
    EXPECT_EQ(8, r.split);
    EXPECT_EQ("http://127.0.0.1/a.exe", r.url);
}

// A long configuration loads in time that grows with its length: the file is parsed once for
// the whole read, not once for each of the four calls a product takes.
TEST_F(ConfigReaderTest, ALongFileIsParsedOnceForTheWholeRead) {
    const int kProducts = 3000;
    std::string ini;
    for (int n = 1; n <= kProducts; ++n) {
        const std::string i = std::to_string(n);
        ini += "[Download#" + i + "]\nProductName=P" + i + "\nMD5=m" + i +
               "\nURL=http://127.0.0.1/" + i + ".exe\n";
    }
    ini += "[TipLink#1]\nName=Tip\nURL=http://127.0.0.1/tip\n";
    sandbox_.WriteFile(CfgPath(), ini);
    fixtures::Sandbox::WaitUntilChangeTimesPassed(CfgPath());
    const unsigned long parsed = platform::testing::ProfileFilesParsed();
    const Result r = Read(CurDir());
    EXPECT_EQ(1u, platform::testing::ProfileFilesParsed() - parsed);
    EXPECT_EQ(1, r.ret);
    ASSERT_EQ(static_cast<size_t>(kProducts), r.products.size());
    EXPECT_EQ("P3000", r.products.back());
    EXPECT_EQ("m3000", r.md5s.back());
    EXPECT_EQ(Texts{"Tip"}, r.guideNames);
}

}  // namespace
}  // namespace apptest
