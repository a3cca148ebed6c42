// The header request that probes the download URL, and the texts of libcurl's result codes.
#include <curl/curl.h>

#include "app/curl_use.h"
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"

namespace {
// The proxy options that the probe and every transfer share (libcurl copies the texts).
void SetProxyOptions(CURL* curl, const CString& strProxy, const CString& strUser,
                     const CString& strPassword, CLogFile& log, int nConnection) {
    CString strUserPwd;
    curl_easy_setopt(curl, CURLOPT_PROXY, strProxy.GetString());
    if (!strUser.IsEmpty()) {
        strUserPwd.Format("%s:%s", strUser.GetString(), strPassword.GetString());
        const CURLcode res =
            curl_easy_setopt(curl, CURLOPT_PROXYAUTH,
                             static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
        if (res != CURLE_OK) {
            if (nConnection < 0)
                log.WriteLogFormat(LOG_FATAL, "Set proxy authentication method error [%d]", res);
            else
                log.WriteLogFormat(LOG_FATAL,
                                   "Set proxy authentication method for %dth connection error [%d]",
                                   nConnection, res);
        }
    }
    curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, strUserPwd.GetString());
}
}  // namespace

void CZELVDownloaderDlg::SetCurlProxy(void* curl, int nConnection) {
    SetProxyOptions(static_cast<CURL*>(curl), m_strProxy, m_strProxyUser, m_strProxyPassword,
                    m_logFile, nConnection);
}

BOOL CZELVDownloaderDlg::CheckHTTPHeader() {
    m_logFile.WriteLog("+++++ CheckHTTPHeader()", FALSE, LOG_INFO);
    BOOL bResult = FALSE;
    HTTPHeaderInfo headerInfo;
    CCurlUse curlUse;

    CURL* curl = curl_easy_init();
    if (curl == NULL) {
        m_logFile.WriteLog("FAILED to load commponents!!", TRUE, LOG_FATAL);
        MessageHandler("", "");
        m_logFile.WriteLog("----- CheckHTTPHeader()", FALSE, LOG_INFO);
        return FALSE;
    }

    curl_easy_setopt(curl, CURLOPT_URL, m_strURL.GetString());
    SetCurlProxy(curl, -1);
    curl_easy_setopt(curl, CURLOPT_HEADER, 1L);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &headerInfo);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CurlWriteCallback);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, HEADER_CONNECT_TIMEOUT);
    // A server that accepts and never answers must not hold the window for ever.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, m_nHeaderTimeout);

    const CURLcode res = curl_easy_perform(curl);
    if (res != CURLE_OK) {
        m_logFile.WriteLog(GetCurlErrorText(res), TRUE, LOG_ERROR);
        WriteLogLine(LOG_ERROR, "cURL return code is %d", res);
        MessageHandler(LoadText(IDS_ERROR_CAPTION),
                       FormatText(IDS_DOWNLOAD_FAILED, m_strURL.GetString()));
    } else {
        long nCode = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &nCode);
        if (nCode == 200 && headerInfo.ullContentLength > MAX_DOWNLOAD_SIZE) {
            // Offsets are 32-bit and range texts signed: such a file cannot be placed.
            WriteLogLine(LOG_ERROR, "File size %llu is beyond the largest download %llu",
                         static_cast<unsigned long long>(headerInfo.ullContentLength),
                         static_cast<unsigned long long>(MAX_DOWNLOAD_SIZE));
            MessageHandler(LoadText(IDS_ERROR_CAPTION),
                           FormatText(IDS_FILE_TOO_LARGE, m_strURL.GetString()));
        } else if (nCode == 200) {
            m_nServerFileSize = headerInfo.dwContentLength;
            m_bRangesByte = headerInfo.bRangesByte;
            m_strServerValidator = AnswerValidator(curl);
            WriteLogLine(LOG_INFO,
                         "Succeeded to check connection!! File size is %d; support ranges = %d",
                         static_cast<int>(m_nServerFileSize), m_bRangesByte.load());
            bResult = TRUE;
        } else {
            m_logFile.WriteLog(FormatText(IDS_HTTP_STATUS_ERROR, static_cast<int>(nCode),
                                          headerInfo.strFirstLine.GetString()),
                               TRUE, LOG_ERROR);
        }
    }

    curl_easy_cleanup(curl);
    m_logFile.WriteLog("----- CheckHTTPHeader()", FALSE, LOG_INFO);
    return bResult;
}

CString CZELVDownloaderDlg::GetCurlErrorText(CURLcode code) {
    CString strText;
    const unsigned nCode = static_cast<unsigned>(code);
    if (nCode <= 92 && strText.LoadString(IDS_CURL_ERROR_BASE + nCode))
        return strText;
    return FormatText(IDS_CURL_ERROR_UNKNOWN, static_cast<int>(code));
}
