// The worker of one transfer run: every unfinished range of the file over its own connection,
// all in one multi handle, written into the one output file.
//
// Where the run departs from a plain poll-every-2-ms loop: the loop waits on the transfers'
// sockets (at most kPollMs, so a stop request is seen promptly) instead of sleeping, and each
// transfer reads in large blocks; both keep the CPU cost per byte low. Before the run saves
// or leaves, the file's data is put on the disk, and only then do the records' synced counts,
// which every save stores, advance.
#include <curl/curl.h>

#include <vector>

#include "app/curl_use.h"
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "app/resource_text.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/sync.h"

namespace {
constexpr int kOpenTries = 4;
constexpr DWORD kOpenRetryMs = 300;
constexpr int kPollMs = 20;
constexpr long kReceiveBuffer = 512 * 1024;
constexpr DWORD kEndPauseMs = 1000;

const char* FaultText(int nFault) {
    switch (nFault) {
        case DL_FAULT_STATUS:
            return "the answer is neither a partial content nor the whole file";
        case DL_FAULT_RANGE_START:
            return "the answer's Content-Range starts after the position asked for";
        case DL_FAULT_RANGE_END:
            return "the answer's Content-Range ends before the position asked for";
        case DL_FAULT_SIZE_CHANGED:
            return "the answer names another file size than the header request gave";
        case DL_FAULT_RANGES_IGNORED:
            return "the server ignored the range and sent the whole file";
        case DL_FAULT_FILE:
            return "the output file could not be positioned or written";
        case DL_FAULT_OVERRUN:
            return "the server sent more than the range; the rest was dropped";
        case DL_FAULT_PAST_CLAIM:
            return "the server sent more bytes than its Content-Range claims; the rest was dropped";
        case DL_FAULT_FILE_CHANGED:
            return "the server answered If-Range with the whole file: its file has changed";
        default:
            return "";
    }
}

// Another user's file, or one that others may change, is never written into: its owner could
// have put anything around the ranges, and could change it before it is started. Closes such a
// file and says so.
BOOL RefusedAsForeign(CZELVDownloaderDlg& dlg, CFile& file, const CString& strPath) {
    if (file.IsOwnedByUserAlone())
        return FALSE;
    file.Abort();
    dlg.MessageHandler(LoadText(IDS_ERROR_CAPTION),
                       FormatText(IDS_FILE_NOT_OWN, strPath.GetString()));
    return TRUE;
}
}  // namespace

UINT CZELVDownloaderDlg::PerformDownload(LPVOID pParam) {
    auto* pDlg = static_cast<CZELVDownloaderDlg*>(pParam);
    pDlg->RunTransfers();
    pDlg->m_nLiveWorkers.fetch_sub(1);
    return 0;
}

DWORD CZELVDownloaderDlg::RangeStart(int nIndex, int nSplit) const {
    return static_cast<DWORD>(nIndex) * (m_nServerFileSize / static_cast<DWORD>(nSplit));
}

ULONGLONG CZELVDownloaderDlg::RangeEnd(int nIndex, int nSplit) const {
    // 64-bit, so that a range of no bytes (a file smaller than the split) ends where it starts.
    const ULONGLONG ullChunk = m_nServerFileSize / static_cast<DWORD>(nSplit);
    if (nIndex == nSplit - 1)
        return m_nServerFileSize;
    return (static_cast<ULONGLONG>(nIndex) + 1) * ullChunk;
}

BOOL CZELVDownloaderDlg::RecordsFit(int nSplit) const {
    if (m_pDLInfo == NULL || m_nRecordsSize != m_nServerFileSize)
        return FALSE;
    for (int i = 0; i < nSplit; ++i) {
        const DLInfo& info = m_pDLInfo[i];
        if (info.nMode != MODE_DOWNLOAD || info.nIndex != i ||
            !RangeHolds(i, nSplit, info.dwStartRange, info.dwWrittenBytes.load()))
            return FALSE;
    }
    return TRUE;
}

