// The control messages as the model answers them, from any thread and without the user
// interface: lists, selections, check marks and progress bars.
#include "platform/afx/controls.h"

#include <gtest/gtest.h>

#include "platform/base/exceptions.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

namespace {

using platform::WindowKind;
using platform::WindowState;

struct Control {
    HWND parent;
    HWND hwnd;
    Control(const char* windowClass, DWORD style) {
        WindowState d;
        d.kind = WindowKind::Dialog;
        parent = platform::CreateModelWindow(d);
        WindowState c;
        c.parent = parent;
        c.id = 100;
        c.windowClass = windowClass;
        c.style = WS_CHILD | WS_VISIBLE | style;
        c.kind = platform::KindOf(windowClass, style);
        hwnd = platform::CreateModelWindow(c);
    }
    ~Control() { platform::DestroyModelWindow(parent); }
    LRESULT Send(UINT m, WPARAM w = 0, LPARAM l = 0) const { return SendMessageA(hwnd, m, w, l); }
    LRESULT SendText(UINT m, WPARAM w, const char* text) const {
        return SendMessageA(hwnd, m, w, reinterpret_cast<LPARAM>(text));
    }
};

std::string ItemText(const Control& c, UINT message, int index) {
    char buffer[64] = "";
    c.SendText(message, static_cast<WPARAM>(index), buffer);
    return buffer;
}

TEST(ComboBoxMessages, ItemsSelectionAndText) {
    Control combo("ComboBox", CBS_DROPDOWNLIST);
    EXPECT_EQ(combo.Send(CB_GETCURSEL), CB_ERR) << "no selection at first";
    EXPECT_EQ(combo.SendText(CB_ADDSTRING, 0, "Beta"), 0);
    EXPECT_EQ(combo.SendText(CB_ADDSTRING, 0, "Alpha"), 1) << "unsorted: appended";
    EXPECT_EQ(combo.SendText(CB_INSERTSTRING, 0, "Zero"), 0);
    EXPECT_EQ(combo.SendText(CB_INSERTSTRING, 9, "x"), CB_ERR);
    EXPECT_EQ(combo.Send(CB_GETCOUNT), 3);
    EXPECT_EQ(combo.Send(CB_SETCURSEL, 2), 2);
    EXPECT_EQ(ItemText(combo, CB_GETLBTEXT, 2), "Alpha");
    EXPECT_EQ(combo.Send(CB_GETLBTEXTLEN, 1), 4);
    EXPECT_EQ(combo.SendText(CB_GETLBTEXT, 7, static_cast<const char*>(nullptr)), CB_ERR);
    char text[16];
    GetWindowTextA(combo.hwnd, text, sizeof text);
    EXPECT_STREQ(text, "Alpha") << "a drop-down list shows its selected item";
    EXPECT_EQ(combo.SendText(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "alpha"), 2);
    EXPECT_EQ(combo.SendText(CB_FINDSTRING, static_cast<WPARAM>(-1), "Be"), 1);
    EXPECT_EQ(combo.SendText(CB_INSERTSTRING, 0, "New"), 0);
    EXPECT_EQ(combo.Send(CB_GETCURSEL), 3) << "the selection follows its item";
    EXPECT_EQ(combo.Send(CB_DELETESTRING, 3), 3);
    EXPECT_EQ(combo.Send(CB_GETCURSEL), CB_ERR) << "deleting the selected item clears it";
    EXPECT_EQ(combo.Send(CB_SETCURSEL, 1), 1);
    EXPECT_EQ(combo.Send(CB_SETCURSEL, 5), CB_ERR);
    EXPECT_EQ(combo.Send(CB_GETCURSEL), CB_ERR) << "an index outside clears the selection";
    combo.Send(CB_RESETCONTENT);
    EXPECT_EQ(combo.Send(CB_GETCOUNT), 0);
}

TEST(ComboBoxMessages, SortedBoxesInsertByTextIgnoringCase) {
    Control combo("ComboBox", CBS_DROPDOWNLIST | CBS_SORT);
    for (const char* t : {"delta", "Bravo", "alpha", "Charlie"})
        combo.SendText(CB_ADDSTRING, 0, t);
    const char* expected[] = {"alpha", "Bravo", "Charlie", "delta"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ItemText(combo, CB_GETLBTEXT, i), expected[i]);
    EXPECT_EQ(combo.SendText(CB_INSERTSTRING, 0, "zulu"), 0) << "insert does not sort";
}

TEST(ListBoxMessages, SingleSelection) {
    Control list("ListBox", LBS_NOTIFY);
    list.SendText(LB_ADDSTRING, 0, "Guide");
    list.SendText(LB_ADDSTRING, 0, "FAQ");
    struct Case {
        int set;
        LRESULT result;
        int selected;  // LB_GETCURSEL afterwards
    };
    const Case cases[] = {{1, 1, 1}, {-1, LB_ERR, -1}, {0, 0, 0}, {2, LB_ERR, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(list.Send(LB_SETCURSEL, static_cast<WPARAM>(c.set)), c.result) << c.set;
        EXPECT_EQ(list.Send(LB_GETCURSEL), c.selected) << c.set;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(list.Send(LB_GETSEL, static_cast<WPARAM>(i)), i == c.selected ? 1 : 0);
        }
    }
    EXPECT_EQ(list.Send(LB_GETSEL, 2), LB_ERR);
    EXPECT_EQ(list.Send(LB_SETSEL, TRUE, 0), LB_ERR) << "LB_SETSEL is for multiple selection";
    EXPECT_EQ(ItemText(list, LB_GETTEXT, 1), "FAQ");
    EXPECT_EQ(list.Send(LB_GETTEXTLEN, 0), 5);
}

TEST(ListBoxMessages, MultipleSelection) {
    Control list("ListBox", LBS_MULTIPLESEL);
    for (const char* t : {"a", "b", "c"})
        list.SendText(LB_ADDSTRING, 0, t);
    EXPECT_EQ(list.Send(LB_SETCURSEL, 0), LB_ERR);
    EXPECT_EQ(list.Send(LB_SETSEL, TRUE, 2), 0);
    EXPECT_EQ(list.Send(LB_SETSEL, TRUE, 0), 0);
    EXPECT_EQ(list.Send(LB_GETSELCOUNT), 2);
    EXPECT_EQ(list.Send(LB_GETSEL, 1), 0);
    EXPECT_EQ(list.Send(LB_SETSEL, FALSE, static_cast<LPARAM>(-1)), 0);
    EXPECT_EQ(list.Send(LB_GETSELCOUNT), 0);
}

TEST(ButtonMessages, CheckMarksByKind) {
    struct Case {
        DWORD style;
        WPARAM set;
        LRESULT expected;
    };
    const Case cases[] = {
        {BS_AUTOCHECKBOX, BST_CHECKED, BST_CHECKED},
        {BS_AUTOCHECKBOX, BST_INDETERMINATE, BST_CHECKED},  // two states only
        {BS_AUTO3STATE, BST_INDETERMINATE, BST_INDETERMINATE},
        {BS_AUTO3STATE, BST_UNCHECKED, BST_UNCHECKED},
        {BS_PUSHBUTTON, BST_CHECKED, BST_UNCHECKED},  // a push button has no mark
    };
    for (const Case& c : cases) {
        Control button("Button", c.style);
        button.Send(BM_SETCHECK, c.set);
        EXPECT_EQ(button.Send(BM_GETCHECK), c.expected) << c.style << " " << c.set;
    }
}

TEST(ProgressMessages, RangePositionAndColoursAnswerThePreviousValues) {
    Control bar("msctls_progress32", PBS_SMOOTH);
    EXPECT_EQ(bar.Send(PBM_SETRANGE, 0, MAKELPARAM(0, 100)), MAKELONG(0, 100)) << "the default";
    EXPECT_EQ(bar.Send(PBM_SETPOS, 40), 0);
    EXPECT_EQ(bar.Send(PBM_SETPOS, 250), 40);
    EXPECT_EQ(bar.Send(PBM_GETPOS), 100) << "clamped to the range";
    EXPECT_EQ(bar.Send(PBM_SETPOS, static_cast<WPARAM>(-5)), 100);
    EXPECT_EQ(bar.Send(PBM_GETPOS), 0);
    EXPECT_EQ(bar.Send(PBM_SETRANGE, 0, MAKELPARAM(10, 20)), MAKELONG(0, 100));
    EXPECT_EQ(bar.Send(PBM_GETPOS), 10) << "the position moves into a new range";
    PBRANGE range{};
    EXPECT_EQ(bar.Send(PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range)), 10);
    EXPECT_EQ(range.iHigh, 20);
    EXPECT_EQ(bar.Send(PBM_SETBKCOLOR, 0, 0xDEDEDE), static_cast<LRESULT>(CLR_DEFAULT));
    EXPECT_EQ(bar.Send(PBM_SETBKCOLOR, 0, 0x123456), 0xDEDEDE);
    EXPECT_EQ(bar.Send(PBM_SETBARCOLOR, 0, 0x00E600), static_cast<LRESULT>(CLR_DEFAULT));
    EXPECT_EQ(bar.Send(PBM_SETBARCOLOR, 0, 0), 0x00E600);
    // The bar's messages mean nothing to another kind of control.
    Control button("Button", BS_PUSHBUTTON);
    EXPECT_EQ(button.Send(PBM_SETPOS, 5), 0);
    EXPECT_EQ(button.Send(PBM_GETPOS), 0);
}

