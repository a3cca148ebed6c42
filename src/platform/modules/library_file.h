// The check of a library file before the system's loader maps it: the loader touches every byte
// its loadable segments name, and a byte past the end of the file kills the process (SIGBUS).
#pragma once

#include <string>

namespace platform {

// A descriptor of `path` when it is a regular file holding a shared object of this machine's
// class whose program headers and loadable segments all lie within the file; -1 otherwise. The
// open never waits (a named pipe is refused, not waited on). The caller closes it.
int OpenLoadableLibrary(const std::string& path);

}  // namespace platform
