#include "platform/registry/registry_damage.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace platform {

namespace {

// "20240131-235959", local time.
std::string Stamp() {
    const time_t now = time(nullptr);
    struct tm local {};
    char text[32] = "unknown-time";
    if (localtime_r(&now, &local) != nullptr)
        strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Renames without replacing anything that is there already.
bool MoveTo(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

}  // namespace

bool MoveDamagedStoreAside(const std::string& path) {
    const std::string stamp = Stamp();
    std::string aside;
    bool moved = false;
    for (int attempt = 0; attempt < 100 && !moved; ++attempt) {
        aside = path + ".damaged-" + stamp + (attempt == 0 ? "" : "-" + std::to_string(attempt));
        moved = MoveTo(path, aside);
        if (!moved && errno != EEXIST)
            break;
    }
    if (!moved)
        return false;
    // A journal left beside the old file would be played into the new one.
    for (const char* journal : {"-wal", "-shm", "-journal"}) {
        struct stat st {};
        if (lstat((path + journal).c_str(), &st) == 0 && !MoveTo(path + journal, aside + journal))
            unlink((path + journal).c_str());
    }
    const std::string line =
        std::string(program_invocation_short_name) + ": the registry database " + path +
        " could not be used; it was moved to " + aside + " and a new one was started\n";
    const ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    return true;
}

}  // namespace platform
