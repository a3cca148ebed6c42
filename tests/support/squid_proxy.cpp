#include "support/squid_proxy.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <sstream>

namespace fixtures {

namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kBasicHelper = "/usr/lib/squid/basic_ncsa_auth";
constexpr const char* kDigestHelper = "/usr/lib/squid/digest_file_auth";
constexpr const char* kOpenssl = "/usr/bin/openssl";
// Debian's squid drops root for this user.
constexpr const char* kSquidUser = "proxy";
constexpr const char* kRealm = "zelv-proxy";

bool RunningAsRoot() {
    return geteuid() == 0;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

bool SquidProxy::Available(Auth auth, std::string* why) {
    if (!ExecutableAvailable(kSquid, "squid", why) ||
        !ExecutableAvailable(auth == Auth::Basic ? kBasicHelper : kDigestHelper, "squid", why) ||
        !ExecutableAvailable(kOpenssl, "openssl", why)) {
        return false;
    }
    if (RunningAsRoot() && getpwnam(kSquidUser) == nullptr) {
        if (why != nullptr)
            *why = std::string("no user '") + kSquidUser + "' for squid to run as";
        return false;
    }
    return true;
}

SquidProxy::SquidProxy(std::string folder, Options options)
    : folder_(std::move(folder)), options_(std::move(options)) {
    // squid names its shared memory after the service: a name of its own keeps proxies that run
    // side by side, in this process or another, apart.
    static std::atomic<int> made{0};
    service_ = "zelv" + std::to_string(getpid()) + "n" + std::to_string(++made);
}

bool SquidProxy::WritePasswords(std::string* error) const {
    std::string line;
    if (options_.auth == Auth::Basic) {
        // basic_ncsa_auth reads an htpasswd file; the Apache MD5 form is one it checks.
        const std::string hashFile = folder_ + "/passwd.hash";
        if (!RunTool({kOpenssl, "passwd", "-apr1", options_.password}, hashFile,
                     std::chrono::seconds(10), error)) {
            return false;
        }
        line = options_.user + ":" + Trimmed(FileTail(hashFile)) + "\n";
    } else {
        // digest_file_auth reads "user:password" lines.
        line = options_.user + ":" + options_.password + "\n";
    }
    if (!WriteWholeFile(folder_ + "/passwd", line)) {
        *error = "cannot write " + folder_ + "/passwd";
        return false;
    }
    return true;
}

bool SquidProxy::WriteConfig(std::string* error) const {
    const std::string& f = folder_;
    const bool basic = options_.auth == Auth::Basic;
    std::ostringstream conf;
    conf << "http_port 127.0.0.1:" << port_ << "\n"
         << "visible_hostname localhost\n"
         << "pid_filename " << f << "/squid.pid\n"
         << "cache_log " << f << "/cache.log\n"
         << "access_log stdio:" << f << "/access.log\n"
         << "netdb_filename none\n"
         << "coredump_dir " << f << "\n"
         << "pinger_enable off\n"
         << "icp_port 0\n"
         << "htcp_port 0\n"
         // Names never leave the machine; the tests use addresses anyway.
         << "dns_nameservers 127.0.0.1\n"
         << "shutdown_lifetime 0 seconds\n"
         // No disk cache (so no 'squid -z'), and nothing kept in memory either: every request
         // reaches the server as the client sent it, ranges included.
         << "cache_mem 0 MB\n"
         << "cache deny all\n";
    if (RunningAsRoot())
        conf << "cache_effective_user " << kSquidUser << "\n";
    if (basic) {
        conf << "auth_param basic program " << kBasicHelper << " " << f << "/passwd\n"
             << "auth_param basic children 3 startup=1 idle=1\n"
             << "auth_param basic realm " << kRealm << "\n"
             << "auth_param basic credentialsttl 2 hours\n";
    } else {
        conf << "auth_param digest program " << kDigestHelper << " " << f << "/passwd\n"
             << "auth_param digest children 3 startup=1 idle=1\n"
             << "auth_param digest realm " << kRealm << "\n"
             << "auth_param digest nonce_garbage_interval 5 minutes\n"
             << "auth_param digest nonce_max_duration 30 minutes\n"
             << "auth_param digest nonce_max_count 1000\n";
    }
    // Only local clients that log in; servers on this machine are allowed on purpose, since the
    // tests' web server listens on 127.0.0.1 (no 'deny to_localhost').
    conf << "acl local_client src 127.0.0.1/32\n"
         << "acl logged_in proxy_auth REQUIRED\n"
         << "http_access deny !local_client\n"
         << "http_access allow logged_in\n"
         << "http_access deny all\n";
    if (!WriteWholeFile(f + "/squid.conf", conf.str())) {
        *error = "cannot write " + f + "/squid.conf";
        return false;
    }
    return true;
}

bool SquidProxy::HandToSquidUser(std::string* error) const {
    if (!RunningAsRoot())
        return true;
    const passwd* account = getpwnam(kSquidUser);
    if (account == nullptr) {
        *error = std::string("no user '") + kSquidUser + "' for squid to run as";
        return false;
    }
    // squid and its helpers write and read here as that user; the folders above only need to
    // let it pass (a sandbox is made 0700).
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(folder_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (chown(it->path().c_str(), account->pw_uid, account->pw_gid) != 0) {
            *error = "cannot hand " + it->path().string() + " to " + kSquidUser;
            return false;
        }
    }
    if (chown(folder_.c_str(), account->pw_uid, account->pw_gid) != 0) {
        *error = "cannot hand " + folder_ + " to " + kSquidUser;
        return false;
    }
    for (std::filesystem::path above = std::filesystem::absolute(folder_).parent_path();
         !above.empty(); above = above.parent_path()) {
        struct stat st {};
        if (stat(above.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0) {
            chmod(above.c_str(), (st.st_mode & 07777) | S_IXOTH);
        }
        if (above == above.root_path())
            break;
    }
    return true;
}

bool SquidProxy::Start(std::string* error) {
    Stop();
    std::error_code failed;
    std::filesystem::create_directories(folder_, failed);
    if (failed) {
        *error = "cannot make " + folder_ + ": " + failed.message();
        return false;
    }
    if (!WritePasswords(error))
        return false;
    const DaemonSetup setup = [this](const std::vector<int>& ports, std::vector<std::string>* argv,
                                     std::string* setupError) {
        port_ = ports[0];
        RemoveSharedMemory();
        *argv = {kSquid, "-N", "-n", service_, "-f", folder_ + "/squid.conf"};
        return WriteConfig(setupError) && HandToSquidUser(setupError);
    };
    std::vector<int> ports;
    if (StartDaemon(process_, 1, setup, folder_ + "/squid.out", cacheLog(), &ports, error)) {
        return true;
    }
    port_ = 0;
    return false;
}

// Nothing is cached, so nothing is lost by a kill; squid's own shutdown takes over a second.
void SquidProxy::Stop() {
    process_.Stop(std::chrono::milliseconds(0));
    RemoveSharedMemory();
}

// A killed squid leaves its shared memory behind, and a later squid of the same name may refuse
// to start on it.
void SquidProxy::RemoveSharedMemory() const {
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator("/dev/shm", ignored);
         it != std::filesystem::directory_iterator(); it.increment(ignored)) {
        if (it->path().filename().string().rfind(service_ + "-", 0) == 0) {
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

}  // namespace fixtures