BOOL CZELVDownloaderDlg::RangeHolds(int nIndex, int nSplit, DWORD dwStart, DWORD dwWritten) const {
    return dwStart == RangeStart(nIndex, nSplit) &&
           dwStart + static_cast<ULONGLONG>(dwWritten) <= RangeEnd(nIndex, nSplit);
}

BOOL CZELVDownloaderDlg::RecordsHoldEveryByte(int nSplit) const {
    for (int i = 0; i < nSplit; ++i) {
        const DLInfo& info = m_pDLInfo[i];
        if (info.dwStartRange + static_cast<ULONGLONG>(info.dwWrittenBytes.load()) !=
            RangeEnd(i, nSplit))
            return FALSE;
    }
    return TRUE;
}

void CZELVDownloaderDlg::FillFreshRecords(int nSplit, CFile* pFile) {
    for (int i = 0; i < nSplit; ++i) {
        DLInfo& info = m_pDLInfo[i];
        info.nMode = MODE_DOWNLOAD;
        info.nIndex = i;
        info.pFile = pFile;
        info.dwStartRange = RangeStart(i, nSplit);
        info.dwWrittenBytes.store(0);
        info.dwSyncedBytes.store(0);
    }
    m_nRecordsSize = m_nServerFileSize;
}

BOOL CZELVDownloaderDlg::SyncOutputFile(CFile& file, int nSplit) {
    try {
        file.Flush();
    } catch (CException* e) {
        e->Delete();
        m_logFile.WriteLog("The download file could not be put on the disk", FALSE, LOG_ERROR);
        return FALSE;
    }
    for (int i = 0; i < nSplit; ++i)
        m_pDLInfo[i].dwSyncedBytes.store(m_pDLInfo[i].dwWrittenBytes.load());
    return TRUE;
}

BOOL CZELVDownloaderDlg::SetOutputLength(CFile& file, BOOL& bResume) {
    try {
        if (bResume && file.GetLength() != m_nServerFileSize) {
            m_logFile.WriteLog(
                "The download file does not have the size its progress was saved "
                "for; every range starts again",
                FALSE, LOG_ERROR);
            bResume = FALSE;
        }
        if (!bResume)
            RestartRanges(file, m_strServerValidator);
        return TRUE;
    } catch (CException* e) {
        e->Delete();
        file.Abort();
        m_logFile.WriteLog("set the length of the download file failed", FALSE, LOG_ERROR);
        return FALSE;
    }
}

BOOL CZELVDownloaderDlg::OpenOutputFile(CFile& file, BOOL& bResume) {
    for (int nTry = 0; nTry < kOpenTries; ++nTry) {
        m_logFile.WriteLog("open the download file", FALSE, LOG_INFO);
        CFileException openError;
        if (file.Open(m_strDLFullName,
                      CFile::modeReadWrite | CFile::typeBinary | CFile::shareExclusive,
                      &openError)) {
            if (RefusedAsForeign(*this, file, m_strDLFullName))
                return FALSE;
            if (SetOutputLength(file, bResume))
                return TRUE;
        } else {
            char szError[1024] = {0};
            openError.GetErrorMessage(szError, sizeof(szError));
            m_logFile.WriteLog("open the download file failed:", FALSE, LOG_INFO);
            m_logFile.WriteLog(szError, FALSE, LOG_INFO);
            m_logFile.WriteLog("try create new.", FALSE, LOG_INFO);
            ForgetSavedConnections();
            CFileException createError;
            // No truncation: a file that appeared meanwhile is checked before anything in it
            // changes.
            if (file.Open(m_strDLFullName,
                          CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                              CFile::typeBinary | CFile::shareExclusive,
                          &createError)) {
                if (RefusedAsForeign(*this, file, m_strDLFullName))
                    return FALSE;
                bResume = FALSE;
                if (SetOutputLength(file, bResume))
                    return TRUE;
            } else {
                char szCreateError[1024] = {0};
                createError.GetErrorMessage(szCreateError, sizeof(szCreateError));
                m_logFile.WriteLog("create new download file failed:", FALSE, LOG_INFO);
                m_logFile.WriteLog(szCreateError, FALSE, LOG_INFO);
            }
        }
        Sleep(kOpenRetryMs);
    }
    return FALSE;
}

