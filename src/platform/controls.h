// The control classes: each a CWnd whose members are the control's messages, answered by the
// window model at once from any thread. On a member that is bound to no window, the list
// classes answer CB_ERR / LB_ERR rather than a plausible 0.
#pragma once

#include "platform/cstring.h"
#include "platform/wnd.h"

class CButton : public CWnd {
  public:
    int GetCheck() const { return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    UINT GetState() const { return static_cast<UINT>(::SendMessageA(m_hWnd, BM_GETSTATE, 0, 0)); }
};

class CStatic : public CWnd {};

class CEdit : public CWnd {
  public:
    void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
    UINT GetLimitText() const {
        return static_cast<UINT>(::SendMessageA(m_hWnd, EM_GETLIMITTEXT, 0, 0));
    }
    BOOL SetReadOnly(BOOL readOnly = TRUE) {
        return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(readOnly)));
    }
};

class CComboBox : public CWnd {
  public:
    int GetCount() const { return Ask(CB_GETCOUNT); }
    int GetCurSel() const { return Ask(CB_GETCURSEL); }
    int SetCurSel(int index) { return Ask(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    int AddString(LPCSTR text) { return Ask(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
    int InsertString(int index, LPCSTR text) {
        return Ask(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    }
    int DeleteString(UINT index) { return Ask(CB_DELETESTRING, index); }
    void ResetContent() { Ask(CB_RESETCONTENT); }
    int GetLBTextLen(int index) const { return Ask(CB_GETLBTEXTLEN, static_cast<WPARAM>(index)); }
    int GetLBText(int index, LPSTR buffer) const {
        return Ask(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
    }
    // An index outside the list throws CInvalidArgException*, as the class library does.
    void GetLBText(int index, CString& text) const;
    int FindStringExact(int start, LPCSTR text) const {
        return Ask(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text));
    }
    int SelectString(int start, LPCSTR text) {
        return Ask(CB_SELECTSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text));
    }
    int SetItemData(int index, ULONG_PTR data);
    ULONG_PTR GetItemData(int index) const;

  private:
    int Ask(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
};

class CListBox : public CWnd {
  public:
    int GetCount() const { return Ask(LB_GETCOUNT); }
    int GetCurSel() const { return Ask(LB_GETCURSEL); }
    int SetCurSel(int index) { return Ask(LB_SETCURSEL, static_cast<WPARAM>(index)); }
    int GetSel(int index) const { return Ask(LB_GETSEL, static_cast<WPARAM>(index)); }
    int SetSel(int index, BOOL select = TRUE) {
        return Ask(LB_SETSEL, static_cast<WPARAM>(select), static_cast<LPARAM>(index));
    }
    int GetSelCount() const { return Ask(LB_GETSELCOUNT); }
    int AddString(LPCSTR text) { return Ask(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
    int InsertString(int index, LPCSTR text) {
        return Ask(LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    }
    int DeleteString(UINT index) { return Ask(LB_DELETESTRING, index); }
    void ResetContent() { Ask(LB_RESETCONTENT); }
    int GetTextLen(int index) const { return Ask(LB_GETTEXTLEN, static_cast<WPARAM>(index)); }
    int GetText(int index, LPSTR buffer) const {
        return Ask(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
    }
    // An index outside the list throws CInvalidArgException*, as the class library does.
    void GetText(int index, CString& text) const;
    int FindStringExact(int start, LPCSTR text) const {
        return Ask(LB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text));
    }
    int SetTopIndex(int index) { return Ask(LB_SETTOPINDEX, static_cast<WPARAM>(index)); }
    int GetTopIndex() const { return Ask(LB_GETTOPINDEX); }
    int SetItemData(int index, ULONG_PTR data);
    ULONG_PTR GetItemData(int index) const;

  private:
    int Ask(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange(short low, short high) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(low, high)); }
    void SetRange32(int low, int high) {
        SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
    }
    void GetRange(int& low, int& high) const;
    int SetPos(int pos) {
        return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos)));
    }
    int GetPos() const { return static_cast<int>(::SendMessageA(m_hWnd, PBM_GETPOS, 0, 0)); }
    int OffsetPos(int delta) {
        return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta)));
    }
    int SetStep(int step) {
        return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step)));
    }
    int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
    COLORREF SetBkColor(COLORREF color) {
        return static_cast<COLORREF>(SendMessage(PBM_SETBKCOLOR, 0, static_cast<LPARAM>(color)));
    }
    COLORREF SetBarColor(COLORREF color) {
        return static_cast<COLORREF>(SendMessage(PBM_SETBARCOLOR, 0, static_cast<LPARAM>(color)));
    }
};
