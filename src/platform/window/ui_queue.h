// The one message queue of the user-interface thread (internal). Posting and timers are
// thread-safe; a posted message wakes the user-interface thread through one queued Qt event to
// the queue's dispatcher, which then dispatches, in this order: the requests of workers (message
// boxes, sent messages), the posted messages that were queued when it began, the windows that
// wait to be painted, and the timer ticks that are due (at most one pending per timer).
//
// Dispatch runs in every loop of the user-interface thread (modal dialogs, message boxes,
// Save-As, the test pump), also in one entered from a handler in the middle of a round, except
// inside a kernel wait: there the wait pump serves only the requests of workers, and the rest
// waits until the wait has ended. Once a dialog's modal run has ended (EndDialog), nothing more
// is dispatched to it or its controls: its posted messages are dropped and its ticks skipped.
#pragma once

#include <functional>

#include "platform/window/messages.h"

namespace platform {

// The queue of the running user interface (qt_session.h starts and stops it with the view).
// StartQueue needs Qt's application object: it makes the queue's dispatcher on the calling
// thread, which becomes the user-interface thread, lets workers' requests in, installs the
// kernel wait pump, runs `whileStarting`, and only then counts as running. StopQueue, on that
// thread, answers and refuses the requests of workers, removes the pump, runs `whileStopping`,
// and drops the dispatcher.
void StartQueue(void (*whileStarting)());
void StopQueue(void (*whileStopping)());
bool UiRunning();
bool OnUiThread();

bool PostToQueue(const MSG& message);
// PostQuitMessage: ends CWinApp::Run's loop.
void RequestQuit(int exitCode);
bool QuitRequested();
int QuitCode();
// Drops the posted messages, pending ticks and timers of a window that is gone.
void ForgetWindow(HWND hwnd);

UINT_PTR StartTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
bool StopTimer(HWND hwnd, UINT_PTR id);

// Asks the user-interface thread to look at the queue again.
void WakeUi();
// Every nested loop calls this as it begins: when a handler of a round under way enters it, the
// round's remaining work gets a wake-up there instead of waiting for the round to end.
void WakeForNestedLoop();
// Runs the loop of the user-interface thread until `done` holds (checked after every event).
void RunNestedLoop(const std::function<bool()>& done);
// Processes the events that are there, waiting up to `maxWaitMs` for one when there are none.
void ProcessUiEvents(int maxWaitMs);

// Runs `work` on the user-interface thread and returns its result: at once when called there
// (what it throws reaches the caller), otherwise queued (served by the dispatcher and by the
// kernel wait pump) while the caller waits. Returns `fallback` when no user interface runs, it
// stops before serving, or the work served for another thread throws.
LRESULT RunOnUiThread(const std::function<LRESULT()>& work, LRESULT fallback);

// While one of these lives on the user-interface thread, posted messages, ticks and paints
// are held back; worker requests are still served.
class HoldDispatch {
  public:
    HoldDispatch();
    ~HoldDispatch();
    HoldDispatch(const HoldDispatch&) = delete;
    HoldDispatch& operator=(const HoldDispatch&) = delete;
};
bool DispatchHeld();

// Paints one window now (WM_ERASEBKGND if asked, then WM_PAINT), on the user-interface thread.
void PaintNow(HWND hwnd);

}  // namespace platform