void CZELVDownloaderDlg::RunTransfers() {
    m_logFile.WriteLog("+++++ PerformDownload()", FALSE, LOG_INFO);
    if (!m_bRangesByte)
        m_nSplitNum = 1;
    const int nSplit = m_nSplitNum;

    CCurlUse curlUse;
    m_logFile.WriteLog("curl_multi_init", FALSE, LOG_INFO);
    CURLM* multi = curl_multi_init();
    if (multi == NULL) {
        SetEvent(m_hEvent);
        m_logFile.WriteLog("FAILED to load commponents!!", TRUE, LOG_FATAL);
        MessageHandler("", "");
        return;
    }

    m_logFile.WriteLog("check m_pDLInfo", FALSE, LOG_INFO);
    BOOL bResume = FALSE;
    if (m_pDLInfo != NULL) {
        // Records that a failed run left unfilled, or that were made for another size or split,
        // cannot say where the file's bytes are.
        bResume = RecordsFit(nSplit);
        if (!bResume)
            m_logFile.WriteLog(
                "The saved progress does not fit this download; every range starts "
                "again",
                FALSE, LOG_INFO);
    } else {
        m_pDLInfo = new DLInfo[static_cast<size_t>(nSplit)]();
    }

    CFile file;
    if (!OpenOutputFile(file, bResume)) {
        // Nothing runs: the download is paused, and the state display that follows the resume
        // shows it with the reason. All of it before the start event, while that resume waits.
        const CString strText = LoadText(IDS_OPEN_FILE_FAILED);
        m_logFile.WriteLog(strText, FALSE, LOG_FATAL);
        // The tries may have dropped the saved keys of progress that the file still holds.
        if (bResume && !SaveRegConnectionInfo())
            m_logFile.WriteLog(LoadText(IDS_PROGRESS_NOT_SAVED), FALSE, LOG_ERROR);
        m_strResumeRefusal = strText;
        m_nStatus = STATUS_PAUSED;
        SetEvent(m_hEvent);
        curl_multi_cleanup(multi);
        return;
    }
    if (!bResume)
        FillFreshRecords(nSplit, &file);
    WriteLogLine(LOG_INFO, "Detect this resume download ? %d", bResume);

    // A resumed range is asked for only if the server's file is still the one it came from.
    curl_slist* pIfRange = NULL;
    if (bResume && !m_strRecordsValidator.IsEmpty())
        pIfRange = curl_slist_append(NULL, "If-Range: " + m_strRecordsValidator);
    std::vector<CURL*> handles(static_cast<size_t>(nSplit), nullptr);
    int nAdded = AddTransfers(multi, handles, file, pIfRange);

    WriteLogLine(LOG_INFO, "Add total %d connections in multi-handle! Start to PERFORM~", nAdded);
    int nSucceeded = 0;
    int nRunning = 0;
    BOOL bRangesIgnored = FALSE;
    SetTimer(IDT_PROGRESS, PROGRESS_TIMER_MS, NULL);

    do {
        const CURLMcode mc = curl_multi_perform(multi, &nRunning);
        if (mc > 0)
            WriteLogLine(LOG_ERROR, "Got Multi-Handle error == %d", mc);
        if (m_nStatus != STATUS_DOWNLOADING) {
            m_logFile.WriteLog("** Force to PAUSE all connections.", FALSE, LOG_INFO);
            for (CURL* easy : handles) {
                if (easy != NULL)
                    curl_easy_pause(easy, CURLPAUSE_ALL);
            }
            break;
        }
        BOOL bFileChanged = FALSE;
        CString strNewValidator;
        int nQueued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &nQueued)) {
            int j = 0;
            while (j < nSplit && handles[static_cast<size_t>(j)] != msg->easy_handle)
                ++j;
            if (j == nSplit) {
                WriteLogLine(LOG_ERROR, "**Connection%d : FAILED %d -- %s", j, msg->data.result,
                             curl_easy_strerror(msg->data.result));
                continue;
            }
            if (TransferEnded(j, msg->data.result))
                ++nSucceeded;
            if (m_pDLInfo[j].nFault == DL_FAULT_RANGES_IGNORED || m_pDLInfo[j].nAnswer == 2)
                bRangesIgnored = TRUE;
            if (m_pDLInfo[j].nFault == DL_FAULT_FILE_CHANGED && !bFileChanged) {
                bFileChanged = TRUE;
                strNewValidator = AnswerValidator(msg->easy_handle);
            }
        }
        if (bFileChanged) {
            // Nothing of the answers was written; the held ranges belong to the old file.
            RemoveTransfers(multi, handles);
            curl_slist_free_all(pIfRange);
            pIfRange = NULL;
            nSucceeded = 0;
            nAdded = 0;
            nRunning = 0;
            if (StartAgainFromZero(file, nSplit, strNewValidator)) {
                nAdded = AddTransfers(multi, handles, file, NULL);
                nRunning = nAdded;
            } else {
                nAdded = 1;  // none succeeded: the run ends as dropped, and is resumed
            }
        }
        SetEvent(m_hEvent);
        if (nRunning != 0)
            curl_multi_poll(multi, NULL, 0, kPollMs, NULL);
    } while (nRunning != 0);
    // Also a run that leaves before its first pass: the resume that started it waits for this.
    SetEvent(m_hEvent);

    // Records that hold every byte make a complete download, whatever the transfers reported:
    // the progress tick completes it, and neither the split nor the drop path may intervene.
    const BOOL bAllHeld = RecordsHoldEveryByte(nSplit);
    if (bRangesIgnored && m_nSplitNum > 1 && !bAllHeld)
        TreatServerAsWithoutRanges();

    SyncOutputFile(file, nSplit);
    if (m_nStatus == STATUS_DOWNLOADING && nSucceeded != nAdded && !bAllHeld) {
        m_logFile.WriteLog("Detect this download process is dropped!!", FALSE, LOG_ERROR);
        ConnectionsDropped();
    }

    RemoveTransfers(multi, handles);
    curl_slist_free_all(pIfRange);
    m_logFile.WriteLog("curl_multi_cleanup", FALSE, LOG_INFO);
    curl_multi_cleanup(multi);
    m_logFile.WriteLog("curl_global_cleanup", FALSE, LOG_INFO);
    m_logFile.WriteLog("close download file", FALSE, LOG_INFO);
    file.Abort();
    Sleep(kEndPauseMs);
    m_logFile.WriteLog("----- PerformDownload()", FALSE, LOG_INFO);
}

