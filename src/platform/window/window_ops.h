// The window functions of the application: windows and controls, their texts, enabled and
// visible state, geometry, redrawing and the system metrics. Every call acts on the window
// model at once from any thread; a stale HWND gives FALSE / 0 with ERROR_INVALID_WINDOW_HANDLE.
#pragma once

#include "platform/base/types.h"
#include "platform/window/winuser_constants.h"

typedef struct HRGN__* HRGN;

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

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
// user-interface thread, at once with RDW_UPDATENOW when called there.
BOOL RedrawWindow(HWND hwnd, const RECT* updateRect, HRGN updateRegion, UINT flags);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);

int GetSystemMetrics(int index);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
