// The link between the kernel waits and the window layer: a user-interface thread that waits
// in WaitForSingleObject keeps serving what worker threads ask of it (message boxes, sent
// messages), so that neither thread stalls waiting for the other.
#pragma once

#include <thread>

namespace platform {

// Installed by the window layer when its queue starts (a default id uninstalls it). `pump` runs on
// the user-interface thread and serves the requests that workers have queued; it returns without
// waiting when there are none.
void SetUiThreadWaitPump(std::thread::id uiThread, void (*pump)());
// True on the thread named by SetUiThreadWaitPump.
bool IsUiThread();
// Called by waits on the user-interface thread between slices of their wait.
void RunUiThreadWaitPump();

}  // namespace platform
