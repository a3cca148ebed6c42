// The registry progress store: the settings of the one unfinished download and the progress
// of each of its connections.
//
// A saved state is used only when it fits: a split number of 1 to 12, a size the data model
// holds, and connection keys whose ranges are those that size and split give. Saves store the
// counts that the last flush of the output file put on the disk, never more.
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "platform/registry/registry.h"

namespace {
const char kBaseKey[] = "SOFTWARE\\Corvantis\\Downloader";
// The server file's validator (ETag or Last-Modified) that the saved ranges were fetched under.
const char kValidatorName[] = "ServerFileValidator";
constexpr REGSAM kOpenAccess = KEY_READ | KEY_WRITE;
constexpr REGSAM kCreateAccess = KEY_WRITE | KEY_QUERY_VALUE;
constexpr DWORD kTextBuffer = 260;

// Closes its key on every way out, exceptions included.
class CRegKey {
  public:
    CRegKey() = default;
    ~CRegKey() { CloseRegKeyIfOpen(&m_hKey); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    HKEY* operator&() { return &m_hKey; }
    operator HKEY() const { return m_hKey; }
    HKEY Detach() {
        HKEY hKey = m_hKey;
        m_hKey = NULL;
        return hKey;
    }
    static void CloseRegKeyIfOpen(HKEY* phKey) {
        if (*phKey != NULL)
            RegCloseKey(*phKey);
    }

  private:
    HKEY m_hKey = NULL;
};

BOOL OpenOrCreate(LPCSTR path, HKEY* phKey) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, kOpenAccess, phKey) == ERROR_SUCCESS)
        return TRUE;
    *phKey = NULL;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE, kCreateAccess,
                        NULL, phKey, NULL) == ERROR_SUCCESS)
        return TRUE;
    *phKey = NULL;
    return FALSE;
}

BOOL SetText(HKEY hKey, LPCSTR name, const CString& text) {
    return RegSetValueExA(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                          static_cast<DWORD>(text.GetLength()) + 1) == ERROR_SUCCESS;
}

