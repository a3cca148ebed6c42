// The Qt view's entry points for the rest of the layer (internal, free of Qt types). The view
// follows the window model on the user-interface thread: one top-level widget per dialog, a
// child widget per control, each painting its window's backing image under its own content.
#pragma once

#include "platform/base/types.h"
#include "platform/window/message_box.h"

class QWidget;

namespace platform {

void StartView();
void StopView();
// Brings the widgets up to date with the model now (user-interface thread).
void SyncViewNow();
// The widget of a window, made on demand; null for a stale HWND.
QWidget* WidgetOf(HWND hwnd);

// The real message box and file dialog, which the session installs as the dialog presenter.
DialogPresenter& QtDialogPresenter();

}  // namespace platform
