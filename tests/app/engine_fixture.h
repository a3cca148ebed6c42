// The main dialog prepared for one download from a test server into the sandbox, and helpers
// that drive it the way its handlers do.
#pragma once

#include <string>

#include "app/resource_text.h"
#include "app_fixture.h"
#include "fixtures/digest.h"

namespace apptest {

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

    std::string target_;  // native path of the output file
    std::string logPath_;
};

// A text of the resource library.
inline std::string Res(UINT id) {
    return LoadText(id).GetString();
}

using fixtures::Md5Of;

}  // namespace apptest