BOOL SetNumber(HKEY hKey, LPCSTR name, DWORD value) {
    return RegSetValueExA(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

BOOL ReadRegText(HKEY hKey, LPCSTR name, CString& text) {
    char szBuffer[kTextBuffer] = {0};
    DWORD cbData = sizeof(szBuffer);
    if (RegQueryValueExA(hKey, name, NULL, NULL, reinterpret_cast<BYTE*>(szBuffer), &cbData) !=
        ERROR_SUCCESS)
        return FALSE;
    szBuffer[kTextBuffer - 1] = '\0';
    text = szBuffer;
    return TRUE;
}

CString ProgressKeyPath() {
    CString strPath;
    strPath.Format("%s\\Progress", kBaseKey);
    return strPath;
}

CString ConnectionKeyPath(int nIndex) {
    CString strPath;
    strPath.Format("%s\\Progress\\Connect%d", kBaseKey, nIndex);
    return strPath;
}
BOOL ReadRegValue(HKEY* phKey, LPCSTR name, DWORD* pValue) {
    DWORD dwValue = 0;
    DWORD cbData = sizeof(dwValue);
    if (RegQueryValueExA(*phKey, name, NULL, NULL, reinterpret_cast<BYTE*>(&dwValue), &cbData) !=
            ERROR_SUCCESS ||
        cbData != sizeof(dwValue))
        return FALSE;
    *pValue = dwValue;
    return TRUE;
}
}  // namespace

BOOL CZELVDownloaderDlg::LoadRegProgressInfo() {
    m_logFile.WriteLog("+++++ LoadRegProgressInfo()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    const CString strPath = ProgressKeyPath();
    CRegKey key;
    CString strLine;
    auto cannotRead = [&](LPCSTR name) {
        strLine.Format("Can't read data from : %s", name);
        m_logFile.WriteLog(strLine, FALSE, LOG_INFO);
    };
    auto logText = [&](LPCSTR name, const CString& value) {
        strLine.Format("%s = %s", name, value.GetString());
        m_logFile.WriteLog(strLine, FALSE, LOG_INFO);
    };
    auto logNumber = [&](LPCSTR name, DWORD value) {
        strLine.Format("%s = %d", name, static_cast<int>(value));
        m_logFile.WriteLog(strLine, FALSE, LOG_INFO);
    };

    do {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, strPath, 0, kOpenAccess, &key) != ERROR_SUCCESS) {
            m_logFile.WriteLog("Can't find key : " + strPath, FALSE, LOG_INFO);
            break;
        }
        m_logFile.WriteLog("Find key : " + strPath, FALSE, LOG_INFO);

        CString strText;
        if (!ReadRegText(key, "FullName", strText)) {
            cannotRead("FullName");
            break;
        }
        logText("FullName", strText);
        if (!FileOpens(strText)) {
            strLine.Format("Can't open downloading file : %s", strText.GetString());
            m_logFile.WriteLog(strLine, FALSE, LOG_INFO);
            break;
        }
        UpdateDLFullName(strText);

        if (!ReadRegText(key, "URL", strText)) {
            cannotRead("URL");
            break;
        }
        m_strURL = strText;
        logText("URL", strText);
        if (ReadRegText(key, "UseProxy", strText)) {
            m_strProxy = strText;
            logText("UseProxy", strText);
        }
        if (ReadRegText(key, "UN", strText)) {
            m_strProxyUser = strText;
            logText("UN", strText);
        }
        if (ReadRegText(key, "XX", strText)) {
            m_strProxyPassword = strText;
            logText("XX", "***");  // the password never reaches the log
        }

        HKEY hKey = key;
        DWORD dwValue = 0;
        if (!ReadRegValue(&hKey, "SplitNumber", &dwValue)) {
            cannotRead("SplitNumber");
            break;
        }
        if (dwValue < static_cast<DWORD>(MIN_SPLIT_NUM) ||
            dwValue > static_cast<DWORD>(MAX_SPLIT_NUM)) {
            strLine.Format("SplitNumber = %u lies outside %d to %d", dwValue, MIN_SPLIT_NUM,
                           MAX_SPLIT_NUM);
            m_logFile.WriteLog(strLine, FALSE, LOG_ERROR);
            break;
        }
        m_nSplitNum = static_cast<int>(dwValue);
        logNumber("SplitNumber", dwValue);

        if (!ReadRegValue(&hKey, "ServerFileSize", &dwValue)) {
            cannotRead("ServerFileSize");
            break;
        }
        if (dwValue > MAX_DOWNLOAD_SIZE) {
            strLine.Format("ServerFileSize = %u is beyond the largest download", dwValue);
            m_logFile.WriteLog(strLine, FALSE, LOG_ERROR);
            break;
        }
        m_nServerFileSize = dwValue;
        m_nRecordsSize = dwValue;
        logNumber("ServerFileSize", dwValue);

        if (!ReadRegValue(&hKey, "SupportRangesByte", &dwValue)) {
            cannotRead("SupportRangesByte");
            break;
        }
        m_bRangesByte = dwValue != 0 ? TRUE : FALSE;
        logNumber("SupportRangesByte", dwValue);
        // A state saved without it resumes unchecked, as it always did.
        m_strRecordsValidator.Empty();
        if (ReadRegText(key, kValidatorName, strText)) {
            m_strRecordsValidator = strText;
            logText(kValidatorName, strText);
        }

        SelectProductOfURL();
        bResult = TRUE;
    } while (false);

    WriteLogLine(LOG_INFO, "return value is %d", bResult);
    m_logFile.WriteLog("----- LoadRegProgressInfo()", FALSE, LOG_INFO);
    return bResult;
}

