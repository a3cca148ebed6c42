#include "app/url_file_name.h"

CString FileNameOfURL(const CString& strURL) {
    CString strName = strURL.Mid(strURL.ReverseFind('/') + 1);
    strName = strName.Mid(strName.ReverseFind('\\') + 1);
    if (strName == "." || strName == "..")
        strName.Empty();
    return strName;
}