int CZELVDownloaderDlg::AddTransfers(CURLM* multi, std::vector<CURL*>& handles, CFile& file,
                                     curl_slist* pIfRange) {
    const int nSplit = static_cast<int>(handles.size());
    int nAdded = 0;
    for (int i = 0; i < nSplit; ++i) {
        CURL* easy = curl_easy_init();
        handles[static_cast<size_t>(i)] = easy;
        if (easy == NULL) {
            ++nAdded;  // counts as added, never succeeds: the run ends as dropped
            continue;
        }
        curl_easy_setopt(easy, CURLOPT_URL, m_strURL.GetString());
        SetCurlProxy(easy, i);

        DLInfo& info = m_pDLInfo[i];
        const ULONGLONG ullPos =
            static_cast<ULONGLONG>(info.dwStartRange) + info.dwWrittenBytes.load();
        const ULONGLONG ullEnd = RangeEnd(i, nSplit);
        if (ullPos >= ullEnd)
            continue;  // finished, or a range of no bytes
        CString strRange;
        if (i < nSplit - 1)
            strRange.Format("%d-%d", static_cast<int>(ullPos), static_cast<int>(ullEnd - 1));
        else
            strRange.Format("%d-", static_cast<int>(ullPos));
        info.pFile = &file;
        info.ullRangeEnd = ullEnd;
        info.pEasy = easy;
        info.ullAnswerEnd = 0;
        info.nAnswer = 0;
        info.ullSkip = 0;
        info.nFault = DL_FAULT_NONE;
        info.ullServerSize = m_nServerFileSize;
        info.pIfRange = pIfRange != NULL ? &m_strRecordsValidator : nullptr;
        curl_easy_setopt(easy, CURLOPT_RANGE, strRange.GetString());
        if (pIfRange != NULL)
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, pIfRange);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlWriteCallback);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &info);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, TRANSFER_CONNECT_TIMEOUT);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        WriteLogLine(LOG_INFO, "Add curl connect %d and its range :%s", i, strRange.GetString());
        curl_multi_add_handle(multi, easy);
        ++nAdded;
    }
    return nAdded;
}