BOOL CZELVDownloaderDlg::LoadRegConnectionInfo() {
    m_logFile.WriteLog("+++++ LoadRegConnectionInfo()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    const int nSplit = m_nSplitNum;
    delete[] m_pDLInfo;
    m_pDLInfo = new DLInfo[static_cast<size_t>(nSplit)]();
    m_nRecordsSize = m_nServerFileSize;

    int i = 0;
    for (; i < nSplit; ++i) {
        CRegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ConnectionKeyPath(i), 0, kOpenAccess, &key) !=
            ERROR_SUCCESS)
            break;
        HKEY hKey = key;
        DLInfo& info = m_pDLInfo[i];
        DWORD dwStart = 0, dwWritten = 0;
        if (!ReadRegValue(&hKey, "StartRange", &dwStart))
            break;
        info.dwStartRange = dwStart;
        if (!ReadRegValue(&hKey, "WrittenBytes", &dwWritten))
            break;
        if (!RangeHolds(i, nSplit, dwStart, dwWritten)) {
            // Keys of another download, or damaged ones: they cannot say where the bytes are.
            info.dwStartRange = 0;
            WriteLogLine(LOG_ERROR,
                         "Connect%d = start:%d, written:%d does not fit the saved download", i,
                         static_cast<int>(dwStart), static_cast<int>(dwWritten));
            break;
        }
        info.dwWrittenBytes.store(dwWritten);
        info.dwSyncedBytes.store(dwWritten);
        info.nMode = MODE_DOWNLOAD;
        info.nIndex = i;
        WriteLogLine(LOG_INFO, "Connect%d = start:%d, written:%d", i, static_cast<int>(dwStart),
                     static_cast<int>(dwWritten));
    }
    if (i == nSplit)
        bResult = TRUE;
    WriteLogLine(LOG_INFO, "return value is %d", bResult);
    m_logFile.WriteLog("----- LoadRegConnectionInfo()", FALSE, LOG_INFO);
    return bResult;
}

BOOL CZELVDownloaderDlg::SaveRegConnectionInfo() {
    if (m_pDLInfo == NULL)
        return FALSE;
    // Connection keys without the settings would not make a download that a start can resume.
    if (m_bSettingsUnsaved) {
        const HKEY hSettings = WriteRegProgressInfo();
        if (hSettings != NULL)
            RegCloseKey(hSettings);
        if (m_bSettingsUnsaved)
            return FALSE;
    }
    // The first refused write ends the save: the store is held, and each call could wait.
    const int nSplit = m_nSplitNum;
    for (int i = 0; i < nSplit; ++i) {
        CRegKey key;
        if (!OpenOrCreate(ConnectionKeyPath(i), &key) ||
            !SetNumber(key, "StartRange", m_pDLInfo[i].dwStartRange) ||
            !SetNumber(key, "WrittenBytes", m_pDLInfo[i].dwSyncedBytes.load()))
            return FALSE;
    }
    return TRUE;
}

HKEY CZELVDownloaderDlg::WriteRegProgressInfo() {
    // Whatever an earlier download left (its connection keys above all) goes first: until the
    // first save, those keys would pass for this download's progress.
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBaseKey);
    CString strPath = kBaseKey;
    strPath += "\\Progress";
    CRegKey key;
    m_bSettingsUnsaved = TRUE;
    if (!OpenOrCreate(strPath, &key))
        return NULL;
    m_bSettingsUnsaved =
        !(SetText(key, "URL", m_strURL) && SetText(key, "UseProxy", m_strProxy) &&
          SetText(key, "FullName", m_strDLFullName) &&
          SetNumber(key, "SplitNumber", static_cast<DWORD>(m_nSplitNum.load())) &&
          SetNumber(key, "ServerFileSize", m_nServerFileSize) &&
          SetText(key, kValidatorName, m_strServerValidator) &&
          SetNumber(key, "SupportRangesByte", m_bRangesByte ? 1u : 0u) &&
          SetText(key, "UN", m_strProxyUser) && SetText(key, "XX", m_strProxyPassword));
    return key.Detach();
}

BOOL CZELVDownloaderDlg::FileOpens(const CString& strPath) {
    // Opened as every file of the program is, for reading and writing without sharing.
    CFile file;
    if (!file.Open(strPath, CFile::modeReadWrite | CFile::shareExclusive))
        return FALSE;
    file.Abort();
    return TRUE;
}

void CZELVDownloaderDlg::ForgetSavedConnections() {
    for (int i = 0; i < MAX_SPLIT_NUM; ++i)
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, ConnectionKeyPath(i));
    CRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProgressKeyPath(), 0, kOpenAccess, &key) ==
        ERROR_SUCCESS) {
        SetNumber(key, "ServerFileSize", m_nServerFileSize);
        SetText(key, kValidatorName, m_strRecordsValidator);
    }
}

void CZELVDownloaderDlg::TreatServerAsWithoutRanges() {
    m_logFile.WriteLog("The server ignores byte ranges: one connection from now on", FALSE,
                       LOG_ERROR);
    m_nSplitNum = 1;
    m_bRangesByte = FALSE;
    CRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProgressKeyPath(), 0, kOpenAccess, &key) == ERROR_SUCCESS)
        SetNumber(key, "SupportRangesByte", 0);
}
