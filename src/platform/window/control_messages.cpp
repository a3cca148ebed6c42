#include "platform/window/control_messages.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/window/messages.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {

bool IsOneOf(WindowKind kind, std::initializer_list<WindowKind> kinds) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

bool IsButtonKind(WindowKind k) {
    return IsOneOf(k, {WindowKind::PushButton, WindowKind::CheckBox, WindowKind::RadioButton,
                       WindowKind::GroupBox});
}

const char* TextOf(LPARAM lParam) {
    const char* text = reinterpret_cast<const char*>(lParam);
    return text == nullptr ? "" : text;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    return s.size() >= n && strncasecmp(s.c_str(), prefix, n) == 0;
}

// CB_FINDSTRING: the first item after `start` (wrapping round; -1 searches from the top) that
// begins with, or with `exact` equals, the text, ignoring case.
int FindItem(const WindowState& s, WPARAM start, const char* text, bool exact) {
    int count = static_cast<int>(s.items.size());
    int first = static_cast<int>(static_cast<INT_PTR>(start));
    if (first < -1 || first >= count)
        first = -1;
    for (int step = 1; step <= count; ++step) {
        int i = (first + step) % count;
        const std::string& item = s.items[static_cast<size_t>(i)];
        bool match = exact ? strcasecmp(item.c_str(), text) == 0 : StartsWithNoCase(item, text);
        if (match)
            return i;
    }
    return -1;
}

int SortedPosition(const WindowState& s, const char* text) {
    auto it = std::upper_bound(s.items.begin(), s.items.end(), std::string(text),
                               [](const std::string& a, const std::string& b) {
                                   return strcasecmp(a.c_str(), b.c_str()) < 0;
                               });
    return static_cast<int>(it - s.items.begin());
}

void InsertItem(WindowState& s, int index, const char* text) {
    s.items.insert(s.items.begin() + index, text);
    s.itemData.insert(s.itemData.begin() + index, 0);
    s.selected.insert(s.selected.begin() + index, 0);
    if (s.curSel >= index)
        ++s.curSel;
}

void DeleteItem(WindowState& s, int index) {
    s.items.erase(s.items.begin() + index);
    s.itemData.erase(s.itemData.begin() + index);
    s.selected.erase(s.selected.begin() + index);
    if (s.curSel == index) {
        s.curSel = -1;
    } else if (s.curSel > index) {
        --s.curSel;
    }
}

void ClearItems(WindowState& s) {
    s.items.clear();
    s.itemData.clear();
    s.selected.clear();
    s.curSel = -1;
}

bool MultipleSelection(const WindowState& s) {
    return (s.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

bool ValidIndex(const WindowState& s, WPARAM index) {
    INT_PTR i = static_cast<INT_PTR>(index);
    return i >= 0 && i < static_cast<INT_PTR>(s.items.size());
}

bool IsComboList(const WindowState& s) {
    return (s.style & 0x3) == CBS_DROPDOWNLIST;
}

std::string VisibleText(const WindowState& s) {
    if (s.kind == WindowKind::ComboBox && IsComboList(s)) {
        return s.curSel >= 0 ? s.items[static_cast<size_t>(s.curSel)] : std::string();
    }
    return s.text;
}

int Clamp(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

// Each handler returns true when the message belongs to the kind; writes go through `change`.
using Result = LRESULT;

bool WindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Result* r) {
    switch (message) {
        case WM_SETTEXT:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                const char* text = TextOf(lParam);
                if (s.kind == WindowKind::ComboBox && IsComboList(s)) {
                    int i = FindItem(s, static_cast<WPARAM>(-1), text, true);
                    s.curSel = i;
                    *r = i < 0 ? CB_ERR : TRUE;
                    return;
                }
                s.text = text;
                *r = TRUE;
            });
        case WM_GETTEXT:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                *r = CopyWindowText(VisibleText(s), reinterpret_cast<LPSTR>(lParam),
                                    static_cast<int>(wParam));
            });
        case WM_GETTEXTLENGTH:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                *r = static_cast<Result>(VisibleText(s).size());
            });
        case WM_SETFONT:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                s.font = reinterpret_cast<HFONT>(wParam);
                *r = 0;
            });
        case WM_GETFONT:
            return InspectWindow(
                hwnd, [&](const WindowState& s) { *r = reinterpret_cast<Result>(s.font); });
        case WM_SETICON:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                HICON& slot = wParam == ICON_BIG ? s.bigIcon : s.smallIcon;
                *r = reinterpret_cast<Result>(slot);
                slot = reinterpret_cast<HICON>(lParam);
            });
        default:
            return false;
    }
}

