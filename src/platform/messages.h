// Window messages and the window functions of the application: sending and posting, timers,
// texts, enabled and visible state, geometry, redrawing, message boxes and system metrics.
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

#include "platform/geometry.h"
#include "platform/types.h"
#include "platform/winuser_constants.h"

typedef struct HRGN__* HRGN;

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

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

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

// Windows and controls.
BOOL IsWindow(HWND hwnd);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
HWND GetParent(HWND hwnd);
BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
int GetWindowTextA(HWND hwnd, LPSTR buffer, int maxCount);
int GetWindowTextLengthA(HWND hwnd);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int maxCount);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// Returns nonzero when the window was disabled before the call.
BOOL EnableWindow(HWND hwnd, BOOL enable);
// Returns nonzero when the window was visible before the call.
BOOL ShowWindow(HWND hwnd, int command);
BOOL IsWindowEnabled(HWND hwnd);
// True when the window and all its parents are visible.
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL EndDialog(HWND dialog, INT_PTR result);
#define SetWindowText SetWindowTextA
#define GetWindowText GetWindowTextA
#define SetDlgItemText SetDlgItemTextA
#define GetDlgItemText GetDlgItemTextA

// Geometry in pixels. A top-level window's client area is placed on the screen; a control's
// rectangle is relative to its parent's client area. The frame around a top-level window is the
// desktop's, so GetWindowRect gives the client area's rectangle on the screen.
BOOL GetClientRect(HWND hwnd, LPRECT rect);
BOOL GetWindowRect(HWND hwnd, LPRECT rect);
BOOL ClientToScreen(HWND hwnd, LPPOINT point);
BOOL ScreenToClient(HWND hwnd, LPPOINT point);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);

// Painting: the window is painted (WM_ERASEBKGND when asked, then WM_PAINT) on the
// user-interface thread, at once with RDW_UPDATENOW / UpdateWindow when called there.
BOOL RedrawWindow(HWND hwnd, const RECT* updateRect, HRGN updateRegion, UINT flags);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND hwnd);

// Message boxes: owned by `owner` (modal to it), with the caption as given (an empty caption
// stays empty; NULL gives "Error"), and no icon unless the type asks for one. Asked for on a
// worker thread, the box is shown by the user-interface thread while the worker waits for the
// answer. 0 when the owner is stale, no user interface runs, or showing a worker's box failed.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#define MessageBox MessageBoxA

int GetSystemMetrics(int index);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
