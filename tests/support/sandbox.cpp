#include "support/sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fixtures {

Sandbox::Sandbox() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/zelv-test-XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (made == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = made;
    for (const char* sub : {"home", "home/Desktop", "tmp", "state", "runtime", "config"}) {
        mkdir(Path(sub).c_str(), 0700);
    }
    SetEnv("HOME", home());
    SetEnv("TMPDIR", temp());
    SetEnv("XDG_STATE_HOME", state());
    SetEnv("XDG_RUNTIME_DIR", runtime());
    SetEnv("XDG_CONFIG_HOME", Path("config"));
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        SetEnv(name, "");
    }
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : saved_) {
        if (value.first) {
            setenv(name.c_str(), value.second.c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::error_code ignored;
    // Read-only files and folders made by a test must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(root_, ignored);
}

void Sandbox::SetEnv(const char* name, const std::string& value) {
    if (saved_.find(name) == saved_.end()) {
        const char* old = std::getenv(name);
        saved_[name] = {old != nullptr, old ? old : ""};
    }
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}

std::string Sandbox::Win(const std::string& native) {
    std::string path(native);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void Sandbox::WriteFile(const std::string& nativePath, const std::string& bytes) const {
    std::ofstream out(nativePath, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Sandbox::ReadFile(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Sandbox::Folder(const std::string& nativePath, unsigned mode, unsigned owner) {
    mkdir(nativePath.c_str(), 0700);
    EXPECT_EQ(chown(nativePath.c_str(), owner, static_cast<gid_t>(-1)), 0) << nativePath;
    EXPECT_EQ(chmod(nativePath.c_str(), mode), 0) << nativePath;
    return nativePath;
}

bool Sandbox::Exists(const std::string& nativePath) {
    struct stat st {};
    return stat(nativePath.c_str(), &st) == 0;
}

void Sandbox::WaitUntilChangeTimesPassed(const std::string& nativePath) {
    struct stat st {};
    ASSERT_EQ(stat(nativePath.c_str(), &st), 0) << nativePath;
    const auto passed = [&st] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        const auto after = [&now](const timespec& t) {
            return now.tv_sec > t.tv_sec || (now.tv_sec == t.tv_sec && now.tv_nsec > t.tv_nsec);
        };
        return after(st.st_mtim) && after(st.st_ctim);
    };
    for (int i = 0; i < 5000 && !passed(); ++i)
        usleep(1000);
    ASSERT_TRUE(passed()) << "the clock did not pass the times of " << nativePath;
}

}  // namespace fixtures
