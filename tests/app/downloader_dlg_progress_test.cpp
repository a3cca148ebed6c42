// The progress tick and the stall watchdog's count, without transfers: the records are set as
// a worker would leave them.
#include <gtest/gtest.h>

#include "app/dl_info.h"
#include "support/app/engine_fixture.h"

namespace apptest {
namespace {

void SetRecords(TestDlg& dlg, DWORD size, std::vector<DWORD> written) {
    dlg.m_nServerFileSize = size;
    dlg.m_nSplitNum = static_cast<int>(written.size());
    delete[] dlg.m_pDLInfo;
    dlg.m_pDLInfo = new DLInfo[written.size()]();
    for (size_t i = 0; i < written.size(); ++i) {
        dlg.m_pDLInfo[i].nMode = MODE_DOWNLOAD;
        dlg.m_pDLInfo[i].nIndex = static_cast<int>(i);
        dlg.m_pDLInfo[i].dwWrittenBytes = written[i];
    }
}

TEST_F(EngineTest, ATickShowsTheSumAndCountsTicksWithoutGrowth) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, "http://127.0.0.1:9/setup.exe");
        dlg.ResetProgressBar();
        EXPECT_EQ(-1, dlg.CaculateProgressPos()) << "no records";
        SetRecords(dlg, 0, {0});
        EXPECT_EQ(-1, dlg.CaculateProgressPos()) << "no size";
        EXPECT_EQ(0u, dlg.m_nStallTicks);

        SetRecords(dlg, 10000000, {2500000, 2500000, 0, 0});
        EXPECT_EQ(0, dlg.CaculateProgressPos());
        EXPECT_EQ(50, dlg.m_progress.GetPos());
        EXPECT_EQ(5000000u, dlg.m_nLastWritten);
        EXPECT_EQ(0u, dlg.m_nStallTicks);
        EXPECT_EQ(0, dlg.CaculateProgressPos());
        EXPECT_EQ(1u, dlg.m_nStallTicks) << "the same sum again";
        dlg.m_pDLInfo[2].dwWrittenBytes = 1;
        dlg.CaculateProgressPos();
        EXPECT_EQ(0u, dlg.m_nStallTicks) << "growth clears the count";

        SetRecords(dlg, 10000003, {2500000, 2500000, 2500000, 2500002});
        dlg.CaculateProgressPos();
        EXPECT_EQ(99, dlg.m_progress.GetPos()) << "one byte short is not complete";
        EXPECT_NE(nullptr, dlg.m_pDLInfo);
        delete[] dlg.m_pDLInfo;
        dlg.m_pDLInfo = nullptr;
    }));
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("----- CaculateProgressPos() return -1"));
    EXPECT_NE(std::string::npos, log.find("Connect1 has written = 2500000 Bytes."));
}

TEST_F(EngineTest, TheFullSizeCompletesAtThatTick) {
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, "http://127.0.0.1:9/setup.exe");
        sandbox_.WriteFile(target_, "done");
        SetRecords(dlg, 4, {2, 2});
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_DOWNLOADING;
        EXPECT_EQ(0, dlg.CaculateProgressPos());
        EXPECT_EQ(nullptr, dlg.m_pDLInfo) << "records released";
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load())
            << "a product without an MD5 value passes";
        EXPECT_EQ(Res(IDS_BUTTON_CLOSE), dlg.Text(IDC_BUTTON_EXIT));
        EXPECT_EQ(Res(IDS_DOWNLOAD_VERIFIED), dlg.Text(IDC_STATIC_STATUS));
    }));
    EXPECT_EQ("done", TargetBytes());
}

}  // namespace
}  // namespace apptest
