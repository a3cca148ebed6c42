#include "platform/kernel/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {
std::atomic<TickSource*> g_tickSource{nullptr};
}

TickSource* SetTickSource(TickSource* source) {
    return g_tickSource.exchange(source);
}

}  // namespace platform

DWORD GetTickCount() {
    if (platform::TickSource* source = platform::g_tickSource.load())
        return source->Now();
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<DWORD>(static_cast<uint64_t>(ms));
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
