// A registry database that cannot be used (not a database, damaged, or a folder or a link in
// its place) is moved aside, so that a new one takes its place and progress is kept again.
// Internal to the layer's registry store.
#pragma once

#include <string>

namespace platform {

// Renames `path` (never following a link) and the journal files beside it to names that carry
// the time, keeping them for a look later, and says so in one line on standard error: the
// layer has no log of its own. False when nothing could be moved.
bool MoveDamagedStoreAside(const std::string& path);

}  // namespace platform
