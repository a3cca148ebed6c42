#include "platform/afx/data_exchange.h"

#include <cstdio>

#include "platform/afx/wnd.h"
#include "platform/window/window_ops.h"

BOOL CNotSupportedException::GetErrorMessage(LPSTR buffer, UINT maxChars, UINT*) const {
    if (buffer == nullptr || maxChars == 0)
        return FALSE;
    std::snprintf(buffer, maxChars, "%s",
                  "An unsupported operation was attempted: a control of the dialog is missing.");
    return TRUE;
}

void AfxThrowNotSupportedException() {
    throw new CNotSupportedException();
}

HWND CDataExchange::PrepareCtrl(int id) {
    HWND control = m_pDlgWnd == nullptr ? nullptr : ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (control == nullptr)
        AfxThrowNotSupportedException();
    m_idLastControl = control;
    return control;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd != nullptr)
        return;  // bound by an earlier exchange
    HWND hwnd = dx->PrepareCtrl(id);
    if (!control.SubclassWindow(hwnd))
        AfxThrowNotSupportedException();
}
