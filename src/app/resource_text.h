// Texts of the resource library by id, and its format texts filled in.
#pragma once

#include "platform/base/cstring.h"
#include "platform/base/types.h"

CString LoadText(UINT nID);
// The format text of string nID with the arguments its id fixes (never a CString object).
CString FormatText(UINT nID, ...);
