// GetTickCount and Sleep, with a seam through which tests set the tick count.
#pragma once

#include "platform/base/types.h"

// Milliseconds of a monotonic clock, truncated to 32 bits: it wraps about every 49.7 days, so
// callers compare ticks only through DWORD differences.
DWORD GetTickCount();
// Suspends the calling thread; 0 gives up the rest of its time slice, INFINITE never returns.
// Sleep does not serve the user-interface thread's wait pump, as on Windows.
void Sleep(DWORD milliseconds);

namespace platform {

class TickSource {
  public:
    virtual ~TickSource() = default;
    virtual DWORD Now() = 0;
};

// Makes GetTickCount answer from `source` (nullptr restores the real clock) and returns the one
// it replaces. The caller keeps the source alive until it is replaced. Waits and Sleep keep
// real time whatever the source says.
TickSource* SetTickSource(TickSource* source);

}  // namespace platform
