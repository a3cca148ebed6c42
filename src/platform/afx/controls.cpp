#include "platform/afx/controls.h"

#include "platform/base/exceptions.h"
#include "platform/window/window_ops.h"

namespace {

// The full LRESULT: item data is pointer-sized.
LRESULT AskList(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, int error) {
    if (!::IsWindow(hwnd))
        return error;
    return ::SendMessageA(hwnd, message, wParam, lParam);
}

void ItemText(HWND hwnd, UINT lengthMessage, UINT textMessage, int index, CString& text,
              int error) {
    int length =
        static_cast<int>(AskList(hwnd, lengthMessage, static_cast<WPARAM>(index), 0, error));
    if (length == error)
        AfxThrowInvalidArgException();
    char* buffer = text.GetBuffer(length + 1);
    AskList(hwnd, textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer), error);
    text.ReleaseBuffer(length);
}

}  // namespace

int CComboBox::Ask(UINT message, WPARAM wParam, LPARAM lParam) const {
    return static_cast<int>(AskList(m_hWnd, message, wParam, lParam, CB_ERR));
}

void CComboBox::GetLBText(int index, CString& text) const {
    ItemText(m_hWnd, CB_GETLBTEXTLEN, CB_GETLBTEXT, index, text, CB_ERR);
}

int CComboBox::SetItemData(int index, ULONG_PTR data) {
    return Ask(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

ULONG_PTR CComboBox::GetItemData(int index) const {
    return static_cast<ULONG_PTR>(
        AskList(m_hWnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0, CB_ERR));
}

int CListBox::Ask(UINT message, WPARAM wParam, LPARAM lParam) const {
    return static_cast<int>(AskList(m_hWnd, message, wParam, lParam, LB_ERR));
}

void CListBox::GetText(int index, CString& text) const {
    ItemText(m_hWnd, LB_GETTEXTLEN, LB_GETTEXT, index, text, LB_ERR);
}

int CListBox::SetItemData(int index, ULONG_PTR data) {
    return Ask(LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

ULONG_PTR CListBox::GetItemData(int index) const {
    return static_cast<ULONG_PTR>(
        AskList(m_hWnd, LB_GETITEMDATA, static_cast<WPARAM>(index), 0, LB_ERR));
}

void CProgressCtrl::GetRange(int& low, int& high) const {
    PBRANGE range{0, 0};
    ::SendMessageA(m_hWnd, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    low = range.iLow;
    high = range.iHigh;
}
