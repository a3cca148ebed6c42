#include "platform/drawing_hooks.h"

#include <atomic>

#include "platform/message_map.h"

namespace platform {

namespace {
std::atomic<const DrawingHookTable*> g_override{nullptr};
}

__attribute__((weak)) const DrawingHookTable& DrawingHooks() {
    static const DrawingHookTable none;
    return none;
}

void OverrideDrawingHooks(const DrawingHookTable* table) {
    g_override.store(table);
}

const DrawingHookTable& ActiveDrawingHooks() {
    const DrawingHookTable* table = g_override.load();
    return table != nullptr ? *table : DrawingHooks();
}

CDC* DcFromHandle(HDC dc) {
    const DrawingHookTable& hooks = ActiveDrawingHooks();
    return dc != nullptr && hooks.dcFromHandle != nullptr ? hooks.dcFromHandle(dc) : nullptr;
}

}  // namespace platform
