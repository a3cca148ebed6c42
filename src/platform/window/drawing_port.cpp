#include "platform/window/drawing_port.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<const DrawingPort*> g_port{nullptr};
}

const DrawingPort* SetDrawingPort(const DrawingPort* port) {
    return g_port.exchange(port);
}

const DrawingPort* InstalledDrawingPort() {
    return g_port.load();
}

CDC* DcFromHandle(HDC dc) {
    const DrawingPort* port = InstalledDrawingPort();
    return dc != nullptr && port != nullptr && port->dcFromHandle != nullptr
               ? port->dcFromHandle(dc)
               : nullptr;
}

}  // namespace platform
