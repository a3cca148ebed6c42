// MessageBoxA: shown by the user-interface thread, whoever asks. A worker's request waits in
// the queue's request list, which the dispatcher serves in every loop and the kernel wait pump
// serves while the user-interface thread waits, so a worker never stalls on a user-interface
// thread that is waiting for it.
#include <atomic>
#include <string>

#include "platform/base/lasterror.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {
std::atomic<DialogPresenter*> g_presenter{nullptr};
}

DialogPresenter* SetDialogPresenter(DialogPresenter* presenter) {
    return g_presenter.exchange(presenter);
}

DialogPresenter* InstalledDialogPresenter() {
    return g_presenter.load();
}

}  // namespace platform

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner != nullptr && !platform::IsModelWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    platform::MessageBoxCall call;
    call.owner = owner;
    call.text = text != nullptr ? text : "";
    call.caption = caption != nullptr ? caption : "Error";
    call.type = type;
    call.fromWorker = !platform::OnUiThread();
    return static_cast<int>(platform::RunOnUiThread(
        [call] {
            if (call.owner != nullptr && !platform::IsModelWindow(call.owner))
                return 0;
            platform::DialogPresenter* presenter = platform::InstalledDialogPresenter();
            return presenter != nullptr ? presenter->ShowMessageBox(call) : 0;
        },
        0));
}
