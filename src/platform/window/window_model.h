// The window model (internal to the layer): every window, dialog or control, as plain state
// behind one mutex. Every operation of the application acts here at once, from any thread,
// and never waits for the user-interface thread; the Qt view follows on that thread. Each
// change marks the window changed and, the first time since the view last looked, calls the
// change listener (the view posts itself one event for any number of changes).
//
// HWND values are numbers from a counter that never repeats within a run, so a stale or
// made-up HWND is simply not found: every call refuses it instead of following it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/window/messages.h"
#include "platform/window/winuser_constants.h"

class QImage;

namespace platform {

enum class WindowKind {
    Dialog,
    PushButton,
    CheckBox,
    RadioButton,
    GroupBox,
    Static,  // text
    Frame,   // SS_*FRAME, SS_*RECT, etched lines
    Edit,
    ComboBox,
    ListBox,
    Progress,
    Other,
};

// The kind of a control from its class name and style.
WindowKind KindOf(const std::string& windowClass, DWORD style);

struct WindowState {
    HWND hwnd = nullptr;
    HWND parent = nullptr;  // the dialog of a control; null for a top-level window
    HWND owner = nullptr;   // a top-level window's owner
    int id = 0;
    WindowKind kind = WindowKind::Other;
    std::string windowClass;
    DWORD style = 0, exStyle = 0;
    std::string text;
    bool enabled = true;
    bool visible = false;  // the window's own flag (WS_VISIBLE)
    bool iconic = false;
    bool modal = false;
    int check = BST_UNCHECKED;
    std::vector<std::string> items;
    std::vector<LPARAM> itemData;
    std::vector<char> selected;  // multiple-selection list boxes
    int curSel = -1;
    int rangeLow = 0, rangeHigh = 100, pos = 0;
    COLORREF barColor = CLR_DEFAULT, bkColor = CLR_DEFAULT;
    HFONT font = nullptr;
    HICON bigIcon = nullptr, smallIcon = nullptr;
    // The client area in pixels: for a top-level window in screen coordinates, for a control
    // relative to its parent's client area.
    RECT rect{};
};

// --- windows ---------------------------------------------------------------------------------
// Adds a window (initial.hwnd is ignored) as the last child of initial.parent; null when the
// parent is given but not a window.
HWND CreateModelWindow(const WindowState& initial);
// Removes a window and its children. The destroy listeners run after the model is updated.
void DestroyModelWindow(HWND hwnd);
// Called (outside the model's lock) with every HWND that was destroyed, children first, and
// the procedure it had (or null).
void AddDestroyListener(std::function<void(HWND, WindowProcedure*)> listener);

bool IsModelWindow(HWND hwnd);
bool ReadWindow(HWND hwnd, WindowState* out);
// Runs `change` on the window's state under the model's lock and tells the view; false (and
// `change` not run) for a stale HWND. `change` must not call back into the layer.
bool ChangeWindow(HWND hwnd, const std::function<void(WindowState&)>& change);
// Reads under the model's lock without marking anything changed.
bool InspectWindow(HWND hwnd, const std::function<void(const WindowState&)>& look);

std::vector<HWND> ChildrenOf(HWND parent);
HWND ChildWithId(HWND parent, int id);
HWND TopLevelOf(HWND hwnd);
std::vector<HWND> AllWindows();
// The window and every parent are visible / the window, every parent and the top-level window
// are enabled and visible: what the user can reach.
bool IsShownInModel(HWND hwnd);
bool AcceptsUserInput(HWND hwnd);
// The client area's top-left corner on the screen.
POINT ClientOriginOnScreen(HWND hwnd);

// --- the window procedure (messages.h) ---------------------------------------------------------
void SetWindowProcedure(HWND hwnd, WindowProcedure* procedure);
WindowProcedure* WindowProcedureOf(HWND hwnd);

// --- modal runs ------------------------------------------------------------------------------
// EndDialog: records the result and hides the dialog; the modal loop then ends.
bool EndModal(HWND hwnd, INT_PTR result);
bool ModalEnded(HWND hwnd, INT_PTR* result);
// The window is a dialog whose modal run has ended, or lies in one.
bool InEndedModal(HWND hwnd);

// --- painting --------------------------------------------------------------------------------
void InvalidateModelWindow(HWND hwnd, bool erase);
void ValidateModelWindow(HWND hwnd);
// The windows that wait to be painted, parents before children. Their state stays until each
// is taken, so that a nested loop entered while one paints still finds the others.
std::vector<HWND> InvalidWindows();
// Takes the invalid state of one window: true when it was invalid, `erase` then set.
bool TakeInvalid(HWND hwnd, bool* erase);

// The window's backing image: the size of its client area, transparent until something draws
// into it. User-interface thread only; null for a stale HWND. Valid until the window is
// destroyed; its size follows the client area (contents kept at the top left).
QImage* BackingImage(HWND hwnd);
// Tells the view that the backing image was drawn into.
void BackingImageChanged(HWND hwnd);
// True once BackingImageChanged was called for the window: until then the view need not paint
// the (transparent) image at all.
bool BackingImageDrawn(HWND hwnd);

// --- the view's side -------------------------------------------------------------------------
// The primary screen's size in pixels, as the view found it when it started (1024 x 768 until
// then); readable from any thread.
void SetScreenSize(SIZE size);
SIZE ScreenSize();
// Called (outside the lock, on any thread) when the first change after TakeChanges happens.
void SetChangeListener(void (*listener)());
struct ModelChanges {
    std::vector<HWND> changed;    // in creation order
    std::vector<HWND> destroyed;  // children first
    std::vector<HWND> repainted;  // backing images drawn into
};
ModelChanges TakeChanges();
// The view reports what the user did to the window's frame; not reported back to the view.
void SetWindowRectFromView(HWND hwnd, const RECT& rect);
void SetIconicFromView(HWND hwnd, bool iconic);

}  // namespace platform
