#include "app/config_proxy_dlg.h"

IMPLEMENT_DYNAMIC(CConfigProxyDlg, CDialog)

BEGIN_MESSAGE_MAP(CConfigProxyDlg, CDialog)
ON_BN_CLICKED(IDC_CHECK_USE_PROXY, &CConfigProxyDlg::OnCheckUseProxy)
ON_BN_CLICKED(IDOK, &CConfigProxyDlg::OnBnClickedOk)
END_MESSAGE_MAP()

CConfigProxyDlg::CConfigProxyDlg() : CDialog(IDD, nullptr) {}

CConfigProxyDlg::~CConfigProxyDlg() = default;

BOOL CConfigProxyDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    CWnd* pCheck = GetDlgItem(IDC_CHECK_USE_PROXY);
    if (m_strProxy.IsEmpty()) {
        // The fields stay empty: credentials held without a proxy are not shown.
        pCheck->SendMessage(BM_SETCHECK, BST_UNCHECKED);
        EnableProxyFields(FALSE);
        return TRUE;
    }

    pCheck->SendMessage(BM_SETCHECK, BST_CHECKED);
    // Only the last colon splits, so a host that holds colons itself stays whole.
    const int nColon = m_strProxy.ReverseFind(':');
    SetDlgItemText(IDC_EDIT_PROXY_HOST, nColon < 0 ? CString() : m_strProxy.Left(nColon));
    SetDlgItemText(IDC_EDIT_PROXY_PORT, m_strProxy.Mid(nColon + 1));
    SetDlgItemText(IDC_EDIT_PROXY_USER, m_strProxyUser);
    SetDlgItemText(IDC_EDIT_PROXY_PASSWORD, m_strProxyPassword);
    EnableProxyFields(TRUE);
    return TRUE;
}

void CConfigProxyDlg::OnCheckUseProxy() {
    const LRESULT nCheck = GetDlgItem(IDC_CHECK_USE_PROXY)->SendMessage(BM_GETCHECK);
    if (nCheck == BST_UNCHECKED)
        EnableProxyFields(FALSE);
    else if (nCheck == BST_CHECKED)
        EnableProxyFields(TRUE);
}

void CConfigProxyDlg::EnableProxyFields(BOOL bEnable) {
    const int ids[] = {IDC_EDIT_PROXY_HOST, IDC_EDIT_PROXY_PORT, IDC_EDIT_PROXY_USER,
                       IDC_EDIT_PROXY_PASSWORD};
    for (int id : ids)
        GetDlgItem(id)->EnableWindow(bEnable);
}

void CConfigProxyDlg::OnBnClickedOk() {
    if (GetDlgItem(IDC_CHECK_USE_PROXY)->SendMessage(BM_GETCHECK) == BST_CHECKED) {
        CString strHost, strPort;
        GetDlgItemText(IDC_EDIT_PROXY_HOST, strHost);
        GetDlgItemText(IDC_EDIT_PROXY_PORT, strPort);
        m_strProxy = strHost + ":" + strPort;
        GetDlgItemText(IDC_EDIT_PROXY_USER, m_strProxyUser);
        GetDlgItemText(IDC_EDIT_PROXY_PASSWORD, m_strProxyPassword);
    } else {
        m_strProxy.Empty();
        m_strProxyUser.Empty();
        m_strProxyPassword.Empty();
    }
    CDialog::OnOK();
}
