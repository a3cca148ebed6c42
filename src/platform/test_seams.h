// Seams for tests of the window layer and of the application (this header is for tests).
//
// - A Responder answers message boxes and the Save-As dialog instead of the real Qt dialogs,
//   and is called ON THE USER-INTERFACE THREAD, where the box would be shown (also for boxes
//   that workers ask for). It may itself pump the user-interface queue before answering, which
//   models a box that stays open while messages arrive.
// - PumpUntil runs the user-interface queue and Qt's events until a condition holds.
// - The user's input goes through the real view (Qt widgets and their signals), so the same
//   rules apply as for a person: the model changes first, a disabled or hidden control (by the
//   model) takes nothing.
// - Dialogs can be run from a template built in code.
// - A ProgramStarter records what the shell would start; an IdentitySource stands for the user
//   the process runs as.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel_object.h"
#include "platform/messages.h"
#include "platform/resources.h"

class CDialog;

namespace platform::testing {

struct MessageBoxCall {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    bool fromWorker = false;  // asked for on a thread other than the user-interface thread
};

struct SaveAsCall {
    HWND owner = nullptr;
    bool openFile = false;
    std::string defaultExtension;
    std::string fileName;
    std::string filter;  // as the application gave it ("*.exe|*.exe||")
    DWORD flags = 0;
};

struct SaveAsAnswer {
    INT_PTR result = IDCANCEL;
    std::string path;  // Windows form, as GetPathName gives it back
};

class Responder {
  public:
    virtual ~Responder() = default;
    virtual int OnMessageBox(const MessageBoxCall& call) = 0;
    virtual SaveAsAnswer OnSaveAs(const SaveAsCall& call) = 0;
};

// Installs `responder` (null: the real dialogs again). The caller keeps it alive meanwhile.
void InstallResponder(Responder* responder);
Responder* InstalledResponder();

// A responder that answers from scripts and records every call; installed for its lifetime.
class ScriptedResponder : public Responder {
  public:
    ScriptedResponder();
    ~ScriptedResponder() override;

    // Answers in order; when they run out, the default (IDOK / IDCANCEL).
    void QueueBoxAnswer(int answer);
    void SetDefaultBoxAnswer(int answer);
    void QueueSaveAs(SaveAsAnswer answer);
    // Runs before a box is answered, on the user-interface thread (it may pump).
    std::function<void(const MessageBoxCall&)> beforeBoxAnswer;

    std::vector<MessageBoxCall> boxes() const;
    std::vector<SaveAsCall> saveAsCalls() const;

    int OnMessageBox(const MessageBoxCall& call) override;
    SaveAsAnswer OnSaveAs(const SaveAsCall& call) override;

  private:
    mutable std::mutex mutex_;
    std::vector<int> boxAnswers_;
    int defaultBoxAnswer_ = IDOK;
    std::vector<SaveAsAnswer> saveAsAnswers_;
    std::vector<MessageBoxCall> boxes_;
    std::vector<SaveAsCall> saveAs_;
    Responder* previous_;
};

// Runs the user-interface queue (and Qt's events) on the calling user-interface thread until
// `condition` holds or `timeoutMs` pass; returns whether it held.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs);
void PumpFor(int milliseconds);
// Calls `step` on the user-interface thread every `periodMs` from a timer of Qt's own, never
// through the window queue (so it runs in any loop, dispatching or not), until it returns true.
void RepeatOnQtTimer(int periodMs, std::function<bool()> step);

// Runs a dialog from a template built in code, as DoModal does with a resource template.
INT_PTR RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate);

// The user's input, through the view's widgets. False when the widget does not exist.
bool Click(HWND control);
bool ChooseItem(HWND comboOrList, int index);
bool TypeText(HWND edit, const std::string& text);
bool PressKey(HWND window, UINT virtualKey);  // VK_RETURN, VK_ESCAPE
bool PressCloseBox(HWND window);
// Presses the mouse at a client point of a dialog (on whatever widget is there), drags by
// (dx, dy) and releases.
bool Drag(HWND dialog, POINT clientPoint, int dx, int dy);

// What the view shows for a window, after it has caught up with the model.
struct ViewState {
    bool exists = false;
    bool shown = false;  // visible on the screen
    bool enabled = false;
    std::string text;  // title, caption, label, field text or current combo item
    int check = 0;
    std::vector<std::string> items;
    int current = -1;
    int minimum = 0, maximum = 0, value = 0;     // progress bars
    unsigned barColor = 0, backgroundColor = 0;  // 0xRRGGBB as shown
    bool password = false;
    bool modal = false;
    std::string widgetKind;  // "dialog", "button", "check", "label", "link", "frame"...
    std::string fontFamily;
    int fontPixelSize = 0, fontWeight = 0;
    bool fontUnderline = false;
    unsigned textColor = 0;  // 0xRRGGBB
    bool transparent = false;
    RECT geometry{};  // top-level: on the screen; control: in the parent's client area
    bool hasIcon = false;
};
ViewState InspectView(HWND hwnd);

// Renders a window's view into a PNG file.
bool GrabWindow(HWND hwnd, const char* pngPath);

// The real Qt message box that is open now (no responder installed).
struct ShownBox {
    bool found = false;
    std::string title, text;
    std::vector<std::string> buttons;
    bool hasIcon = false;
};
ShownBox FindShownMessageBox();
// Presses the button of the open real box that gives `answer`.
bool AnswerShownMessageBox(int answer);
// Accepts the open real file dialog with a native path, or cancels it with null.
bool AnswerShownFileDialog(const char* nativePath);

// The number of windows in the model.
size_t WindowCount();

// The dialog of the innermost modal run now (not yet ended); null when none runs. Lets a test
// act inside a modal dialog that the code under test makes and runs itself.
HWND InnermostModalDialog();

// Makes InternetQueryOptionA fail with `error` once `callsFirst` more calls have answered
// normally (a setting that cannot be read, or one that grows between the size query and the
// real one); an error of 0 lets it answer normally again.
void FailInternetQueries(DWORD error, int callsFirst = 0);

// What the shell hands to the desktop.
class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    // Opens a URL, or a document or folder (absolute native path), with the default handler.
    virtual DWORD OpenDocument(const std::string& target,
                               std::shared_ptr<KernelObject>* process) = 0;
    // Starts `program` (absolute native path) as administrator, detached.
    virtual DWORD StartElevated(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder,
                                std::shared_ptr<KernelObject>* process) = 0;
};
// nullptr restores the desktop's own: xdg-open and pkexec, found in PATH.
void SetProgramStarter(ProgramStarter* starter);

// Who the process runs as, for the token.
struct ProcessIdentity {
    unsigned effectiveUid = 0;
    std::vector<std::string> groups;  // group names; the real source lists the admin groups held
};
class IdentitySource {
  public:
    virtual ~IdentitySource() = default;
    virtual ProcessIdentity Current() = 0;
};
// nullptr restores the real identity.
void SetIdentitySource(IdentitySource* source);

}  // namespace platform::testing
