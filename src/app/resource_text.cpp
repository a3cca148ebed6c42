#include "app/resource_text.h"

#include <cstdarg>

CString LoadText(UINT nID) {
    CString strText;
    strText.LoadString(nID);
    return strText;
}

CString FormatText(UINT nID, ...) {
    const CString strFormat = LoadText(nID);
    CString strText;
    va_list args;
    va_start(args, nID);
    // The format comes from our own resource library, whose ids fix each text's arguments.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    strText.FormatV(strFormat, args);
#pragma GCC diagnostic pop
    va_end(args);
    return strText;
}
