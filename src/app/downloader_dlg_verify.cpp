// Verification of the file at the target path, and the start of the installer.
#include <cstddef>

#include "app/downloader_dlg.h"
#include "app/resource_text.h"
#include "log/md5_checksum.h"
#include "platform/base/lasterror.h"
#include "platform/base/textconv.h"
#include "platform/fs/file.h"
#include "platform/fs/folders.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/sync.h"
#include "platform/kernel/version.h"
#include "platform/process/process.h"
#include "platform/process/token.h"
#include "platform/shell/shell.h"

namespace {
constexpr int kDigestTries = 4;
constexpr DWORD kDigestRetryMs = 100;
constexpr int kDigestLength = 32;
constexpr int kWidePath = 260;
constexpr int kWideCommandLine = 521;

// The program's path alone, in quotes. A quote in the path (a Linux file name may hold one) is
// written twice, so that the whole name is started and never a program named by a part of it.
// Even a path of 259 quotes fits the buffer.
void QuoteProgram(const wchar_t* szProgram, wchar_t* szCmdLine, size_t nSize) {
    size_t nAt = 0;
    szCmdLine[nAt++] = L'"';
    for (const wchar_t* p = szProgram; *p != L'\0' && nAt + 3 < nSize; ++p) {
        if (*p == L'"')
            szCmdLine[nAt++] = L'"';
        szCmdLine[nAt++] = *p;
    }
    szCmdLine[nAt++] = L'"';
    szCmdLine[nAt] = L'\0';
}
}  // namespace

BOOL CZELVDownloaderDlg::CheckMd5() {
    m_logFile.WriteLog("+++++ CheckMd5()", FALSE, LOG_INFO);
    BOOL bResult = TRUE;
    const int nSel = m_cbProduct.GetCurSel();
    // No selection (or one beyond the list) has no configured value: it passes, as a product
    // without one does.
    const CString strExpected =
        nSel >= 0 && nSel < m_arrProductMD5.GetSize() ? m_arrProductMD5[nSel] : CString();
    if (strExpected.IsEmpty()) {
        // No digest to compare, but only a file that is there can be started.
        bResult = FileOpens(m_strDLFullName);
        m_logFile.WriteLog("----- CheckMd5()", FALSE, LOG_INFO);
        return bResult;
    }

    CMd5Checksum md5(&m_logFile);
    CString strMd5;
    for (int nTry = 0; nTry < kDigestTries; ++nTry) {
        md5.GetFileMd5(strMd5, m_strDLFullName);
        if (!strMd5.IsEmpty())
            break;
        m_logFile.WriteLog("get empty md5, retry", FALSE, LOG_INFO);
        Sleep(kDigestRetryMs);
    }
    m_logFile.WriteLog("**Check MD5 and the value is = " + strMd5, FALSE, LOG_INFO);

    // A value written in upper case names the same digest.
    const BOOL bMatch = !strMd5.IsEmpty() && strExpected.GetLength() >= kDigestLength &&
                        strExpected.Left(kDigestLength).CompareNoCase(strMd5) == 0;
    if (!bMatch) {
        bResult = FALSE;
        // Only the file this run has just completed is ours to delete: an ordinary check may
        // find the user's own file at that path.
        if (!strMd5.IsEmpty() && m_bCompletionCheck) {
            DeleteFileA(m_strDLFullName);
            CString strText, strCaption;
            strText.LoadString(IDS_MD5_MISMATCH);
            strCaption.LoadString(IDS_MSGBOX_CAPTION);
            if (MessageBox(strText, strCaption, MB_OKCANCEL) == IDOK)
                PostMessage(WM_COMMAND, IDC_BUTTON_ACTION, 0);
        }
    }
    m_logFile.WriteLog("----- CheckMd5()", FALSE, LOG_INFO);
    return bResult;
}

