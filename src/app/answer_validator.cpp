// The validator that ties a resumed range to the file whose bytes it already holds.
#include <curl/curl.h>

#include "app/dl_info.h"

namespace {
CString HeaderOfLastAnswer(CURL* curl, const char* name) {
    struct curl_header* pHeader = NULL;
    if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &pHeader) != CURLHE_OK ||
        pHeader == NULL || pHeader->value == NULL)
        return CString();
    CString strValue = pHeader->value;
    strValue.Trim();
    return strValue;
}
}  // namespace

CString AnswerValidator(CURL* curl) {
    const CString strETag = HeaderOfLastAnswer(curl, "ETag");
    if (!strETag.IsEmpty() && !(strETag.Left(2) == "W/"))
        return strETag;
    return HeaderOfLastAnswer(curl, "Last-Modified");
}
