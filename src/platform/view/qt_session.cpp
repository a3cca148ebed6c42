#include "platform/view/qt_session.h"

#include <QApplication>

#include "platform/gdi/gdi_internal.h"
#include "platform/view/qt_start.h"
#include "platform/view/qt_view.h"
#include "platform/window/drawing_port.h"
#include "platform/window/message_box.h"
#include "platform/window/ui_queue.h"

namespace platform {

namespace {

QApplication* g_ownedApp = nullptr;  // user-interface thread only

void StartViewSide() {
    // Installed before the view shows anything, so that every window gets its erase and colour
    // messages.
    if (InstalledDrawingPort() == nullptr)
        SetDrawingPort(&GdiDrawingPort());
    StartView();
}

void StopViewSide() {
    StopView();
    if (InstalledDrawingPort() == &GdiDrawingPort())
        SetDrawingPort(nullptr);
}

}  // namespace

void StartUi(int& argc, char** argv) {
    if (UiRunning())
        return;
    if (QCoreApplication::instance() == nullptr)
        g_ownedApp = MakeApplication(argc, argv);
    // A presenter installed before the start (a test's) stays.
    if (InstalledDialogPresenter() == nullptr)
        SetDialogPresenter(&QtDialogPresenter());
    StartQueue(&StartViewSide);
}

void StopUi() {
    if (!UiRunning() || !OnUiThread())
        return;
    StopQueue(&StopViewSide);
    if (InstalledDialogPresenter() == &QtDialogPresenter())
        SetDialogPresenter(nullptr);
    delete g_ownedApp;
    g_ownedApp = nullptr;
}

}  // namespace platform
