#include <gtest/gtest.h>

#include "platform/kernel/sync.h"
#include "support/app/app_fixture.h"

namespace apptest {
namespace {

TEST_F(DialogTest, ANewObjectHoldsItsStartingState) {
    TestDlg dlg;
    EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
    EXPECT_EQ(0, dlg.m_nSplitNum.load());
    EXPECT_TRUE(dlg.m_bRangesByte);
    EXPECT_EQ(3, dlg.m_nRetryCount);
    EXPECT_EQ(nullptr, dlg.m_pDLInfo);
    EXPECT_EQ(nullptr, dlg.m_hThread);
    EXPECT_TRUE(dlg.m_strProxy.IsEmpty());
    EXPECT_TRUE(dlg.m_strProxyUser.IsEmpty());
    EXPECT_TRUE(dlg.m_strProxyPassword.IsEmpty());
    EXPECT_TRUE(dlg.m_strURL.IsEmpty());
    EXPECT_TRUE(dlg.m_strDLFullName.IsEmpty());
    EXPECT_EQ(0u, dlg.m_nServerFileSize);
    EXPECT_EQ(0u, dlg.m_nStallTicks);
    EXPECT_EQ(0u, dlg.m_nLastWritten);
    EXPECT_NE(nullptr, dlg.m_hIcon) << "icon 128 of the resource library";
    ASSERT_NE(nullptr, dlg.m_hEvent);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(dlg.m_hEvent, 0)) << "not signalled";
    SetEvent(dlg.m_hEvent);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dlg.m_hEvent, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dlg.m_hEvent, 0)) << "manual reset";
}

TEST_F(DialogTest, DataExchangeBindsTheFourControlMembers) {
    ASSERT_TRUE(Run([](TestDlg& dlg) {
        EXPECT_EQ(dlg.GetDlgItem(IDC_COMBO_PRODUCT)->m_hWnd, dlg.m_cbProduct.m_hWnd);
        EXPECT_EQ(dlg.GetDlgItem(IDC_LIST_GUIDE)->m_hWnd, dlg.m_lbGuide.m_hWnd);
        EXPECT_EQ(dlg.GetDlgItem(IDC_LIST_FAQ)->m_hWnd, dlg.m_lbFAQ.m_hWnd);
        EXPECT_EQ(dlg.GetDlgItem(IDC_PROGRESS_DOWNLOAD)->m_hWnd, dlg.m_progress.m_hWnd);
    }));
}

TEST_F(DialogTest, ResetProgressBarLeavesZeroPercentInGreyAndGreen) {
    ASSERT_TRUE(Run([](TestDlg& dlg) {
        dlg.m_progress.SetRange(0, 1000);
        dlg.m_progress.SetPos(700);
        for (int round = 0; round < 2; ++round) {
            dlg.ResetProgressBar();
            CProgressCtrl& bar = dlg.m_progress;
            int low = -1, high = -1;
            bar.GetRange(low, high);
            EXPECT_EQ(0, low);
            EXPECT_EQ(100, high);
            EXPECT_EQ(0, bar.GetPos());
            ASSERT_TRUE(platform::testing::PumpUntil(
                [&] { return platform::testing::InspectView(bar.m_hWnd).value == 0; }, 2000));
            EXPECT_EQ(0xDEDEDEu, platform::testing::InspectView(bar.m_hWnd).backgroundColor);
            EXPECT_EQ(0x00E600u, platform::testing::InspectView(bar.m_hWnd).barColor);
        }
    }));
}

}  // namespace
}  // namespace apptest
