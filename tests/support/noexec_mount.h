// A file system mounted noexec, for tests of what the system refuses to execute. Mounting one
// needs no privileges inside a user and mount namespace of our own, so the test runs again
// there, in this program started anew, with the file system mounted on a folder of its own.
#pragma once

#include <string>

namespace fixtures {

// In the run inside the namespace: a small script named `name`, with `mode`, written on the
// noexec file system; its path. In the ordinary run: runs the current test again inside a
// namespace with such a file system on `folder` (made when missing), takes that run's outcome
// as the current test's (skipped when the system gives no such namespace), and gives an empty
// string: the caller returns.
std::string NoexecProgramOrRunThere(const std::string& folder, const std::string& name,
                                    unsigned mode);

}  // namespace fixtures
