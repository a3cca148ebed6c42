#include "platform/window/user_input.h"

#include "platform/window/messages.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {

bool Notify(const WindowState& control, WORD code) {
    return PostMessageA(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code),
                        reinterpret_cast<LPARAM>(control.hwnd)) != FALSE;
}

// The auto radio buttons of the control's group: the siblings from the nearest WS_GROUP at or
// before it up to the next WS_GROUP.
void CheckInGroup(const WindowState& control) {
    std::vector<HWND> siblings = ChildrenOf(control.parent);
    size_t at = 0;
    while (at < siblings.size() && siblings[at] != control.hwnd)
        ++at;
    if (at == siblings.size())
        return;
    auto styleOf = [](HWND h) {
        DWORD style = 0;
        InspectWindow(h, [&](const WindowState& s) { style = s.style; });
        return style;
    };
    size_t first = at;
    while (first > 0 && (styleOf(siblings[first]) & WS_GROUP) == 0)
        --first;
    for (size_t i = first; i < siblings.size(); ++i) {
        if (i > first && (styleOf(siblings[i]) & WS_GROUP) != 0)
            break;
        ChangeWindow(siblings[i], [&](WindowState& s) {
            if (s.kind != WindowKind::RadioButton)
                return;
            if ((s.style & BS_TYPEMASK) != BS_AUTORADIOBUTTON && s.hwnd != control.hwnd)
                return;
            s.check = s.hwnd == control.hwnd ? BST_CHECKED : BST_UNCHECKED;
        });
    }
}

bool Reachable(HWND hwnd, WindowState* state) {
    return AcceptsUserInput(hwnd) && ReadWindow(hwnd, state) && state->parent != nullptr;
}

// Checked again under the model's lock: a worker may have changed the list since the view
// showed it, and a selection past its end would be followed by every later read.
bool SelectItem(HWND hwnd, int index) {
    bool selected = false;
    ChangeWindow(hwnd, [&](WindowState& c) {
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return;
        c.curSel = index;
        selected = true;
    });
    return selected;
}

}  // namespace

bool UserClicked(HWND control) {
    WindowState s;
    if (!Reachable(control, &s))
        return false;
    switch (s.kind) {
        case WindowKind::PushButton:
            return Notify(s, BN_CLICKED);
        case WindowKind::CheckBox:
            ChangeWindow(control, [](WindowState& c) {
                DWORD type = c.style & BS_TYPEMASK;
                if (type == BS_AUTOCHECKBOX)
                    c.check = c.check == BST_CHECKED ? 0 : BST_CHECKED;
                if (type == BS_AUTO3STATE)
                    c.check = (c.check + 1) % 3;
            });
            return Notify(s, BN_CLICKED);
        case WindowKind::RadioButton:
            if ((s.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
                CheckInGroup(s);
            return Notify(s, BN_CLICKED);
        case WindowKind::Static:
            // A static control reports clicks only with SS_NOTIFY; otherwise the click falls
            // through to the dialog.
            return (s.style & SS_NOTIFY) != 0 && Notify(s, STN_CLICKED);
        default:
            return false;
    }
}

bool UserSelected(HWND comboOrList, int index) {
    WindowState s;
    if (!Reachable(comboOrList, &s))
        return false;
    if (index < 0 || index >= static_cast<int>(s.items.size()))
        return false;
    if (s.kind == WindowKind::ComboBox)
        return SelectItem(comboOrList, index) && Notify(s, CBN_SELCHANGE);
    if (s.kind != WindowKind::ListBox || (s.style & LBS_NOSEL) != 0)
        return false;
    if ((s.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0) {
        std::vector<char> one(s.items.size(), 0);
        one[static_cast<size_t>(index)] = 1;
        return UserSelectedSet(comboOrList, one, index);
    }
    if (!SelectItem(comboOrList, index))
        return false;
    return (s.style & LBS_NOTIFY) == 0 || Notify(s, LBN_SELCHANGE);
}

bool UserSelectedSet(HWND list, const std::vector<char>& selected, int caret) {
    WindowState s;
    if (!Reachable(list, &s) || s.kind != WindowKind::ListBox)
        return false;
    if ((s.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) == 0 || (s.style & LBS_NOSEL) != 0) {
        return false;
    }
    bool applied = false;
    ChangeWindow(list, [&](WindowState& c) {
        // One flag per item, checked under the lock for the reason SelectItem gives.
        if (selected.size() != c.items.size())
            return;
        c.selected = selected;
        c.curSel = caret >= 0 && caret < static_cast<int>(c.items.size()) ? caret : -1;
        applied = true;
    });
    if (!applied)
        return false;
    return (s.style & LBS_NOTIFY) == 0 || Notify(s, LBN_SELCHANGE);
}

bool UserTyped(HWND edit, const std::string& text) {
    WindowState s;
    if (!Reachable(edit, &s) || s.kind != WindowKind::Edit || (s.style & ES_READONLY) != 0) {
        return false;
    }
    ChangeWindow(edit, [&](WindowState& c) { c.text = text; });
    return Notify(s, EN_CHANGE);
}

bool UserPressedKey(HWND dialog, UINT virtualKey, HWND focus) {
    if (!AcceptsUserInput(dialog))
        return false;
    int id;
    if (virtualKey == VK_ESCAPE) {
        id = IDCANCEL;
    } else if (virtualKey == VK_RETURN) {
        WindowState f;
        if (focus != nullptr && ReadWindow(focus, &f) && f.parent == dialog &&
            f.kind == WindowKind::PushButton) {
            return UserClicked(focus);
        }
        id = IDOK;
        for (HWND child : ChildrenOf(dialog)) {
            WindowState c;
            if (ReadWindow(child, &c) && c.kind == WindowKind::PushButton &&
                (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                id = c.id;
                break;
            }
        }
    } else {
        return false;
    }
    HWND button = ChildWithId(dialog, id);
    WindowState b;
    if (button != nullptr && ReadWindow(button, &b) && !b.enabled)
        return false;
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool UserClosed(HWND window) {
    if (!AcceptsUserInput(window))
        return false;
    return PostMessageA(window, WM_CLOSE, 0, 0) != FALSE;
}

}  // namespace platform
