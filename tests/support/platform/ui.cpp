#include "support/platform/ui.h"

#include <cstdlib>

#include "platform/view/qt_session.h"
#include "platform/window/ui_queue.h"

namespace platform::testing {

void EnsureUi() {
    static int argc = 1;
    static char name[] = "zelv-tests";
    static char* argv[] = {name, nullptr};
    if (UiRunning())
        return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    StartUi(argc, argv);
}

}  // namespace platform::testing
