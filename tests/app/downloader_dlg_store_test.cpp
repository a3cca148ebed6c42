// The saved state in the registry: what a load accepts, what it refuses, and what a save
// stores.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/dl_info.h"
#include "platform/registry/registry.h"
#include "support/app/engine_fixture.h"

namespace apptest {
namespace {

const char kProgress[] = "SOFTWARE\\Corvantis\\Downloader\\Progress";

std::string ConnectKey(int i) {
    return std::string(kProgress) + "\\Connect" + std::to_string(i);
}

struct Saved {
    DWORD split = 4;
    DWORD size = 1000;
    DWORD ranges = 1;
    std::vector<std::pair<DWORD, DWORD>> connections = {{0, 250}, {250, 10}, {500, 0}, {750, 250}};
};

class ProgressStoreTest : public EngineTest {
  protected:
    void WriteState(const Saved& saved) {
        // The load only needs the file to open; never gigabytes for a size it must refuse.
        sandbox_.WriteFile(target_, std::string(std::min<DWORD>(saved.size, 4096), 'x'));
        SavedDownload state;
        state.url = "http://127.0.0.1:9/b/setup.exe";
        state.fullName = fixtures::Sandbox::Win(target_);
        state.split = saved.split;
        state.size = saved.size;
        state.ranges = saved.ranges;
        state.connections = saved.connections;
        state.proxy = "proxy:3128";
        state.user = "user";
        state.password = "secret-password";
        WriteSavedDownload(state);
    }
    // The dialog with two products, the second one the saved download's.
    void Products(TestDlg& dlg) {
        logPath_ = dlg.OpenLog();
        for (const char* url : {"http://127.0.0.1:9/a/", "http://127.0.0.1:9/b/"}) {
            dlg.m_arrProductURL.Add(url);
            dlg.m_arrProductMD5.Add("");
            dlg.m_cbProduct.AddString(url);
        }
        dlg.m_cbProduct.SetCurSel(0);
    }
};

TEST_F(ProgressStoreTest, AFittingStateLoadsWhole) {
    WriteState(Saved());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Products(dlg);
        ASSERT_TRUE(dlg.LoadRegProgressInfo());
        EXPECT_EQ(1, dlg.m_cbProduct.GetCurSel()) << "the product of the saved URL";
        EXPECT_EQ(fixtures::Sandbox::Win(target_), dlg.m_strDLFullName.GetString());
        EXPECT_EQ("proxy:3128", std::string(dlg.m_strProxy));
        EXPECT_EQ("secret-password", std::string(dlg.m_strProxyPassword));
        EXPECT_EQ(4, dlg.m_nSplitNum.load());
        EXPECT_EQ(1000u, dlg.m_nServerFileSize);
        ASSERT_TRUE(dlg.LoadRegConnectionInfo());
        EXPECT_EQ(10u, dlg.m_pDLInfo[1].dwWrittenBytes.load());
        EXPECT_EQ(MODE_DOWNLOAD, dlg.m_pDLInfo[3].nMode);
    }));
    EXPECT_TRUE(LogHas("XX = ***"));
    EXPECT_FALSE(LogHas("secret-password")) << "the password never reaches the log";
    EXPECT_TRUE(LogHas("UN = user"));
}

