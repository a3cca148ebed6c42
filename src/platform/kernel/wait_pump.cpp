#include "platform/kernel/wait_pump.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<void (*)()> g_pump{nullptr};
// Atomic: the user-interface thread may be set again (a new start of the queue) while workers
// ask. No running thread has the default id, so that id means none is installed.
std::atomic<std::thread::id> g_uiThread{};
}  // namespace

void SetUiThreadWaitPump(std::thread::id uiThread, void (*pump)()) {
    g_uiThread.store(uiThread);
    g_pump.store(pump);
}

bool IsUiThread() {
    return g_uiThread.load() == std::this_thread::get_id();
}

void RunUiThreadWaitPump() {
    if (!IsUiThread())
        return;
    if (auto pump = g_pump.load())
        pump();
}

}  // namespace platform
