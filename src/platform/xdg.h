// The per-user folders the layer keeps its own state in (not part of the application's view).
#pragma once

#include <string>

namespace platform {

// $XDG_STATE_HOME (else ~/.local/state) followed by "/ZELVDownloader", created with mode 0700.
std::string LayerStateFolder();
// $XDG_RUNTIME_DIR when set and usable, else empty.
std::string RuntimeFolder();
// $TMPDIR when set, else "/tmp"; without a trailing '/'.
std::string TempFolder();
// $HOME, else the password database's home folder.
std::string HomeFolder();
// Creates `path` and its missing parents with `mode`; true when it exists afterwards.
bool MakeFolders(const std::string& path, unsigned mode);

}  // namespace platform
