// CDialog: a modal dialog from a template of the current resource module.
//
// DoModal builds the window from the template (dialog units converted with the base units of
// the template's font as the view maps it: x * bu.x / 4, y * bu.y / 8; every control gets the
// template's font), attaches the object, sends WM_INITDIALOG (OnInitDialog, whose base runs
// UpdateData(FALSE)) while the window is still hidden, shows it, and runs a nested loop of the
// user-interface thread until EndDialog; the window is then destroyed and DoModal returns
// EndDialog's value. A template that cannot be found, or no running user interface, gives -1
// and no window. The owner (the parent given, else the application's main window) is disabled
// during the run, as on Windows.
//
// Enter and Esc arrive as the IDOK and IDCANCEL commands (OnOK: UpdateData(TRUE), then
// EndDialog(IDOK); OnCancel: EndDialog(IDCANCEL)); the close box sends WM_CLOSE, whose default
// handling ends the dialog with IDCANCEL. Commands that neither the dialog's map nor its bases
// handle go to the application object's map, as with the class library.
#pragma once

#include "platform/afx/controls.h"
#include "platform/afx/data_exchange.h"
#include "platform/afx/wnd.h"

namespace platform {
struct DialogTemplate;
}

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)

  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    virtual INT_PTR DoModal();
    // DoModal from a template in memory.
    INT_PTR RunModalFromTemplate(const platform::DialogTemplate& dialogTemplate);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL OnCmdMsg(UINT id, int code, void* extra = nullptr, void* handlerInfo = nullptr) override;

    UINT m_nIDHelp = 0;
    CWnd* m_pParentWnd = nullptr;

  protected:
    afx_msg LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate = 0;

    DECLARE_MESSAGE_MAP()
};
