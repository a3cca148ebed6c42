// Message boxes and the Save-As dialog answered by a test instead of the real Qt dialogs, as
// the layer's dialog presenter (platform/window/message_box.h): called on the user-interface
// thread, where the box would be shown, also for boxes that workers ask for.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "platform/window/message_box.h"

namespace platform::testing {

// Installs `presenter` (null: the real Qt dialogs again). The caller keeps it alive meanwhile.
void InstallResponder(DialogPresenter* presenter);

// A presenter that answers from scripts and records every call; installed for its lifetime.
class ScriptedResponder : public DialogPresenter {
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

    int ShowMessageBox(const MessageBoxCall& call) override;
    SaveAsAnswer ShowSaveAs(const SaveAsCall& call) override;

  private:
    mutable std::mutex mutex_;
    std::vector<int> boxAnswers_;
    int defaultBoxAnswer_ = IDOK;
    std::vector<SaveAsAnswer> saveAsAnswers_;
    std::vector<MessageBoxCall> boxes_;
    std::vector<SaveAsCall> saveAs_;
    DialogPresenter* previous_;
};

}  // namespace platform::testing
