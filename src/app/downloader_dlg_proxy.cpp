// The system proxy and the proxy-settings link.
#include <cstring>
#include <vector>

#include "app/config_proxy_dlg.h"
#include "app/downloader_dlg.h"
#include "platform/base/lasterror.h"
#include "platform/shell/inet.h"

BOOL CZELVDownloaderDlg::GetProxySetting() {
    m_logFile.WriteLog("+++++ GetProxySetting()", FALSE, LOG_INFO);
    BOOL bResult = TRUE;

    DWORD dwSize = 0;
    if (!InternetQueryOptionA(NULL, INTERNET_OPTION_PROXY, NULL, &dwSize)) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            std::vector<BYTE> buffer(dwSize);
            bResult = InternetQueryOptionA(NULL, INTERNET_OPTION_PROXY, buffer.data(), &dwSize);
            if (bResult && buffer.size() >= sizeof(INTERNET_PROXY_INFO)) {
                INTERNET_PROXY_INFO info;
                memcpy(&info, buffer.data(), sizeof info);
                // A direct setting that still carries a list gives that list.
                if (info.lpszProxy != NULL)
                    m_strProxy = info.lpszProxy;
            }
        } else {
            bResult = FALSE;
        }
    }

    // The transfers take one proxy for http; of a list, keep only its http entry.
    const int nHttp = m_strProxy.Find("http=");
    if (nHttp >= 0 && nHttp + 5 < m_strProxy.GetLength()) {
        CString strRest = m_strProxy.Mid(nHttp + 5);
        const int nBlank = strRest.Find(' ');
        m_strProxy = nBlank < 0 ? strRest : strRest.Left(nBlank);
    }

    m_logFile.WriteLog("Get Proxy string is : " + m_strProxy, FALSE, LOG_INFO);
    m_logFile.WriteLog("----- GetProxySetting()", FALSE, LOG_INFO);
    return bResult;
}

void CZELVDownloaderDlg::OnBnClickedProxy() {
    CConfigProxyDlg dlg;
    dlg.m_strProxy = m_strProxy;
    dlg.m_strProxyUser = m_strProxyUser;
    dlg.m_strProxyPassword = m_strProxyPassword;
    if (dlg.DoModal() != IDOK)
        return;

    m_strProxy = dlg.m_strProxy;
    m_strProxyUser = dlg.m_strProxyUser;
    m_strProxyPassword = dlg.m_strProxyPassword;
    // The password is user data: it never goes into the log.
    m_logFile.WriteLog("Get User proxy input::", FALSE, LOG_INFO);
    m_logFile.WriteLog(m_strProxy, FALSE, LOG_INFO);
    m_logFile.WriteLog(m_strProxyUser, FALSE, LOG_INFO);
}
