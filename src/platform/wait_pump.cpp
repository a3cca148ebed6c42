#include "platform/wait_pump.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<void (*)()> g_pump{nullptr};
std::thread::id g_uiThread;  // written once, before any worker exists
std::atomic<bool> g_installed{false};
}  // namespace

void SetUiThreadWaitPump(std::thread::id uiThread, void (*pump)()) {
    g_uiThread = uiThread;
    g_pump.store(pump);
    g_installed.store(true);
}

bool IsUiThread() { return g_installed.load() && std::this_thread::get_id() == g_uiThread; }

void RunUiThreadWaitPump() {
    if (!IsUiThread()) return;
    if (auto pump = g_pump.load()) pump();
}

}  // namespace platform
