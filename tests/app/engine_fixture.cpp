#include "engine_fixture.h"

#include <filesystem>

#include "platform/test_seams.h"

namespace apptest {

void EngineTest::SetUp() {
    DialogTest::SetUp();
    target_ = sandbox_.Path("download/setup.exe");
    std::filesystem::create_directories(sandbox_.Path("download"));
}

void EngineTest::Prepare(TestDlg& dlg, const std::string& url, int split, const std::string& md5) {
    logPath_ = dlg.OpenLog();
    dlg.m_arrProductURL.Add(url.c_str());
    dlg.m_arrProductMD5.Add(md5.c_str());
    dlg.m_cbProduct.AddString("Product");
    dlg.m_cbProduct.SetCurSel(0);
    dlg.m_strURL = url.c_str();
    dlg.m_nSplitNum = split;
    dlg.UpdateDLFullName(fixtures::Sandbox::Win(target_).c_str());
}

bool EngineTest::WaitSettled(TestDlg& dlg, int timeoutMs) {
    return platform::testing::PumpUntil(
        [&] {
            return dlg.m_nStatus != CZELVDownloaderDlg::STATUS_DOWNLOADING &&
                   dlg.m_nLiveWorkers.load() == 0;
        },
        timeoutMs);
}

}  // namespace apptest
