#include "platform/afx/dialog.h"

#include "platform/afx/app.h"
#include "platform/afx/dialog_build.h"
#include "platform/modules/resources.h"
#include "platform/view/qt_view.h"
#include "platform/window/dispatch.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), m_nIDTemplate(templateId) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    if (!platform::UiRunning())
        return -1;
    auto found = platform::FindDialogTemplate(AfxGetResourceHandle(), m_nIDTemplate);
    if (!found)
        return -1;
    return RunModalFromTemplate(*found);
}

INT_PTR CDialog::RunModalFromTemplate(const platform::DialogTemplate& dialogTemplate) {
    if (m_hWnd != nullptr || !platform::OnUiThread())
        return -1;
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    if (owner == nullptr) {
        CWnd* main = AfxGetMainWnd();
        if (main != this && main != nullptr)
            owner = main->GetSafeHwnd();
    }
    owner = platform::TopLevelOf(owner);

    HFONT font = nullptr;
    HWND hwnd = platform::BuildDialog(dialogTemplate, owner, &font);
    if (hwnd == nullptr)
        return -1;
    platform::ChangeWindow(hwnd, [](platform::WindowState& s) { s.modal = true; });
    Attach(hwnd);
    // The owner takes no input while its modal dialog runs.
    bool ownerWasEnabled = owner != nullptr && !::EnableWindow(owner, FALSE);

    INT_PTR result = -1;
    platform::DeliverMessage(hwnd, WM_INITDIALOG, 0, 0);
    if (!platform::ModalEnded(hwnd, &result) && platform::IsModelWindow(hwnd)) {
        ::ShowWindow(hwnd, SW_SHOW);
        platform::RunNestedLoop(
            [&] { return platform::ModalEnded(hwnd, &result) || !platform::IsModelWindow(hwnd); });
    }
    platform::DeliverMessage(hwnd, WM_DESTROY, 0, 0);
    if (ownerWasEnabled)
        ::EnableWindow(owner, TRUE);
    platform::ForgetMainWindow(this);
    Detach();
    platform::DestroyModelWindow(hwnd);
    DeleteObject(font);
    platform::SyncViewNow();
    return result;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo) {
    if (CWnd::OnCmdMsg(id, code, extra, handlerInfo))
        return TRUE;
    // The last chance goes to the application object, for commands (not notifications) below
    // the system range.
    if (code != 0 || id >= 0xF000)
        return FALSE;
    CWinApp* app = AfxGetApp();
    return app != nullptr && app->OnCmdMsg(id, code, extra, handlerInfo);
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}