BOOL CZELVDownloaderDlg::ExecuteInstallation() {
    m_logFile.WriteLog("+++++ ExecuteInstallation()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    if (CheckMd5()) {
        if (IsDlgButtonChecked(IDC_CHECK_LAUNCH) != 0)
            bResult = OnLaunch() != 0;  // a failed start keeps the dialog open
        CString strText;
        strText.LoadString(IDS_DOWNLOAD_VERIFIED);
        m_logFile.WriteLog(strText, TRUE, LOG_INFO);
    } else {
        m_logFile.WriteLog(LoadText(IDS_CURL_ERROR_BASE + 52), TRUE, LOG_INFO);
        MessageHandler(LoadText(IDS_ERROR_CAPTION),
                       FormatText(IDS_DOWNLOAD_FAILED, m_strURL.GetString()));
    }
    m_logFile.WriteLog("----- ExecuteInstallation()", FALSE, LOG_INFO);
    return bResult;
}

int CZELVDownloaderDlg::OnLaunch() {
    m_logFile.WriteLog("+++++ OnLaunch()", FALSE, LOG_INFO);
    int nResult = 1;
    UINT nFailure = 0;
    // Another user's file, or one that others may change, is never started: its code would
    // run as this user.
    if (!IsFileOwnedByUserAlone(m_strDLFullName)) {
        nFailure = GetLastError() == ERROR_ACCESS_DENIED ? IDS_FILE_NOT_OWN : IDS_LAUNCH_FAILED;
    } else {
        wchar_t szPath[kWidePath] = {0};
        MultiByteToWideChar(CP_ACP, 0, m_strDLFullName, -1, szPath, kWidePath);
        if (!LaunchCmd(szPath))
            nFailure = IDS_LAUNCH_FAILED;
    }
    if (nFailure != 0) {
        MessageHandler(LoadText(IDS_ERROR_CAPTION),
                       FormatText(nFailure, m_strDLFullName.GetString()));
        nResult = 0;
    }
    m_logFile.WriteLog("----- OnLaunch()", FALSE, LOG_INFO);
    return nResult;
}

BOOL CZELVDownloaderDlg::LaunchCmd(const wchar_t* szProgram) {
    m_logFile.WriteLog("+++++ LaunchCmd()", FALSE, LOG_INFO);
    BOOL bResult = TRUE;
    if (szProgram == NULL) {
        m_logFile.WriteLog("**LaunchCmd -- szProgram is NULL ", FALSE, LOG_INFO);
        return FALSE;
    }
    if (NeedElevation()) {
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = NULL;
        info.lpVerb = L"runas";
        info.lpFile = szProgram;
        info.lpParameters = NULL;
        info.lpDirectory = NULL;
        info.nShow = SW_HIDE;
        m_logFile.WriteLog("**LaunchCmd -- ShellExecuteEx ", FALSE, LOG_INFO);
        if (ShellExecuteExW(&info)) {
            if (info.hProcess != NULL)
                CloseHandle(info.hProcess);
        } else {
            bResult = FALSE;
        }
    } else {
        wchar_t szCmdLine[kWideCommandLine] = {0};
        QuoteProgram(szProgram, szCmdLine, kWideCommandLine);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        m_logFile.WriteLog("**LaunchCmd -- CreateProcessW ", FALSE, LOG_INFO);
        char szAnsi[kWideCommandLine * 4] = {0};
        WideCharToMultiByte(CP_ACP, 0, szCmdLine, -1, szAnsi, sizeof(szAnsi), NULL, NULL);
        m_logFile.WriteLog(szAnsi, FALSE, LOG_INFO);
        if (CreateProcessW(NULL, szCmdLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        } else {
            bResult = FALSE;
        }
    }
    m_logFile.WriteLog("---- LaunchCmd()", FALSE, LOG_INFO);
    return bResult;
}

BOOL CZELVDownloaderDlg::NeedElevation() {
    m_logFile.WriteLog("+++++ NeedElevation()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version) && version.dwMajorVersion >= 6) {
        HANDLE hToken = NULL;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &hToken)) {
            TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
            DWORD dwLength = 0;
            if (GetTokenInformation(hToken, TokenElevationType, &type, sizeof(type), &dwLength) &&
                type == TokenElevationTypeLimited)
                bResult = TRUE;
            CloseHandle(hToken);
        }
    }
    m_logFile.WriteLog("----- NeedElevation()", FALSE, LOG_INFO);
    return bResult;
}
