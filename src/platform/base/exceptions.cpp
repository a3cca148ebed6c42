#include "platform/base/exceptions.h"

#include <cstdio>

namespace {
BOOL CopyMessage(LPSTR buffer, UINT maxChars, const char* text) {
    if (buffer == nullptr || maxChars == 0)
        return FALSE;
    std::snprintf(buffer, maxChars, "%s", text);
    return TRUE;
}
}  // namespace

BOOL CException::GetErrorMessage(LPSTR buffer, UINT maxChars, UINT*) const {
    return CopyMessage(buffer, maxChars, "An unexpected error occurred.");
}

BOOL CMemoryException::GetErrorMessage(LPSTR buffer, UINT maxChars, UINT*) const {
    return CopyMessage(buffer, maxChars, "Out of memory.");
}

BOOL CInvalidArgException::GetErrorMessage(LPSTR buffer, UINT maxChars, UINT*) const {
    return CopyMessage(buffer, maxChars, "An invalid argument was encountered.");
}

void AfxThrowMemoryException() {
    throw new CMemoryException();
}
void AfxThrowInvalidArgException() {
    throw new CInvalidArgException();
}
