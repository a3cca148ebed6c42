// A real HTTP forward proxy for the download tests: squid on 127.0.0.1 that lets only clients
// from 127.0.0.1 with the right Basic or Digest credentials through, to any host and port
// (127.0.0.1 included), caching nothing. Everything it writes stays in the folder the test gives.
#pragma once

#include <string>
#include <utility>

#include "support/child_process.h"

namespace fixtures {

class SquidProxy {
  public:
    enum class Auth { Basic, Digest };

    struct Options {
        Auth auth = Auth::Basic;
        // No ':' in either.
        std::string user = "zelv";
        std::string password = "pr0xy-Secret";
    };

    // Whether squid, its helper for the scheme and openssl are installed; otherwise *why says
    // what is missing.
    static bool Available(Auth auth, std::string* why);

    explicit SquidProxy(std::string folder) : SquidProxy(std::move(folder), Options()) {}
    SquidProxy(std::string folder, Options options);
    ~SquidProxy() { Stop(); }
    SquidProxy(const SquidProxy&) = delete;
    SquidProxy& operator=(const SquidProxy&) = delete;

    // Writes the configuration and the password file, starts squid and waits (bounded) until it
    // accepts connections. As root the folder is handed to squid's unprivileged user.
    bool Start(std::string* error);
    void Stop();

    int port() const { return port_; }
    // "127.0.0.1:PORT", as CURLOPT_PROXY takes it.
    std::string proxy() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& user() const { return options_.user; }
    const std::string& password() const { return options_.password; }
    // "user:password", as CURLOPT_PROXYUSERPWD takes it.
    std::string userPassword() const { return options_.user + ":" + options_.password; }
    Auth auth() const { return options_.auth; }

    const std::string& folder() const { return folder_; }
    // squid's native format: time elapsed client code/status bytes method URL user hierarchy type.
    std::string accessLog() const { return folder_ + "/access.log"; }
    std::string cacheLog() const { return folder_ + "/cache.log"; }

  private:
    bool WritePasswords(std::string* error) const;
    bool WriteConfig(std::string* error) const;
    bool HandToSquidUser(std::string* error) const;
    void RemoveSharedMemory() const;
    std::string folder_;
    Options options_;
    int port_ = 0;
    std::string service_;
    ChildProcess process_;
};

}  // namespace fixtures
