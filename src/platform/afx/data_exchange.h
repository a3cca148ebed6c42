// Dialog data exchange: CDataExchange and DDX_Control, which binds a control member to its
// control the first time and leaves it bound afterwards. A missing control makes the exchange
// fail as with the class library: DDX_Control throws a CNotSupportedException*, which
// UpdateData catches, reports in a message box and answers with FALSE; the member then stays
// unbound and every call on it is refused.
#pragma once

#include "platform/base/exceptions.h"
#include "platform/base/types.h"

class CWnd;

class CNotSupportedException : public CException {
  public:
    BOOL GetErrorMessage(LPSTR buffer, UINT maxChars, UINT* helpContext = nullptr) const override;
};

[[noreturn]] void AfxThrowNotSupportedException();

class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    // The control of `id` in the dialog; throws when there is none.
    HWND PrepareCtrl(int id);

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND m_idLastControl = nullptr;
};

void DDX_Control(CDataExchange* dx, int id, CWnd& control);
