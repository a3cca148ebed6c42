#include "support/platform/scripted_responder.h"

#include "platform/view/qt_view.h"

namespace platform::testing {

void InstallResponder(DialogPresenter* presenter) {
    SetDialogPresenter(presenter != nullptr ? presenter : &QtDialogPresenter());
}

ScriptedResponder::ScriptedResponder() : previous_(SetDialogPresenter(this)) {}

ScriptedResponder::~ScriptedResponder() {
    if (InstalledDialogPresenter() == this)
        InstallResponder(previous_);
}

void ScriptedResponder::QueueBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    boxAnswers_.push_back(answer);
}

void ScriptedResponder::SetDefaultBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultBoxAnswer_ = answer;
}

void ScriptedResponder::QueueSaveAs(SaveAsAnswer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    saveAsAnswers_.push_back(std::move(answer));
}

std::vector<MessageBoxCall> ScriptedResponder::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<SaveAsCall> ScriptedResponder::saveAsCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return saveAs_;
}

int ScriptedResponder::ShowMessageBox(const MessageBoxCall& call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(call);
    }
    if (beforeBoxAnswer)
        beforeBoxAnswer(call);
    std::lock_guard<std::mutex> lock(mutex_);
    if (boxAnswers_.empty())
        return defaultBoxAnswer_;
    int answer = boxAnswers_.front();
    boxAnswers_.erase(boxAnswers_.begin());
    return answer;
}

SaveAsAnswer ScriptedResponder::ShowSaveAs(const SaveAsCall& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    saveAs_.push_back(call);
    if (saveAsAnswers_.empty())
        return SaveAsAnswer{};
    SaveAsAnswer answer = saveAsAnswers_.front();
    saveAsAnswers_.erase(saveAsAnswers_.begin());
    return answer;
}

}  // namespace platform::testing
