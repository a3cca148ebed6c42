// Message boxes: owned by `owner` (modal to it), with the caption as given (an empty caption
// stays empty; NULL gives "Error"), and no icon unless the type asks for one. Asked for on a
// worker thread, the box is shown by the user-interface thread while the worker waits for the
// answer. 0 when the owner is stale, no user interface runs, or showing a worker's box failed.
#pragma once

#include "platform/types.h"
#include "platform/winuser_constants.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#define MessageBox MessageBoxA