void CZELVDownloaderDlg::RemoveTransfers(CURLM* multi, std::vector<CURL*>& handles) {
    for (CURL*& easy : handles) {
        m_logFile.WriteLog("curl_multi_remove_handle", FALSE, LOG_INFO);
        if (easy != NULL)
            curl_multi_remove_handle(multi, easy);
        m_logFile.WriteLog("curl_easy_cleanup", FALSE, LOG_INFO);
        if (easy != NULL)
            curl_easy_cleanup(easy);
        easy = NULL;
    }
}

void CZELVDownloaderDlg::RestartRanges(CFile& file, const CString& strValidator) {
    m_strServerValidator = strValidator;
    m_strRecordsValidator = strValidator;
    // A kill between the two must not leave keys that count bytes the file lost.
    ForgetSavedConnections();
    file.SetLength(m_nServerFileSize);
}

BOOL CZELVDownloaderDlg::StartAgainFromZero(CFile& file, int nSplit, const CString& strValidator) {
    FillFreshRecords(nSplit, &file);
    m_logFile.WriteLog(
        "The file on the server is no longer the one whose ranges were kept (If-Range was "
        "answered with the whole file); every range starts again from zero",
        FALSE, LOG_ERROR);
    try {
        RestartRanges(file, strValidator);
    } catch (CException* e) {
        e->Delete();
        m_logFile.WriteLog("set the length of the download file failed", FALSE, LOG_ERROR);
        return FALSE;
    }
    return TRUE;
}

BOOL CZELVDownloaderDlg::TransferEnded(int j, int nResult) {
    DLInfo& info = m_pDLInfo[j];
    const ULONGLONG ullEnd = info.ullRangeEnd;
    const BOOL bComplete =
        static_cast<ULONGLONG>(info.dwStartRange) + info.dwWrittenBytes.load() == ullEnd;
    if (info.nFault != DL_FAULT_NONE)
        WriteLogLine(LOG_ERROR, "**Connection%d : %s", j, FaultText(info.nFault));
    if (bComplete && (nResult == CURLE_OK || info.nFault == DL_FAULT_OVERRUN)) {
        WriteLogLine(LOG_INFO, "**Connection%d : Succeeded to complete task.", j);
        return TRUE;
    }
    if (nResult == CURLE_OK) {
        WriteLogLine(LOG_ERROR,
                     "**Connection%d : FAILED -- the server ended the answer with %u of the "
                     "range's %u bytes",
                     j, info.dwWrittenBytes.load(),
                     static_cast<unsigned>(ullEnd - info.dwStartRange));
        return FALSE;
    }
    WriteLogLine(LOG_ERROR, "**Connection%d : FAILED %d -- %s", j, nResult,
                 curl_easy_strerror(static_cast<CURLcode>(nResult)));
    return FALSE;
}
