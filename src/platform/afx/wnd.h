// CWnd: the class library's window object over an HWND of the window model.
//
// A CWnd is attached to at most one window and a window to at most one CWnd: a dialog object
// during its modal run, a control member once DDX_Control bound it. FromHandle gives the
// attached object, or else a wrapper that the layer keeps for the rest of the run (a pointer
// from GetDlgItem stays usable; once its window is gone it refers to no window and every call
// on it is refused). Every operation is a window function of messages.h and acts on the model
// at once from any thread; only message handling (WindowProc and the handlers) runs on the
// user-interface thread.
//
// Default() hands the message being handled to the default processing: for WM_CLOSE on a
// dialog that ends the dialog with IDCANCEL; WM_NCHITTEST answers HTCLIENT inside the client
// area; WM_PAINT validates the window; the state messages are answered by the model.
#pragma once

#include "platform/afx/message_map.h"
#include "platform/base/cstring.h"
#include "platform/base/geometry.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/window_ops.h"

class CRgn;
class CDataExchange;

// CCmdTarget stays the first base: the message maps' handlers are reached from it.
class CWnd : public CCmdTarget, public platform::WindowProcedure {
    DECLARE_DYNAMIC(CWnd)

  public:
    CWnd() = default;
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    static CWnd* FromHandle(HWND hwnd);
    BOOL Attach(HWND hwnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hwnd);

    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;

    void SetWindowText(LPCSTR text);
    void GetWindowText(CString& text) const;
    void SetDlgItemText(int id, LPCSTR text);
    int GetDlgItemText(int id, CString& text) const;
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;

    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC timerProc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    // A null caption gives the application's name; an empty one stays empty.
    int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);

    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
    BOOL RedrawWindow(LPCRECT updateRect = nullptr, CRgn* updateRegion = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);

    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void ClientToScreen(LPRECT rect) const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);

    // Data exchange: FALSE when DoDataExchange failed; the failure has then been reported in a
    // message box.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* dx);

    // The message being handled, to the default processing.
    LRESULT Default();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

  protected:
    // The default handlers, for handlers of derived classes to call.
    afx_msg void OnPaint();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind);
    afx_msg LRESULT OnNcHitTest(CPoint point);
    afx_msg void OnTimer(UINT_PTR id);

    DECLARE_MESSAGE_MAP()
};
