#include "engine_fixture.h"

#include <filesystem>

#include "app/dl_info.h"
#include "platform/registry.h"
#include "platform/test_seams.h"

namespace apptest {

void EngineTest::SetUp() {
    DialogTest::SetUp();
    target_ = sandbox_.Path("download/setup.exe");
    std::filesystem::create_directories(sandbox_.Path("download"));
}

void EngineTest::Prepare(TestDlg& dlg, const std::string& url, int split, const std::string& md5) {
    logPath_ = PrepareDownload(dlg, url, split, md5, target_);
}

std::string PrepareDownload(TestDlg& dlg, const std::string& url, int split, const std::string& md5,
                            const std::string& target) {
    std::string logPath = dlg.OpenLog();
    dlg.m_arrProductURL.Add(url.c_str());
    dlg.m_arrProductMD5.Add(md5.c_str());
    dlg.m_cbProduct.AddString("Product");
    dlg.m_cbProduct.SetCurSel(0);
    dlg.m_strURL = url.c_str();
    dlg.m_nSplitNum = split;
    dlg.UpdateDLFullName(fixtures::Sandbox::Win(target).c_str());
    return logPath;
}

bool EngineTest::WaitSettled(TestDlg& dlg, int timeoutMs) {
    return platform::testing::PumpUntil(
        [&] {
            return dlg.m_nStatus != CZELVDownloaderDlg::STATUS_DOWNLOADING &&
                   dlg.m_nLiveWorkers.load() == 0;
        },
        timeoutMs);
}

DWORD EngineTest::Written(TestDlg& dlg) {
    DWORD sum = 0;
    if (dlg.m_pDLInfo != nullptr) {
        for (int i = 0; i < dlg.m_nSplitNum; ++i)
            sum += dlg.m_pDLInfo[i].dwWrittenBytes.load();
    }
    return sum;
}

bool EngineTest::StoreEmpty() {
    HKEY key = nullptr;
    const bool missing = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvantis\\Downloader", 0,
                                       KEY_READ, &key) != ERROR_SUCCESS;
    if (!missing)
        RegCloseKey(key);
    return missing;
}

void ServedEngineTest::SetUp() {
    EngineTest::SetUp();
    platform::SetTickSource(&ticks_);
    bytes_ = fixtures::PatternBytes(kSize, 7);
    server_.AddFile("/setup.exe", bytes_);
}

void ServedEngineTest::TearDown() {
    platform::SetTickSource(nullptr);
    EngineTest::TearDown();
}

void ServedEngineTest::Start(TestDlg& dlg, int split) {
    Prepare(dlg, Url(), split, Md5Of(bytes_));
    dlg.OnBnClickedAction();
}

}  // namespace apptest