bool ButtonMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM, Result* r) {
    switch (message) {
        case BM_GETCHECK:
            return InspectWindow(hwnd, [&](const WindowState& s) { *r = s.check; });
        case BM_SETCHECK:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                *r = 0;
                if (s.kind == WindowKind::PushButton || s.kind == WindowKind::GroupBox)
                    return;
                DWORD type = s.style & BS_TYPEMASK;
                bool threeState = type == BS_3STATE || type == BS_AUTO3STATE;
                if (wParam == BST_INDETERMINATE && threeState) {
                    s.check = BST_INDETERMINATE;
                } else {
                    s.check = wParam == BST_UNCHECKED ? BST_UNCHECKED : BST_CHECKED;
                }
            });
        default:
            return false;
    }
}

// The item messages that combo and list boxes share, by their own message numbers.
struct ItemMessages {
    UINT add, count, text, textLength, getData, setData;
    LRESULT err;
};
const ItemMessages kComboItems{CB_ADDSTRING,   CB_GETCOUNT,    CB_GETLBTEXT, CB_GETLBTEXTLEN,
                               CB_GETITEMDATA, CB_SETITEMDATA, CB_ERR};
const ItemMessages kListItems{LB_ADDSTRING,   LB_GETCOUNT,    LB_GETTEXT, LB_GETTEXTLEN,
                              LB_GETITEMDATA, LB_SETITEMDATA, LB_ERR};

// `sortStyle`: the style bit (CBS_SORT, LBS_SORT) that makes adding keep the items in order.
bool ItemMessage(const ItemMessages& m, DWORD sortStyle, HWND hwnd, UINT message, WPARAM wParam,
                 LPARAM lParam, Result* r) {
    if (message == m.add) {
        return ChangeWindow(hwnd, [&](WindowState& s) {
            const char* text = TextOf(lParam);
            bool sorted = (s.style & sortStyle) != 0;
            int at = sorted ? SortedPosition(s, text) : static_cast<int>(s.items.size());
            InsertItem(s, at, text);
            *r = at;
        });
    }
    if (message == m.count) {
        return InspectWindow(
            hwnd, [&](const WindowState& s) { *r = static_cast<Result>(s.items.size()); });
    }
    if (message == m.text || message == m.textLength) {
        return InspectWindow(hwnd, [&](const WindowState& s) {
            if (!ValidIndex(s, wParam)) {
                *r = m.err;
                return;
            }
            const std::string& item = s.items[wParam];
            if (message == m.textLength) {
                *r = static_cast<Result>(item.size());
            } else if (lParam != 0) {
                // The caller's buffer has room for the whole item, as the message requires.
                std::memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
                *r = static_cast<Result>(item.size());
            } else {
                *r = m.err;
            }
        });
    }
    if (message == m.getData) {
        return InspectWindow(hwnd, [&](const WindowState& s) {
            *r = ValidIndex(s, wParam) ? s.itemData[wParam] : m.err;
        });
    }
    if (message == m.setData) {
        return ChangeWindow(hwnd, [&](WindowState& s) {
            if (!ValidIndex(s, wParam)) {
                *r = m.err;
                return;
            }
            s.itemData[wParam] = lParam;
            *r = 0;
        });
    }
    return false;
}

bool ComboMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Result* r) {
    if (ItemMessage(kComboItems, CBS_SORT, hwnd, message, wParam, lParam, r))
        return true;
    switch (message) {
        case CB_GETCURSEL:
            return InspectWindow(hwnd, [&](const WindowState& s) { *r = s.curSel; });
        case CB_SETCURSEL:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                // -1 or an index outside the list clears the selection.
                s.curSel = ValidIndex(s, wParam) ? static_cast<int>(wParam) : -1;
                *r = s.curSel < 0 ? CB_ERR : s.curSel;
            });
        case CB_INSERTSTRING:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                INT_PTR at = static_cast<INT_PTR>(wParam);
                if (at == -1)
                    at = static_cast<INT_PTR>(s.items.size());
                if (at < 0 || at > static_cast<INT_PTR>(s.items.size())) {
                    *r = CB_ERR;
                    return;
                }
                InsertItem(s, static_cast<int>(at), TextOf(lParam));
                *r = at;
            });
        case CB_DELETESTRING:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                if (!ValidIndex(s, wParam)) {
                    *r = CB_ERR;
                    return;
                }
                DeleteItem(s, static_cast<int>(wParam));
                *r = static_cast<Result>(s.items.size());
            });
        case CB_RESETCONTENT:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                ClearItems(s);
                *r = 0;
            });
        case CB_FINDSTRING:
        case CB_FINDSTRINGEXACT:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                int i = FindItem(s, wParam, TextOf(lParam), message == CB_FINDSTRINGEXACT);
                *r = i < 0 ? CB_ERR : i;
            });
        default:
            return false;
    }
}

