// The proxy settings dialog: one switch and the host, port, user and password fields that it
// enables. It checks nothing; the caller takes the three texts after OK.
#pragma once

#include "platform/afx/dialog.h"
#include "platform/afx/message_map.h"
#include "platform/afx/runtime_class.h"
#include "platform/base/cstring.h"
#include "resource.h"

class CConfigProxyDlg : public CDialog {
    DECLARE_DYNAMIC(CConfigProxyDlg)

  public:
    enum { IDD = IDD_CONFIG_PROXY };

    CConfigProxyDlg();
    ~CConfigProxyDlg() override;

    BOOL OnInitDialog() override;
    void EnableProxyFields(BOOL bEnable);

    CString m_strProxy;  // host and port joined by a colon
    CString m_strProxyUser;
    CString m_strProxyPassword;

  protected:
    afx_msg void OnCheckUseProxy();
    afx_msg void OnBnClickedOk();

    DECLARE_MESSAGE_MAP()
};
