#include "support/platform/pump.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/window/ui_queue.h"

namespace platform::testing {

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    WakeForNestedLoop();
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return condition();
        ProcessUiEvents(static_cast<int>(std::min<int64_t>(left, 10)));
    }
}

void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

void RepeatOnQtTimer(int periodMs, std::function<bool()> step) {
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step = std::move(step)] {
        if (!step())
            return;
        timer->stop();
        timer->deleteLater();
    });
    timer->start(periodMs);
}

}  // namespace platform::testing
