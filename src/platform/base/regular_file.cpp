#include "platform/base/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

int RefusedKind(mode_t mode) {
    return S_ISDIR(mode) ? EISDIR : EINVAL;
}

}  // namespace

int OpenRegularFile(const std::string& nativePath, struct stat* status) {
    // Looked at first, so that a device is not even opened; the descriptor's own status below
    // decides, as the name may be replaced in between.
    struct stat named {};
    if (stat(nativePath.c_str(), &named) != 0)
        return -1;
    if (!S_ISREG(named.st_mode)) {
        errno = RefusedKind(named.st_mode);
        return -1;
    }
    const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat opened {};
    int err = 0;
    if (fstat(fd, &opened) != 0) {
        err = errno;
    } else if (!S_ISREG(opened.st_mode)) {
        err = RefusedKind(opened.st_mode);
    }
    if (err != 0) {
        close(fd);
        errno = err;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (status != nullptr)
        *status = opened;
    return fd;
}

bool ReadRest(int fd, std::string* bytes) {
    char chunk[8192];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes->append(chunk, static_cast<size_t>(got));
    }
}

}  // namespace platform
