// Drives the proxy dialog that the main dialog's proxy link makes and runs modally itself.
#pragma once

#include <functional>

#include "support/app/app_fixture.h"

namespace apptest {

// Clicks the main dialog's proxy link (shown first, with the dialog) and runs `act` inside the
// proxy dialog once it is shown; `act` must end the dialog. False when it never came up.
bool WithProxyDialog(TestDlg& dlg, std::function<void(HWND)> act);

}  // namespace apptest
