// A seam for tests of code that reads through CFile: what CFile::Read asks of the system can be
// replaced, so that a short read or a failing read can be shown on an ordinary file.
#pragma once

#include <cstddef>

namespace platform::testing {

class FileReader {
  public:
    virtual ~FileReader() = default;
    // As the system's read of descriptor `fd`: the count read, 0 at the end of the file, or -1
    // with errno set.
    virtual long Read(int fd, void* buffer, size_t count) = 0;
};

// Installs `reader` for every CFile in the process (null: the system again). The caller keeps it
// alive meanwhile.
void InstallFileReader(FileReader* reader);

}  // namespace platform::testing