bool ListMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Result* r) {
    if (ItemMessage(kListItems, LBS_SORT, hwnd, message, wParam, lParam, r))
        return true;
    switch (message) {
        case LB_GETCURSEL:
            return InspectWindow(hwnd, [&](const WindowState& s) { *r = s.curSel; });
        case LB_SETCURSEL:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                if (MultipleSelection(s)) {
                    *r = LB_ERR;
                    return;
                }
                s.curSel = ValidIndex(s, wParam) ? static_cast<int>(wParam) : -1;
                // -1 clears the selection and still answers LB_ERR.
                *r = s.curSel < 0 ? LB_ERR : s.curSel;
            });
        case LB_GETSEL:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                if (!ValidIndex(s, wParam)) {
                    *r = LB_ERR;
                } else if (MultipleSelection(s)) {
                    *r = s.selected[wParam] ? 1 : 0;
                } else {
                    *r = s.curSel == static_cast<int>(wParam) ? 1 : 0;
                }
            });
        case LB_SETSEL:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                INT_PTR index = static_cast<INT_PTR>(lParam);
                if (!MultipleSelection(s) || index < -1 ||
                    index >= static_cast<INT_PTR>(s.items.size())) {
                    *r = LB_ERR;
                    return;
                }
                for (size_t i = 0; i < s.selected.size(); ++i) {
                    if (index == -1 || static_cast<INT_PTR>(i) == index)
                        s.selected[i] = wParam ? 1 : 0;
                }
                if (wParam && index >= 0)
                    s.curSel = static_cast<int>(index);
                *r = 0;
            });
        case LB_GETSELCOUNT:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                *r = MultipleSelection(s) ? std::count(s.selected.begin(), s.selected.end(), 1)
                                          : LB_ERR;
            });
        default:
            return false;
    }
}

bool ProgressMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Result* r) {
    auto setRange = [&](int low, int high) {
        return ChangeWindow(hwnd, [&](WindowState& s) {
            *r = MAKELONG(s.rangeLow, s.rangeHigh);
            s.rangeLow = low;
            s.rangeHigh = high;
            s.pos = Clamp(s.pos, std::min(low, high), std::max(low, high));
        });
    };
    switch (message) {
        case PBM_SETRANGE:
            return setRange(LOWORD(lParam), HIWORD(lParam));
        case PBM_GETRANGE:
            return InspectWindow(hwnd, [&](const WindowState& s) {
                if (lParam != 0) {
                    auto* range = reinterpret_cast<PBRANGE*>(lParam);
                    range->iLow = s.rangeLow;
                    range->iHigh = s.rangeHigh;
                }
                *r = wParam ? s.rangeLow : s.rangeHigh;
            });
        case PBM_SETPOS:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                *r = s.pos;
                s.pos = Clamp(static_cast<int>(wParam), std::min(s.rangeLow, s.rangeHigh),
                              std::max(s.rangeLow, s.rangeHigh));
            });
        case PBM_GETPOS:
            return InspectWindow(hwnd, [&](const WindowState& s) { *r = s.pos; });
        case PBM_SETBARCOLOR:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                *r = s.barColor;
                s.barColor = static_cast<COLORREF>(lParam);
            });
        case PBM_SETBKCOLOR:
            return ChangeWindow(hwnd, [&](WindowState& s) {
                *r = s.bkColor;
                s.bkColor = static_cast<COLORREF>(lParam);
            });
        default:
            return false;
    }
}

}  // namespace

bool HandleStateMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    // Only the kind is read here: a copy of the whole state (list items included) on every
    // message would be paid by each progress update of a worker.
    WindowKind kind = WindowKind::Other;
    if (!InspectWindow(hwnd, [&](const WindowState& s) { kind = s.kind; }))
        return false;
    LRESULT r = 0;
    bool handled = WindowMessage(hwnd, message, wParam, lParam, &r);
    if (!handled) {
        if (IsButtonKind(kind)) {
            handled = ButtonMessage(hwnd, message, wParam, lParam, &r);
        } else if (kind == WindowKind::ComboBox) {
            handled = ComboMessage(hwnd, message, wParam, lParam, &r);
        } else if (kind == WindowKind::ListBox) {
            handled = ListMessage(hwnd, message, wParam, lParam, &r);
        } else if (kind == WindowKind::Progress) {
            handled = ProgressMessage(hwnd, message, wParam, lParam, &r);
        }
    }
    if (handled && result != nullptr)
        *result = r;
    return handled;
}

int CopyWindowText(const std::string& text, LPSTR buffer, int size) {
    if (buffer == nullptr || size <= 0)
        return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    // Never end inside a multi-byte character.
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace platform