TEST(ControlClasses, ItemDataKeepsAWholePointerAndRefusesAnIndexOutside) {
    const ULONG_PTR wide = static_cast<ULONG_PTR>(0x1234567890ABCDEFull);
    Control combo("ComboBox", CBS_DROPDOWNLIST);
    CComboBox box;
    ASSERT_TRUE(box.Attach(combo.hwnd));
    box.AddString("one");
    EXPECT_EQ(box.SetItemData(0, wide), 0);
    EXPECT_EQ(box.GetItemData(0), wide);
    EXPECT_EQ(box.SetItemData(1, wide), CB_ERR);
    EXPECT_EQ(box.GetItemData(1), static_cast<ULONG_PTR>(CB_ERR));
    box.Detach();

    Control listControl("ListBox", 0);
    CListBox list;
    ASSERT_TRUE(list.Attach(listControl.hwnd));
    list.AddString("one");
    EXPECT_EQ(list.SetItemData(0, wide), 0);
    EXPECT_EQ(list.GetItemData(0), wide);
    EXPECT_EQ(list.GetItemData(-1), static_cast<ULONG_PTR>(LB_ERR));
    list.Detach();
}

TEST(ControlClasses, BoundMembersSpeakTheirControlsMessages) {
    Control combo("ComboBox", CBS_DROPDOWNLIST);
    CComboBox box;
    ASSERT_TRUE(box.Attach(combo.hwnd));
    box.AddString("one");
    box.AddString("two");
    box.SetCurSel(1);
    CString text;
    box.GetLBText(1, text);
    EXPECT_EQ(text, "two");
    EXPECT_EQ(box.GetCount(), 2);
    try {
        box.GetLBText(5, text);
        ADD_FAILURE() << "an index outside the list must throw";
    } catch (CInvalidArgException* e) {
        e->Delete();
    }
    EXPECT_EQ(CWnd::FromHandle(combo.hwnd), &box);
    box.Detach();

    CComboBox unbound;
    EXPECT_EQ(unbound.GetCurSel(), CB_ERR);
    EXPECT_EQ(unbound.GetCount(), CB_ERR);
    EXPECT_EQ(unbound.GetItemData(0), static_cast<ULONG_PTR>(CB_ERR));
    CListBox unboundList;
    EXPECT_EQ(unboundList.GetSel(0), LB_ERR);
    EXPECT_EQ(unboundList.GetItemData(0), static_cast<ULONG_PTR>(LB_ERR));

    Control bar("msctls_progress32", 0);
    CProgressCtrl progress;
    progress.Attach(bar.hwnd);
    progress.SetRange(0, 100);
    progress.SetPos(30);
    EXPECT_EQ(progress.GetPos(), 30);
    int low = -1, high = -1;
    progress.GetRange(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    progress.Detach();
}

}  // namespace
