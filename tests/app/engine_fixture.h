// The main dialog prepared for one download from a test server into the sandbox, and helpers
// that drive it the way its handlers do.
#pragma once

#include <string>

#include "app/resource_text.h"
#include "app_fixture.h"
#include "fixtures/fault_server.h"
#include "platform/clock.h"
#include "fixtures/digest.h"

namespace apptest {

// Every click of the main button comes a second after the previous one, so the automatic
// resume of a fast drop is never taken for a double click. One count for the process: the
// main button's filter remembers the last click across tests.
class SpacedTicks : public platform::TickSource {
  public:
    DWORD Now() override { return 1000000u + 1000u * ++calls_; }

  private:
    static inline DWORD calls_ = 0;
};

class EngineTest : public DialogTest {
  protected:
    void SetUp() override;

    // One product with `url` and `md5` (empty: none), selected; the target path in the sandbox;
    // the log open; `split` connections.
    void Prepare(TestDlg& dlg, const std::string& url, int split = 4, const std::string& md5 = "");
    // Pumps the interface until the download has completed or given up (not downloading, no
    // worker left), or `timeoutMs` pass; true when it settled.
    static bool WaitSettled(TestDlg& dlg, int timeoutMs = 30000);
    // The download's bytes as they are on disk now.
    std::string TargetBytes() const { return fixtures::Sandbox::ReadFile(target_); }
    std::string Log() const { return fixtures::Sandbox::ReadFile(logPath_); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

    // The bytes the records count, summed.
    static DWORD Written(TestDlg& dlg);
    // No saved download in the registry.
    static bool StoreEmpty();

    std::string target_;  // native path of the output file
    std::string logPath_;
};

// An engine test with the fault server serving kSize pattern bytes as "/setup.exe".
class ServedEngineTest : public EngineTest {
  protected:
    static constexpr size_t kSize = 1048576 + 3;  // no split divides it

    void SetUp() override;
    void TearDown() override;
    std::string Url() const { return server_.Url("/setup.exe"); }
    // Prepares the dialog for the served file with its MD5 and starts with the main button.
    void Start(TestDlg& dlg, int split = 4);

    SpacedTicks ticks_;
    fixtures::FaultServer server_;
    std::string bytes_;
};

// One product with `url` and `md5` (empty: none), selected; the target path `target` (native);
// the log open; `split` connections. Returns the log's native path.
std::string PrepareDownload(TestDlg& dlg, const std::string& url, int split, const std::string& md5,
                            const std::string& target);

// A text of the resource library.
inline std::string Res(UINT id) {
    return LoadText(id).GetString();
}

using fixtures::Md5Of;

}  // namespace apptest
