#include "platform/test_seams.h"

#include <atomic>
#include <chrono>

#include "platform/dialog.h"
#include "platform/qt_view.h"
#include "platform/ui_queue.h"
#include "platform/window_model.h"

namespace platform::testing {

namespace {
std::atomic<Responder*> g_responder{nullptr};
}

void InstallResponder(Responder* responder) {
    g_responder.store(responder);
}
Responder* InstalledResponder() {
    return g_responder.load();
}

ScriptedResponder::ScriptedResponder() : previous_(InstalledResponder()) {
    InstallResponder(this);
}

ScriptedResponder::~ScriptedResponder() {
    if (InstalledResponder() == this)
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

int ScriptedResponder::OnMessageBox(const MessageBoxCall& call) {
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

SaveAsAnswer ScriptedResponder::OnSaveAs(const SaveAsCall& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    saveAs_.push_back(call);
    if (saveAsAnswers_.empty())
        return SaveAsAnswer{};
    SaveAsAnswer answer = saveAsAnswers_.front();
    saveAsAnswers_.erase(saveAsAnswers_.begin());
    return answer;
}

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    WakeForNestedLoop();
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return condition();
        ProcessUiEvents(static_cast<int>(std::min<int64_t>(left, 10)));
    }
}

void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

INT_PTR RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate) {
    return dialog.RunModalFromTemplate(dialogTemplate);
}

size_t WindowCount() {
    return AllWindows().size();
}

HWND InnermostModalDialog() {
    const std::vector<HWND> windows = AllWindows();
    // Creation order: a nested run's dialog comes after its owner's.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        WindowState s;
        if (ReadWindow(*it, &s) && s.modal && s.parent == nullptr && !ModalEnded(*it, nullptr))
            return *it;
    }
    return nullptr;
}

}  // namespace platform::testing
