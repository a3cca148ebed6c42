// The real executable on a virtual X display, driven as a user drives it: Xvfb for the screen,
// xdotool for the mouse and the keys, nginx for the server and a sandbox for its home.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"

namespace e2e {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Xvfb on a display number it picks itself.
class VirtualDisplay {
  public:
    ~VirtualDisplay() { process_.Stop(milliseconds(0)); }
    bool Start(const std::string& folder, std::string* error);
    const std::string& name() const { return name_; }  // ":N"

  private:
    fixtures::ChildProcess process_;
    std::string name_;
};

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

// xdotool on one display. Every call is bounded.
class Robot {
  public:
    Robot(std::string display, std::string folder)
        : display_(std::move(display)), folder_(std::move(folder)) {}
    // The visible top-level windows whose title is `title`.
    std::vector<std::string> Windows(const std::string& title) const;
    bool Geometry(const std::string& window, Box* box) const;
    bool Click(int x, int y) const;
    // Gives `window` the keyboard focus (there is no window manager to do it), then the keys.
    bool Keys(const std::string& window, const std::vector<std::string>& keys) const;
    bool Keys(const std::vector<std::string>& keys) const;
    const std::string& lastError() const { return lastError_; }

  private:
    bool Run(const std::vector<std::string>& args, std::string* output) const;
    std::string display_;
    std::string folder_;
    mutable int calls_ = 0;
    mutable std::string lastError_;
};

// A place of the main dialog's template in dialog units (resources/ZELVDlderRes.rc).
struct DialogRect {
    int x, y, width, height;
};

class E2eTest : public fixtures::SandboxTest {
  protected:
    // The main dialog's template and the controls the tests use.
    static constexpr int kDialogWidth = 380;
    static constexpr int kDialogHeight = 263;
    // The product list closed: its edit part is about 12 units high.
    static constexpr DialogRect kProductList{14, 153, 352, 12};
    static constexpr DialogRect kActionButton{250, 240, 56, 15};
    static constexpr DialogRect kExitButton{310, 240, 56, 15};
    static constexpr const char* kCaption = "Setup Downloader";  // strings 128 and 143

    void SetUp() override;
    void TearDown() override;

    // nginx serving root(); false (with the reason recorded) when it does not start.
    bool StartServer(long limitedRate);
    fixtures::NginxServer& server() { return *server_; }

    // An installer of `size` bytes: a script that appends its name to Marker() and exits,
    // padded with numbered comment lines so a misplaced range changes its digest. Gives the
    // MD5 text.
    std::string WriteInstaller(const std::string& name, size_t size);
    std::string Marker() const { return sandbox_.home() + "/installer-ran.txt"; }

    struct Product {
        std::string name, url, md5;
    };
    // DownloadCfg.ini in the program's working folder.
    void WriteConfig(const std::vector<Product>& products, int split);
    std::string Target(const std::string& fileName) const {
        return sandbox_.home() + "/Desktop/" + fileName;
    }

    // Starts the program in its working folder and waits until its dialog is shown and set up.
    bool StartProgram();
    bool WaitForExit(milliseconds timeout) { return program_.WaitForExit(timeout); }
    void Kill() { program_.Stop(milliseconds(0)); }
    int ExitStatus() const { return program_.status(); }

    // The whole log, and what this start of the program has added to it.
    std::string Log() const;
    std::string RunLog() const;
    bool WaitForRunLog(const std::string& text, milliseconds timeout) const;
    // Waits until the status line's progress shows more than none and less than all.
    bool WaitForPartialProgress(milliseconds timeout) const;
    // What to look at when a step fails.
    std::string Diagnostics() const;

    bool Click(const DialogRect& control) const;
    // Waits for a message box of the program and answers it with `key`.
    bool AnswerBox(const std::string& key, milliseconds timeout) const;
    bool ChooseProduct(int index) const;

    std::string skip_;  // why the tests cannot run here
    std::unique_ptr<VirtualDisplay> display_;
    std::unique_ptr<Robot> robot_;
    std::unique_ptr<fixtures::NginxServer> server_;
    fixtures::ChildProcess program_;
    std::string mainWindow_;
    size_t logStart_ = 0;
};

}  // namespace e2e
