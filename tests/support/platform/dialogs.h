// Dialogs in tests: run from a template built in code, counted, and found while they run.
#pragma once

#include <cstddef>

#include "platform/base/types.h"
#include "platform/modules/resources.h"

class CDialog;

namespace platform::testing {

// Runs a dialog from a template built in code, as DoModal does with a resource template.
INT_PTR RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate);

// The number of windows in the model.
size_t WindowCount();

// The dialog of the innermost modal run now (not yet ended); null when none runs. Lets a test
// act inside a modal dialog that the code under test makes and runs itself.
HWND InnermostModalDialog();

}  // namespace platform::testing
