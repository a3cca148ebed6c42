// The file name that a download's URL gives its target file.
#pragma once

#include "platform/base/cstring.h"

// The text after the URL's last '/'. A '\' in it would be a folder separator of the target
// path, so the name is cut to what follows its last '\'; "." and ".." name folders and give
// the empty name. The name therefore never leads out of the folder it is joined to.
CString FileNameOfURL(const CString& strURL);
