// Delivering a message to its window on the user-interface thread (internal). A window with a
// window procedure (messages.h; CWnd installs itself) gets it through that procedure; any
// other window gets the model's default processing. As with the class library, an exception
// that a handler lets out is caught here, shown in a message box owned by the window and
// deleted: a failing handler never ends the process.
#pragma once

#include <functional>

#include "platform/window/messages.h"

class CException;

namespace platform {

LRESULT DeliverMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Runs `handler` as DeliverMessage runs a message map: an exception it lets out is reported in
// a box owned by `owner` and 0 returned. For code called without a message (a TIMERPROC).
LRESULT RunGuarded(HWND owner, const std::function<LRESULT()>& handler);
// The message that the innermost DeliverMessage of this thread handles, or null.
const MSG* CurrentMessage();
// The default processing that CWnd::DefWindowProc ends in.
LRESULT DefaultWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the exception's message (GetErrorMessage) in a box owned by `owner`, then deletes it.
void ReportException(HWND owner, CException* exception);

// The caption of those boxes, read each time one is shown: the application object installs its
// name (AfxGetAppName). Without a source (null) it is the program's file name. Returns the
// source it replaces.
using CaptionSource = const char* (*)();
CaptionSource SetFailureCaptionSource(CaptionSource source);

}  // namespace platform
