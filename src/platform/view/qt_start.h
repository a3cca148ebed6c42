// The making of Qt's application object (internal to the layer). Qt ends the process with an
// abort when no platform can start (no display, or an unknown platform named); the program
// instead says so in one line on standard error and ends with a failure status.
#pragma once

class QApplication;

namespace platform {

// Qt's application object for the given arguments; Qt's messages while it starts are held back
// and passed on once it has started. Does not return when no platform can start.
QApplication* MakeApplication(int& argc, char** argv);

}  // namespace platform
