// The session of the user interface: Qt's application object, the queue of the user-interface
// thread and the view, started and stopped together in one order.
#pragma once

namespace platform {

// Makes Qt's application object when there is none (with the given arguments; Qt keeps a
// reference to the count), installs the Qt dialogs as the dialog presenter and the drawing
// code's port when none is installed, then starts the queue on the calling thread with the
// view. Does nothing while the
// user interface runs.
void StartUi(int& argc, char** argv);
// On the user-interface thread: stops the queue and the view, removes the drawing port and the
// Qt dialogs it installed if they are still in place, then deletes the application object if
// StartUi made it.
void StopUi();

}  // namespace platform