TEST_F(ProgressStoreTest, TheSavedUrlSelectsItsOwnProductBeforeOneWhoseUrlBeginsIt) {
    const std::string base = "http://127.0.0.1:9/4000000.bin";
    struct Case {
        const char* why;
        std::vector<std::string> products;
        std::string saved;
        int selected;  // -1: none matches, the selection stays where it is
    };
    const Case cases[] = {
        {"the exact one after one that begins it", {base, base + "?seed=5"}, base + "?seed=5", 1},
        {"the exact one before a longer one", {base, base + "?seed=5"}, base, 0},
        {"the exact one after an empty one", {"", base + "?seed=5", base}, base, 2},
        {"only one that begins it", {"http://127.0.0.1:9/a/", base}, base + "?seed=7", 1},
        {"none matches", {"http://127.0.0.1:9/a/", base}, "http://127.0.0.1:9/x", -1},
    };
    TestTicks ticks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        sandbox_.WriteFile(target_, "partial");
        SavedDownload saved;
        saved.url = c.saved;
        saved.fullName = fixtures::Sandbox::Win(target_);
        WriteSavedDownload(saved);
        responder_.QueueBoxAnswer(IDNO);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath_ = dlg.OpenLog();
            for (const std::string& url : c.products) {
                dlg.m_arrProductURL.Add(url.c_str());
                dlg.m_arrProductMD5.Add("");
                dlg.m_cbProduct.AddString(url.c_str());
            }
            dlg.m_cbProduct.SetCurSel(0);
            ASSERT_TRUE(dlg.LoadRegProgressInfo());
            EXPECT_EQ(c.selected < 0 ? 0 : c.selected, dlg.m_cbProduct.GetCurSel())
                << "at the load";
            // Another product chosen while paused, and No to the question: back to the saved one.
            dlg.m_nStatus = CZELVDownloaderDlg::STATUS_PAUSED;
            const int chosen = c.selected == 0 ? 1 : 0;
            dlg.m_cbProduct.SetCurSel(chosen);
            dlg.OnSelChangeProduct();
            EXPECT_EQ(c.selected < 0 ? chosen : c.selected, dlg.m_cbProduct.GetCurSel())
                << "at a product change";
        }));
    }
}

TEST_F(ProgressStoreTest, AStateThatDoesNotFitIsRefused) {
    struct Case {
        const char* why;
        Saved saved;
        bool progressLoads;
    };
    std::vector<Case> cases;
    Saved s;
    s.split = 0;
    cases.push_back({"split 0", s, false});
    s.split = 13;
    cases.push_back({"split 13", s, false});
    s = Saved();
    s.size = 0x80000001u;
    s.connections.clear();
    cases.push_back({"size beyond the largest download", s, false});
    s = Saved();
    s.connections[2].first = 499;
    cases.push_back({"a start that is not i times the chunk", s, true});
    s = Saved();
    s.connections[1].second = 251;
    cases.push_back({"more written than the range holds", s, true});
    s = Saved();
    s.connections.pop_back();
    cases.push_back({"a missing connection", s, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis");
        WriteState(c.saved);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Products(dlg);
            const BOOL loaded = dlg.LoadRegProgressInfo();
            EXPECT_EQ(c.progressLoads, loaded != FALSE);
            if (loaded) {
                EXPECT_FALSE(dlg.LoadRegConnectionInfo());
            }
            EXPECT_GE(dlg.m_nSplitNum.load(), 0);
            EXPECT_LE(dlg.m_nSplitNum.load(), 12) << "never an unusable split";
        }));
    }
}

TEST_F(ProgressStoreTest, ASavedTargetThatCannotBeOpenedLoadsNothing) {
    WriteState(Saved());
    std::remove(target_.c_str());
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Products(dlg);
        EXPECT_FALSE(dlg.LoadRegProgressInfo());
        EXPECT_TRUE(dlg.m_strURL.IsEmpty());
    }));
    EXPECT_TRUE(LogHas("Can't open downloading file : "));
}

TEST_F(ProgressStoreTest, ASaveStoresOnlyWhatReachedTheDisk) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Products(dlg);
        EXPECT_FALSE(dlg.SaveRegConnectionInfo()) << "no records";
        dlg.m_nSplitNum = 2;
        dlg.m_pDLInfo = new DLInfo[2]();
        dlg.m_pDLInfo[1].dwStartRange = 500;
        dlg.m_pDLInfo[1].dwWrittenBytes = 300;
        dlg.m_pDLInfo[1].dwSyncedBytes = 200;
        EXPECT_TRUE(dlg.SaveRegConnectionInfo());
    }));
    DWORD start = 0, written = 0;
    ASSERT_TRUE(ReadSavedNumber(ConnectKey(1), "StartRange", &start));
    ASSERT_TRUE(ReadSavedNumber(ConnectKey(1), "WrittenBytes", &written));
    EXPECT_EQ(500u, start);
    EXPECT_EQ(200u, written) << "the count of the last flush, not the live one";
    ASSERT_TRUE(ReadSavedNumber(ConnectKey(0), "WrittenBytes", &written));
    EXPECT_EQ(0u, written);
}

}  // namespace
}  // namespace apptest
