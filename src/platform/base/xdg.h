// The per-user folders the layer keeps its own state in (not part of the application's view).
#pragma once

#include <string>

namespace platform {

// $XDG_STATE_HOME (else ~/.local/state) followed by "/ZELVDownloader", created with mode 0700;
// one of this user's that others may write is closed to them.
std::string LayerStateFolder();
// $XDG_RUNTIME_DIR when it is a folder of this user's (see IsOwnFolder), else empty.
std::string RuntimeFolder();
// A temporary folder that only this user can change: $TMPDIR when it is one (without a trailing
// '/'), else the state folder's "tmp" (mode 0700); empty when there is none.
std::string TempFolder();
// True for a folder (links followed) that this user owns and that neither its group nor others
// may write.
bool IsOwnFolder(const std::string& path);
// $HOME, else the password database's home folder.
std::string HomeFolder();
// Creates `path` and its missing parents with `mode`; true when it exists afterwards.
bool MakeFolders(const std::string& path, unsigned mode);

}  // namespace platform
