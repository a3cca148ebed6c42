// The control classes: each a CWnd whose members are the control's messages, answered by the
// window model at once from any thread. On a member that is bound to no window, the list
// classes answer CB_ERR / LB_ERR rather than a plausible 0.
#pragma once

#include "platform/afx/wnd.h"
#include "platform/base/cstring.h"

class CButton : public CWnd {};

class CComboBox : public CWnd {
  public:
    int GetCount() const { return Ask(CB_GETCOUNT); }
    int GetCurSel() const { return Ask(CB_GETCURSEL); }
    int SetCurSel(int index) { return Ask(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    int AddString(LPCSTR text) { return Ask(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
    int InsertString(int index, LPCSTR text) {
        return Ask(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    }
    // An index outside the list throws CInvalidArgException*, as the class library does.
    void GetLBText(int index, CString& text) const;
    int SetItemData(int index, ULONG_PTR data);
    ULONG_PTR GetItemData(int index) const;

  private:
    int Ask(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
};

class CListBox : public CWnd {
  public:
    int GetCount() const { return Ask(LB_GETCOUNT); }
    int GetCurSel() const { return Ask(LB_GETCURSEL); }
    int GetSel(int index) const { return Ask(LB_GETSEL, static_cast<WPARAM>(index)); }
    int AddString(LPCSTR text) { return Ask(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
    // An index outside the list throws CInvalidArgException*, as the class library does.
    void GetText(int index, CString& text) const;
    int SetItemData(int index, ULONG_PTR data);
    ULONG_PTR GetItemData(int index) const;

  private:
    int Ask(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange(short low, short high) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(low, high)); }
    void GetRange(int& low, int& high) const;
    int SetPos(int pos) {
        return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)));
    }
    int GetPos() const { return static_cast<int>(::SendMessageA(m_hWnd, PBM_GETPOS, 0, 0)); }
};
