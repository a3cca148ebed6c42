#include "platform/window/messages.h"

#include "platform/base/lasterror.h"
#include "platform/kernel/clock.h"
#include "platform/window/control_messages.h"
#include "platform/window/dispatch.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"

namespace {

bool Refuse() {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

}  // namespace

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse();
    if (platform::OnUiThread())
        return platform::DeliverMessage(hwnd, message, wParam, lParam);
    LRESULT result = 0;
    if (platform::HandleStateMessage(hwnd, message, wParam, lParam, &result))
        return result;
    // The handler runs on the user-interface thread while the worker waits, so that what
    // lParam points to outlives it. Every loop and kernel wait of that thread serves this, so
    // the worker never waits for a user-interface thread that waits for it.
    return platform::RunOnUiThread(
        [=] {
            if (!platform::IsModelWindow(hwnd))
                return LRESULT{0};
            return platform::DeliverMessage(hwnd, message, wParam, lParam);
        },
        0);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse();
    MSG m{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}};
    return platform::PostToQueue(m) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) {
    platform::RequestQuit(exitCode);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse();
    return platform::StartTimer(hwnd, id, elapse, timerProc);
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse();
    return platform::StopTimer(hwnd, id) ? TRUE : FALSE;
}
