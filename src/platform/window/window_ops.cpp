#include <algorithm>
#include <cstring>

#include "platform/base/lasterror.h"
#include "platform/window/control_messages.h"
#include "platform/window/dispatch.h"
#include "platform/window/messages.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

using platform::WindowState;

namespace {

template <typename T>
T Refuse(T value) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return value;
}

// A message the window's handler should see: at once on the user-interface thread,
// otherwise posted.
void SendOrPost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (platform::OnUiThread()) {
        platform::DeliverMessage(hwnd, message, wParam, lParam);
    } else {
        PostMessageA(hwnd, message, wParam, lParam);
    }
}

void InvalidateTree(HWND hwnd, bool erase, bool children) {
    platform::InvalidateModelWindow(hwnd, erase);
    if (!children)
        return;
    for (HWND child : platform::ChildrenOf(hwnd))
        InvalidateTree(child, erase, true);
}

void PaintTree(HWND hwnd, bool children) {
    platform::PaintNow(hwnd);
    if (!children)
        return;
    for (HWND child : platform::ChildrenOf(hwnd))
        PaintTree(child, true);
}

// Moves `point` by the window's client origin on the screen: `sign` 1 to the screen, -1 back.
BOOL MoveByClientOrigin(HWND hwnd, LPPOINT point, int sign) {
    if (point == nullptr || !platform::IsModelWindow(hwnd))
        return Refuse(FALSE);
    POINT origin = platform::ClientOriginOnScreen(hwnd);
    point->x += sign * origin.x;
    point->y += sign * origin.y;
    return TRUE;
}

}  // namespace

BOOL IsWindow(HWND hwnd) {
    return platform::IsModelWindow(hwnd) ? TRUE : FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!platform::IsModelWindow(dialog))
        return Refuse<HWND>(nullptr);
    return platform::ChildWithId(dialog, id);
}

int GetDlgCtrlID(HWND hwnd) {
    int id = 0;
    if (!platform::InspectWindow(hwnd, [&](const WindowState& s) { id = s.id; })) {
        return Refuse(0);
    }
    return id;
}

HWND GetParent(HWND hwnd) {
    HWND parent = nullptr;
    if (!platform::InspectWindow(hwnd, [&](const WindowState& s) {
            parent = s.parent != nullptr ? s.parent : s.owner;
        })) {
        return Refuse<HWND>(nullptr);
    }
    return parent;
}

// The text functions are their messages; SendMessageA refuses a stale HWND.
BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int maxCount) {
    if (buffer != nullptr && maxCount > 0)
        buffer[0] = '\0';
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT,
                                         static_cast<WPARAM>(std::max(maxCount, 0)),
                                         reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hwnd) {
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? FALSE : SetWindowTextA(control, text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int maxCount) {
    if (buffer != nullptr && maxCount > 0)
        buffer[0] = '\0';
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : static_cast<UINT>(GetWindowTextA(control, buffer, maxCount));
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : SendMessageA(control, message, wParam, lParam);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr)
        return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    bool wasDisabled = false;
    if (!platform::ChangeWindow(hwnd, [&](WindowState& s) {
            wasDisabled = !s.enabled;
            s.enabled = enable != FALSE;
        })) {
        return Refuse(FALSE);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) {
    bool wasVisible = false;
    if (!platform::ChangeWindow(hwnd, [&](WindowState& s) {
            wasVisible = s.visible;
            bool topLevel = s.parent == nullptr;
            switch (command) {
                case SW_HIDE:
                    s.visible = false;
                    break;
                case SW_MINIMIZE:
                case SW_SHOWMINIMIZED:
                case SW_SHOWMINNOACTIVE:
                    s.visible = true;
                    if (topLevel)
                        s.iconic = true;
                    break;
                case SW_RESTORE:
                case SW_SHOWNORMAL:
                    s.visible = true;
                    s.iconic = false;
                    break;
                default:
                    s.visible = true;
                    break;
            }
        })) {
        return Refuse(FALSE);
    }
    if (!wasVisible && command != SW_HIDE) {
        InvalidateTree(hwnd, true, true);
        platform::WakeUi();
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
    bool enabled = false;
    if (!platform::InspectWindow(hwnd, [&](const WindowState& s) { enabled = s.enabled; })) {
        return Refuse(FALSE);
    }
    return enabled ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
    return platform::IsShownInModel(hwnd) ? TRUE : FALSE;
}

BOOL IsIconic(HWND hwnd) {
    bool iconic = false;
    platform::InspectWindow(hwnd, [&](const WindowState& s) { iconic = s.iconic; });
    return iconic ? TRUE : FALSE;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!platform::EndModal(dialog, result))
        return Refuse(FALSE);
    platform::WakeUi();
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    if (rect == nullptr)
        return FALSE;
    *rect = RECT{0, 0, 0, 0};
    return platform::InspectWindow(hwnd,
                                   [&](const WindowState& s) {
                                       rect->right = s.rect.right - s.rect.left;
                                       rect->bottom = s.rect.bottom - s.rect.top;
                                   })
               ? TRUE
               : Refuse(FALSE);
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    if (rect == nullptr || !GetClientRect(hwnd, rect))
        return FALSE;
    POINT origin = platform::ClientOriginOnScreen(hwnd);
    rect->left += origin.x;
    rect->right += origin.x;
    rect->top += origin.y;
    rect->bottom += origin.y;
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
    return MoveByClientOrigin(hwnd, point, 1);
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
    return MoveByClientOrigin(hwnd, point, -1);
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    bool moved = false;
    if (!platform::ChangeWindow(hwnd, [&](WindowState& s) {
            moved = s.rect.left != x || s.rect.top != y;
            s.rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        })) {
        return Refuse(FALSE);
    }
    if (moved) {
        POINT origin = platform::ClientOriginOnScreen(hwnd);
        SendOrPost(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
    if (repaint)
        InvalidateRect(hwnd, nullptr, TRUE);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT*, HRGN, UINT flags) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse(FALSE);
    bool children = (flags & RDW_ALLCHILDREN) != 0;
    if ((flags & RDW_INVALIDATE) != 0)
        InvalidateTree(hwnd, (flags & RDW_ERASE) != 0, children);
    if ((flags & RDW_VALIDATE) != 0)
        platform::ValidateModelWindow(hwnd);
    if ((flags & (RDW_UPDATENOW | RDW_ERASENOW)) != 0 && platform::OnUiThread() &&
        !platform::DispatchHeld()) {
        PaintTree(hwnd, children);
    } else {
        platform::WakeUi();
    }
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
    if (!platform::IsModelWindow(hwnd))
        return Refuse(FALSE);
    platform::InvalidateModelWindow(hwnd, erase != FALSE);
    platform::WakeUi();
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXSMICON:
        case SM_CYSMICON:
            return 16;
        case SM_CXSCREEN:
            return platform::ScreenSize().cx;
        case SM_CYSCREEN:
            return platform::ScreenSize().cy;
        default:
            return 0;
    }
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX*) {
    return TRUE;
}
