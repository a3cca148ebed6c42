// Window messages: sending and posting, the quit message and timers.
//
// Every call but two acts on the window model at once from any thread and never waits for the
// user-interface thread. SendMessageA answers the state messages of a window (texts, fonts,
// icons and the control messages of its class) on the caller's thread; any other message is
// handled by the window's message map on the user-interface thread: at once when sent there,
// and from another thread while the sender waits (what lParam points to must live only as
// long as the call), 0 when no user interface runs. MessageBoxA waits in the same way. Every
// loop of the user-interface thread and its waits in WaitForSingleObject serve these, so a
// worker never stalls on a user-interface thread that waits for it.
//
// Posted messages and WM_TIMER are dispatched on the user-interface thread, also inside nested
// loops (modal dialogs, message boxes, Save-As), but not while that thread waits in
// WaitForSingleObject: then only what workers send and the boxes they ask for are served.
#pragma once

#include "platform/base/types.h"
#include "platform/window/winuser_constants.h"

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagPBRANGE {
    int iLow;
    int iHigh;
} PBRANGE, *PPBRANGE;

typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

namespace platform {
// What handles the messages of a window that has one (CWnd, while it is attached); a window
// without one gets the default processing. Called on the user-interface thread.
class WindowProcedure {
  public:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  protected:
    ~WindowProcedure() = default;
};
}  // namespace platform

#define GET_X_LPARAM(lp) (static_cast<int>(static_cast<short>(LOWORD(lp))))
#define GET_Y_LPARAM(lp) (static_cast<int>(static_cast<short>(HIWORD(lp))))

// Messages. A stale HWND: FALSE / 0 with ERROR_INVALID_WINDOW_HANDLE.
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Ends the loop of CWinApp::Run with `exitCode`.
void PostQuitMessage(int exitCode);
#define SendMessage SendMessageA
#define PostMessage PostMessageA

// Timers: a WM_TIMER is generated when the period has passed and at most one is pending per
// timer, however long the handlers take. Setting an existing timer again restarts its period.
// Returns `id`, or 0 for a stale HWND. KillTimer also drops a tick that is still pending.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC timerProc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
