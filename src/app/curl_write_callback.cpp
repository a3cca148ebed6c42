// The one libcurl write function: header lines of the probe, or a range's bytes.
//
// A range's bytes land only where its answer says they belong: the answer is checked once,
// on its first bytes, against what was asked (status, Content-Range, size), bytes that the
// record already holds are skipped, and bytes past the range, or past what the answer itself
// claims to carry, are never written. A refused answer or a failing write ends the transfer (a
// short count makes libcurl fail it), and the worker reports the cause that the record carries.
#include <curl/curl.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/dl_info.h"
#include "platform/base/exceptions.h"

namespace {

// The lower-cased line is the header `name` (lower case): the name, blanks, then its colon.
bool StartsWithName(const CString& strLower, const char* name) {
    const int nName = static_cast<int>(std::strlen(name));
    if (!(strLower.Left(nName) == name))
        return false;
    int i = nName;
    while (i < strLower.GetLength() && (strLower[i] == ' ' || strLower[i] == '\t'))
        ++i;
    return i < strLower.GetLength() && strLower[i] == ':';
}

void ReadHeaderLine(HTTPHeaderInfo* pInfo, const char* data, size_t total) {
    CString strLine(data, static_cast<int>(total));
    if (pInfo->strFirstLine.IsEmpty()) {
        pInfo->strFirstLine = strLine;
    } else if (strLine.Left(5) == "HTTP/") {
        // A later answer of the same request (after a proxy's 407, say): only its own header
        // lines describe the file.
        pInfo->dwContentLength = 0;
        pInfo->ullContentLength = 0;
        pInfo->bRangesByte = FALSE;
    }
    CString strLower = strLine;
    strLower.MakeLower();
    // Only the headers themselves: a name merely containing these (X-Original-Content-Length)
    // describes something else.
    if (StartsWithName(strLower, "content-length")) {
        const int nColon = strLower.ReverseFind(':');
        const CString strValue = nColon >= 0 ? strLower.Mid(nColon + 1) : strLower;
        unsigned long long ullValue = 0;
        if (std::sscanf(strValue.GetString(), "%llu", &ullValue) != 1)
            ullValue = 0;
        pInfo->ullContentLength = ullValue;
        pInfo->dwContentLength = static_cast<DWORD>(ullValue);
    } else if (strLower.Find("accept-ranges: bytes") == 0) {
        pInfo->bRangesByte = TRUE;
    }
}

// "bytes a-b/total" or "bytes a-b/*"; false when it does not say where its bytes belong.
bool ParseContentRange(const char* value, ULONGLONG* first, ULONGLONG* last, ULONGLONG* total,
                       bool* totalKnown) {
    unsigned long long a = 0, b = 0, t = 0;
    int consumed = 0;
    if (std::sscanf(value, " bytes %llu-%llu/%n", &a, &b, &consumed) != 2 || consumed == 0)
        return false;
    if (b < a)
        return false;
    *first = a;
    *last = b;
    *totalKnown = std::sscanf(value + consumed, "%llu", &t) == 1;
    *total = t;
    return true;
}

// Decides once per transfer whether and how its answer can be placed in the record's range.
void CheckAnswer(DLInfo* pInfo) {
    const ULONGLONG ullPos =
        static_cast<ULONGLONG>(pInfo->dwStartRange) + pInfo->dwWrittenBytes.load();
    long nCode = 0;
    curl_easy_getinfo(pInfo->pEasy, CURLINFO_RESPONSE_CODE, &nCode);
    pInfo->nAnswer = -1;

    if (nCode == 206) {
        struct curl_header* pHeader = NULL;
        ULONGLONG ullFirst = 0, ullLast = 0, ullTotal = 0;
        bool bTotalKnown = false;
        if (curl_easy_header(pInfo->pEasy, "Content-Range", 0, CURLH_HEADER, -1, &pHeader) !=
                CURLHE_OK ||
            !ParseContentRange(pHeader->value, &ullFirst, &ullLast, &ullTotal, &bTotalKnown)) {
            pInfo->nFault = DL_FAULT_STATUS;
            return;
        }
        if (bTotalKnown && ullTotal != pInfo->ullServerSize) {
            pInfo->nFault = DL_FAULT_SIZE_CHANGED;
            return;
        }
        if (ullFirst > ullPos) {
            pInfo->nFault = DL_FAULT_RANGE_START;
            return;
        }
        if (ullLast < ullPos) {
            pInfo->nFault = DL_FAULT_RANGE_END;
            return;
        }
        pInfo->ullSkip = ullPos - ullFirst;
        pInfo->ullAnswerEnd = ullLast + 1;
        pInfo->nAnswer = 1;
        return;
    }
    if (nCode == 200) {
        // The whole file from its first byte: only a range that starts there can use it.
        curl_off_t nLength = -1;
        curl_easy_getinfo(pInfo->pEasy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &nLength);
        if (nLength >= 0 && static_cast<ULONGLONG>(nLength) != pInfo->ullServerSize) {
            pInfo->nFault = DL_FAULT_SIZE_CHANGED;
            return;
        }
        // A server that ignores ranges ignores If-Range too: only an answer that names the
        // same file may go on; any other is another file, none of whose bytes belong here.
        if (pInfo->pIfRange != nullptr && AnswerValidator(pInfo->pEasy) != *pInfo->pIfRange) {
            pInfo->nFault = DL_FAULT_FILE_CHANGED;
            return;
        }
        if (pInfo->dwStartRange != 0) {
            pInfo->nFault = DL_FAULT_RANGES_IGNORED;
            return;
        }
        pInfo->ullSkip = ullPos;
        pInfo->ullAnswerEnd = pInfo->ullServerSize;
        pInfo->nAnswer = 2;
        return;
    }
    pInfo->nFault = DL_FAULT_STATUS;
}

size_t WriteRange(DLInfo* pInfo, const char* data, size_t total) {
    if (pInfo->nAnswer == 0)
        CheckAnswer(pInfo);
    if (pInfo->nAnswer < 0)
        return 0;  // refused: libcurl ends the transfer with a write error

    size_t nOffset = 0;
    if (pInfo->ullSkip > 0) {
        const size_t nSkip = pInfo->ullSkip < total ? static_cast<size_t>(pInfo->ullSkip) : total;
        pInfo->ullSkip -= nSkip;
        nOffset = nSkip;
    }
    const DWORD dwWritten = pInfo->dwWrittenBytes.load();
    const ULONGLONG ullPos = static_cast<ULONGLONG>(pInfo->dwStartRange) + dwWritten;
    // An answer's bytes past its own claim are not the bytes it names, whatever follows them.
    const bool bClaimFirst = pInfo->ullAnswerEnd < pInfo->ullRangeEnd;
    const ULONGLONG ullEnd = bClaimFirst ? pInfo->ullAnswerEnd : pInfo->ullRangeEnd;
    const ULONGLONG ullRoom = ullPos < ullEnd ? ullEnd - ullPos : 0;
    const size_t nAvailable = total - nOffset;
    const size_t nCount = nAvailable < ullRoom ? nAvailable : static_cast<size_t>(ullRoom);
    if (nCount > 0) {
        try {
            pInfo->pFile->Seek(static_cast<LONGLONG>(ullPos), CFile::begin);
            pInfo->pFile->Write(data + nOffset, static_cast<UINT>(nCount));
        } catch (CException* e) {
            e->Delete();
            pInfo->nFault = DL_FAULT_FILE;
            return 0;
        }
        pInfo->dwWrittenBytes.store(dwWritten + static_cast<DWORD>(nCount));
    }
    if (nCount < nAvailable) {
        // Past the range (which is then complete) or past the answer's claim (which leaves the
        // range short, for the drop path to resume): the rest is dropped and the transfer ended.
        if (pInfo->nFault == DL_FAULT_NONE)
            pInfo->nFault = bClaimFirst ? DL_FAULT_PAST_CLAIM : DL_FAULT_OVERRUN;
        return 0;
    }
    return total;
}

}  // namespace

size_t CurlWriteCallback(char* data, size_t size, size_t nmemb, void* userp) {
    const size_t total = size * nmemb;
    const int nMode = *static_cast<int*>(userp);
    if (nMode == MODE_CHECK_HEADER) {
        try {
            ReadHeaderLine(static_cast<HTTPHeaderInfo*>(userp), data, total);
        } catch (CException* e) {
            e->Delete();
            return 0;
        } catch (...) {
            return 0;
        }
        return total;
    }
    if (nMode == MODE_DOWNLOAD)
        return WriteRange(static_cast<DLInfo*>(userp), data, total);
    return total;
}
