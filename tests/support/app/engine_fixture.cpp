#include "support/app/engine_fixture.h"

#include <filesystem>

#include "app/dl_info.h"
#include "platform/registry/registry.h"
#include "support/platform/test_seams.h"

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

void EngineTest::ForgetLog() const {
    if (!logPath_.empty())
        std::remove(logPath_.c_str());
}

void EngineTest::WriteInstaller(const std::string& path, const std::string& marker) const {
    sandbox_.WriteFile(path, "#!/bin/sh\necho started > '" + marker + "'\n");
}

bool EngineTest::AppearsSoon(const std::string& path, int timeoutMs) {
    return platform::testing::PumpUntil([&] { return fixtures::Sandbox::Exists(path); }, timeoutMs);
}

bool EngineTest::WaitSettled(TestDlg& dlg, int timeoutMs) {
    return platform::testing::PumpUntil(
        [&] {
            return dlg.m_nStatus != CZELVDownloaderDlg::STATUS_DOWNLOADING &&
                   dlg.m_nLiveWorkers.load() == 0;
        },
        timeoutMs);
}

namespace {
const char kStore[] = "SOFTWARE\\Corvantis\\Downloader";

HKEY CreateStoreKey(const std::string& subKey) {
    HKEY key = nullptr;
    const std::string path = std::string(kStore) + "\\" + subKey;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_WRITE | KEY_QUERY_VALUE, nullptr, &key, nullptr));
    return key;
}
void SetStoreText(HKEY key, const char* name, const std::string& text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}
void SetStoreNumber(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}
}  // namespace

void WriteSavedDownload(const SavedDownload& saved) {
    HKEY key = CreateStoreKey("Progress");
    SetStoreText(key, "URL", saved.url);
    SetStoreText(key, "UseProxy", saved.proxy);
    SetStoreText(key, "FullName", saved.fullName);
    SetStoreNumber(key, "SplitNumber", saved.split);
    SetStoreNumber(key, "ServerFileSize", saved.size);
    SetStoreNumber(key, "SupportRangesByte", saved.ranges);
    SetStoreText(key, "UN", saved.user);
    SetStoreText(key, "XX", saved.password);
    RegCloseKey(key);
    for (size_t i = 0; i < saved.connections.size(); ++i) {
        HKEY connect = CreateStoreKey("Progress\\Connect" + std::to_string(i));
        SetStoreNumber(connect, "StartRange", saved.connections[i].first);
        SetStoreNumber(connect, "WrittenBytes", saved.connections[i].second);
        RegCloseKey(connect);
    }
}

bool ReadSavedNumber(const std::string& path, const char* name, DWORD* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 4;
    const bool ok = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                     &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool SavedKeyExists(const std::string& subKey) {
    const std::string path = subKey.empty() ? kStore : std::string(kStore) + "\\" + subKey;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
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

fixtures::ChildOptions ThisProgram(const std::string& filter) {
    fixtures::ChildOptions options;
    options.argv = {fixtures::SelfProgram(), "--gtest_filter=" + filter};
    return options;
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
