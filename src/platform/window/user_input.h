// What the user does to the controls (internal), shared by the Qt view and BM_CLICK: the model
// changes FIRST (the new check mark, selection or text), THEN the control's notification is
// posted to its dialog as WM_COMMAND (MAKEWPARAM(id, code), control HWND), so a handler always
// sees the new state. A control that is disabled or hidden in the model (or whose dialog is)
// takes no input, whatever the view still shows: each call then returns false and changes
// nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"

namespace platform {

bool UserClicked(HWND control);
bool UserSelected(HWND comboOrList, int index);
bool UserSelectedSet(HWND list, const std::vector<char>& selected, int caret);
bool UserTyped(HWND edit, const std::string& text);
// Enter and Esc in a dialog: the default button's command (IDOK without one) and IDCANCEL,
// unless the button of that id is disabled. `focus` is the control that has the focus (a push
// button with the focus takes Enter itself), or null.
bool UserPressedKey(HWND dialog, UINT virtualKey, HWND focus);
// The close box of a window: WM_CLOSE.
bool UserClosed(HWND window);

}  // namespace platform
