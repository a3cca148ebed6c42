// The user interface of a test process.
#pragma once

namespace platform::testing {

// Starts the user interface without an application object (QT_QPA_PLATFORM defaults to
// "offscreen" here when unset). Idempotent.
void EnsureUi();

}  // namespace platform::testing
