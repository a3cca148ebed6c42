#include "platform/base/xdg.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {
std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string();
}
}  // namespace

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    // getpwuid's record is shared by every thread; the worker may ask at the same time.
    std::vector<char> buffer(4096);
    passwd record{};
    passwd* found = nullptr;
    int err;
    while ((err = getpwuid_r(getuid(), &record, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return err == 0 && found && found->pw_dir ? std::string(found->pw_dir) : std::string("/");
}

bool MakeFolders(const std::string& path, unsigned mode) {
    if (path.empty())
        return false;
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsOwnFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

namespace {

// Makes `path` and its missing parents; a folder of this user left open to others is closed
// to them, as the registry's file is. False when it is no folder of this user's afterwards.
bool MakePrivateFolder(const std::string& path) {
    MakeFolders(path, 0700);
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool own = fstat(fd, &st) == 0 && st.st_uid == geteuid();
    if (own && (st.st_mode & 077) != 0)
        own = fchmod(fd, 0700) == 0;
    close(fd);
    return own;
}

}  // namespace

std::string LayerStateFolder() {
    std::string base = Env("XDG_STATE_HOME");
    if (base.empty())
        base = HomeFolder() + "/.local/state";
    const std::string folder = base + "/ZELVDownloader";
    MakePrivateFolder(folder);
    return folder;
}

std::string RuntimeFolder() {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    return IsOwnFolder(runtime) ? runtime : std::string();
}

std::string TempFolder() {
    std::string tmp = Env("TMPDIR");
    while (tmp.size() > 1 && tmp.back() == '/')
        tmp.pop_back();
    if (IsOwnFolder(tmp))
        return tmp;
    // A folder of ours inside a state folder that another user could change would be theirs
    // to replace.
    const std::string state = LayerStateFolder();
    const std::string own = state + "/tmp";
    return IsOwnFolder(state) && MakePrivateFolder(own) ? own : std::string();
}

}  // namespace platform
