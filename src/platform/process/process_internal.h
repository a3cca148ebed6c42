// The layer's side of starting programs: command-line splitting and the detached start that
// CreateProcessW and the shell share. Internal to the layer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/kernel/kernel_object.h"

namespace platform {

// A command line split by the Windows rules: the program name runs to its closing quote or to
// the first blank; then blanks separate arguments, quotes group them, 2n backslashes before a
// quote give n backslashes and the quote's effect, 2n+1 give n and a literal quote, "" inside
// quotes gives a literal quote; other backslashes are literal. One addition, as a Linux file
// name may hold a quote: "" inside a quoted program name gives a literal quote too.
std::vector<std::string> SplitCommandLine(const std::string& line);
// Arguments only (the parameters of a shell start), with the argument rules above.
std::vector<std::string> SplitArguments(const std::string& text);

// A detached start. `program` is a native path (a relative one is taken from the caller's
// current folder) or a bare name looked up in PATH; `arguments` includes argv[0].
struct ProgramStart {
    std::string program;
    std::vector<std::string> arguments;
    std::string folder;  // the program's current folder; empty: the caller's
    bool keepOpenFiles = false;
    bool ownEnvironment = false;  // use `environment` instead of the caller's
    std::vector<std::string> environment;
};
struct StartedProcess {
    std::shared_ptr<KernelObject> process;  // signalled when the program has ended
    DWORD id = 0;
};
// ERROR_SUCCESS once the program runs, else the Windows error of the failed start.
DWORD StartDetached(const ProgramStart& start, StartedProcess* started);
// A native path made absolute against the current folder (unchanged when that is unknown).
std::string AbsolutePath(const std::string& path);
// Gives a regular file its owner's execute bit when it lacks it.
void MakeOwnerExecutable(const std::string& nativePath);

}  // namespace platform
