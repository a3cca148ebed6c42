#include "platform/base/handle_table.h"

#include <atomic>

namespace platform {

namespace {

constexpr uintptr_t kFirst = 0x10000;
constexpr uintptr_t kKinds = 8;  // room for every HandleKind

std::atomic<uintptr_t> g_given{0};

}  // namespace

uintptr_t NewHandleNumber(HandleKind kind) {
    const uintptr_t serial = g_given.fetch_add(1);
    return kFirst + (serial * kKinds + static_cast<uintptr_t>(kind)) * 4;
}

bool IsHandleOfKind(uintptr_t value, HandleKind kind) {
    if (value < kFirst || value % 4 != 0)
        return false;
    const uintptr_t slot = (value - kFirst) / 4;
    return slot % kKinds == static_cast<uintptr_t>(kind) && slot / kKinds < g_given.load();
}

}  // namespace platform
