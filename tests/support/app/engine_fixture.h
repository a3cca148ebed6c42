// The main dialog prepared for one download from a test server into the sandbox, and helpers
// that drive it the way its handlers do.
#pragma once

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "app/resource_text.h"
#include "platform/kernel/clock.h"
#include "support/app/app_fixture.h"
#include "support/child_process.h"
#include "support/digest.h"
#include "support/fault_server.h"
#include "support/platform/test_seams.h"

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

    // Removes the log, so that the next run of a table starts a log of its own.
    void ForgetLog() const;
    // A small installer: a shell script that writes `marker` when it runs.
    void WriteInstaller(const std::string& path, const std::string& marker) const;
    // Waits (pumping) until `path` exists.
    static bool AppearsSoon(const std::string& path, int timeoutMs = 10000);
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

// The tick count that GetTickCount gives while it lives: each reading comes `step` ms after the
// previous one (a second by default, so no two clicks of the main button are ever taken for a
// double click); a step of 0 holds it where the test sets it. Each one starts far from where
// the previous one ended, since the main button keeps its last click for the whole process.
class TestTicks : public platform::TickSource {
  public:
    explicit TestTicks(DWORD step = 1000) : step_(step) {
        static std::atomic<DWORD> s_start{1000000};
        now_ = s_start.fetch_add(50000000);
        platform::SetTickSource(this);
    }
    ~TestTicks() override { platform::SetTickSource(nullptr); }
    DWORD Now() override { return now_.fetch_add(step_) + step_; }
    void Hold(DWORD now) {
        step_ = 0;
        now_ = now;
    }

  private:
    std::atomic<DWORD> step_;
    std::atomic<DWORD> now_;
};

// The user the process runs as while it lives (a plain user by default, so that a start never
// asks for elevation).
class TestIdentity : public platform::IdentitySource {
  public:
    explicit TestIdentity(unsigned uid = 1000, std::vector<std::string> groups = {}) {
        identity_.effectiveUid = uid;
        identity_.groups = std::move(groups);
        platform::SetIdentitySource(this);
    }
    ~TestIdentity() override { platform::SetIdentitySource(nullptr); }
    platform::ProcessIdentity Current() override { return identity_; }

  private:
    platform::ProcessIdentity identity_;
};

// A download that an earlier run left in the registry.
struct SavedDownload {
    std::string url;
    std::string fullName;  // Windows form
    DWORD split = 4;
    DWORD size = 1000;
    DWORD ranges = 1;
    std::vector<std::pair<DWORD, DWORD>> connections;  // StartRange, WrittenBytes
    std::string proxy, user, password;
};
void WriteSavedDownload(const SavedDownload& saved);
// A number of the registry (`path` under HKEY_LOCAL_MACHINE); false when it cannot be read.
bool ReadSavedNumber(const std::string& path, const char* name, DWORD* value);
// Whether the saved state holds `subKey` ("" for the store itself, "Progress\\Connect0", ...).
bool SavedKeyExists(const std::string& subKey);

// A text of the resource library.
inline std::string Res(UINT id) {
    return LoadText(id).GetString();
}

// One product with `url` and `md5` (empty: none), selected; the target path `target` (native);
// the log open; `split` connections. Returns the log's native path.
std::string PrepareDownload(TestDlg& dlg, const std::string& url, int split, const std::string& md5,
                            const std::string& target);

// How to start this test program again, running only the tests that `filter` selects.
fixtures::ChildOptions ThisProgram(const std::string& filter);

using fixtures::Md5Of;

}  // namespace apptest
