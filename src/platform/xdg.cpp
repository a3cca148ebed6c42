#include "platform/xdg.h"

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

std::string LayerStateFolder() {
    std::string base = Env("XDG_STATE_HOME");
    if (base.empty())
        base = HomeFolder() + "/.local/state";
    const std::string folder = base + "/ZELVDownloader";
    MakeFolders(folder, 0700);
    return folder;
}

std::string RuntimeFolder() {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!runtime.empty() && stat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        access(runtime.c_str(), W_OK) == 0) {
        return runtime;
    }
    return std::string();
}

std::string TempFolder() {
    std::string tmp = Env("TMPDIR");
    if (tmp.empty())
        tmp = "/tmp";
    while (tmp.size() > 1 && tmp.back() == '/')
        tmp.pop_back();
    return tmp;
}

}  // namespace platform
