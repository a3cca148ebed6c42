// The records that libcurl hands to the one write callback: the header request's context and
// one record per ranged connection. Both begin with their mode, so the callback can tell them
// apart from the bare user pointer.
#pragma once

#include <curl/curl.h>

#include <atomic>

#include "platform/base/cstring.h"
#include "platform/base/types.h"
#include "platform/fs/file.h"

enum { MODE_NONE = 0, MODE_CHECK_HEADER = 1, MODE_DOWNLOAD = 2 };

struct HTTPHeaderInfo {
    int nMode = MODE_CHECK_HEADER;
    DWORD dwContentLength = 0;
    BOOL bRangesByte = FALSE;
    CString strFirstLine;
    // Engine addition: the length as sent, so that a size beyond 32 bits is seen, not wrapped.
    ULONGLONG ullContentLength = 0;
};

// Why a transfer's answer could not be placed in its range (written by the callback, logged by
// the worker after the transfer's end: the callback itself never logs).
enum DLFault {
    DL_FAULT_NONE = 0,
    DL_FAULT_STATUS,          // neither 206 nor an acceptable 200
    DL_FAULT_RANGE_START,     // Content-Range starts after the position asked for
    DL_FAULT_RANGE_END,       // Content-Range ends before the position asked for
    DL_FAULT_SIZE_CHANGED,    // the answer names another file size than the probe gave
    DL_FAULT_RANGES_IGNORED,  // 200 with the whole body to a range that does not start at 0
    DL_FAULT_FILE,            // the output file could not be positioned or written
    DL_FAULT_OVERRUN,         // more bytes than the range holds (the rest was dropped)
    DL_FAULT_PAST_CLAIM,      // more bytes than the answer's Content-Range claims (dropped)
    DL_FAULT_FILE_CHANGED,    // 200 to If-Range: the server's file is no longer the one resumed
};

// One record per connection. "Zeroed" means value-initialised (new DLInfo[n]()).
struct DLInfo {
    int nMode = MODE_NONE;
    int nIndex = 0;
    CFile* pFile = nullptr;
    DWORD dwStartRange = 0;
    // Advanced by the worker's callback, summed by the progress tick on the interface thread.
    std::atomic<DWORD> dwWrittenBytes{0};

    // Engine additions, valid while a run owns the record.
    // The bytes that the last flush of the output file put on the disk: what a save stores.
    std::atomic<DWORD> dwSyncedBytes{0};
    ULONGLONG ullRangeEnd = 0;   // one past the range's last byte, set for each transfer
    ULONGLONG ullAnswerEnd = 0;  // one past the last byte that the answer claims to carry
    CURL* pEasy = nullptr;       // the transfer, to read its answer's status and Content-Range
    int nAnswer = 0;             // 0 not yet checked, 1 placed, -1 refused
    ULONGLONG ullSkip = 0;       // bytes of the answer that lie before the position (already held)
    int nFault = DL_FAULT_NONE;
    ULONGLONG ullServerSize = 0;  // the size that the probe reported, for the answer's check
    // The validator that the request sent with If-Range, null without one.
    const CString* pIfRange = nullptr;
};

// The validator of an answer that If-Range can use: its strong ETag, else its Last-Modified,
// else empty. A weak ETag (W/...) is never one: If-Range compares strongly, so a server would
// answer every such request with the whole file.
CString AnswerValidator(CURL* curl);

// The system's one libcurl write function (user pointer: an HTTPHeaderInfo or a DLInfo).
size_t CurlWriteCallback(char* data, size_t size, size_t nmemb, void* userp);
