// Running the user-interface queue from a test, on the user-interface thread.
#pragma once

#include <functional>

namespace platform::testing {

// Runs the user-interface queue (and Qt's events) on the calling user-interface thread until
// `condition` holds or `timeoutMs` pass; returns whether it held.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs);
void PumpFor(int milliseconds);
// Calls `step` on the user-interface thread every `periodMs` from a timer of Qt's own, never
// through the window queue (so it runs in any loop, dispatching or not), until it returns true.
void RepeatOnQtTimer(int periodMs, std::function<bool()> step);

}  // namespace platform::testing
