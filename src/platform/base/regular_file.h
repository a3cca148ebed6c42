// Files the layer reads on the program's behalf (the configuration, the product picture, the
// resource library, the desktop's folder list) are regular files only, and opening one never
// waits: a named pipe or a device of that name is refused instead of holding the caller, as
// the file class refuses it.
#pragma once

#include <sys/stat.h>

#include <string>

namespace platform {

// A descriptor of `nativePath` open for reading, with its status in *status when that is not
// null; -1 with errno set otherwise (EISDIR for a folder, EINVAL for any other kind of file).
int OpenRegularFile(const std::string& nativePath, struct stat* status);

// Appends what remains of the open file to *bytes; false when a read fails.
bool ReadRest(int fd, std::string* bytes);

}  // namespace platform
