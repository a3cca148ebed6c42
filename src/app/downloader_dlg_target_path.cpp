// The target path: the only writer of m_strDLFullName.
#include "app/downloader_dlg.h"
#include "app/url_file_name.h"
#include "platform/shell/shell.h"

void CZELVDownloaderDlg::UpdateDLFullName(const CString& strFullName) {
    m_logFile.WriteLog("+++++ UpdateDLFullName()", FALSE, LOG_INFO);

    const int nSel = m_cbProduct.GetCurSel();
    if (nSel < 0 || nSel >= m_arrProductURL.GetSize()) {
        // No product entry for the selection: change nothing rather than index outside the list.
        m_logFile.WriteLog("----- UpdateDLFullName()", FALSE, LOG_INFO);
        return;
    }
    const CString& strURL = m_arrProductURL[nSel];

    CString strPath;
    if (strFullName.IsEmpty()) {
        char szDesktop[MAX_PATH] = {0};
        SHGetSpecialFolderPathA(NULL, szDesktop, CSIDL_DESKTOPDIRECTORY, FALSE);
        strPath.Format("%s\\%s", szDesktop, FileNameOfURL(strURL).GetString());
    } else {
        strPath = strFullName;
    }

    m_strDLFullName = strPath;
    SetDlgItemText(IDC_STATIC_PATH, m_strDLFullName);
    m_logFile.WriteLog("Change Full download name : " + m_strDLFullName, FALSE, LOG_INFO);
    m_logFile.WriteLog("----- UpdateDLFullName()", FALSE, LOG_INFO);
}
