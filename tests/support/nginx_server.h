// A real web server for the download tests: nginx serving a folder of files on 127.0.0.1, with an
// unthrottled and a rate-limited URL prefix, byte ranges, keep-alive and optional HTTPS with a
// self-signed certificate. Everything it writes stays in the folder the test gives.
#pragma once

#include <string>
#include <utility>

#include "support/child_process.h"

namespace fixtures {

class NginxServer {
  public:
    // URL prefixes of root()'s files: as fast as it goes, and at most limitedRate bytes per
    // second per connection.
    static constexpr const char* kFiles = "/files/";
    static constexpr const char* kLimited = "/limited/";

    struct Options {
        long limitedRate = 64 * 1024;
        // Also listen for HTTPS; the certificate is trusted by nothing but certificate().
        bool https = false;
    };

    // Whether nginx (and openssl, for HTTPS) are installed; otherwise *why says what is missing.
    static bool Available(std::string* why);

    explicit NginxServer(std::string folder) : NginxServer(std::move(folder), Options()) {}
    NginxServer(std::string folder, Options options);
    ~NginxServer() { Stop(); }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Writes the configuration, starts nginx and waits (bounded) until it accepts connections.
    bool Start(std::string* error);
    void Stop();

    int port() const { return port_; }
    int httpsPort() const { return httpsPort_; }
    // path begins with '/', e.g. url("/files/a.bin").
    std::string url(const std::string& path) const;
    std::string httpsUrl(const std::string& path) const;
    // URL of a file of root(), unthrottled and limited.
    std::string fileUrl(const std::string& name) const { return url(kFiles + name); }
    std::string limitedUrl(const std::string& name) const { return url(kLimited + name); }

    const std::string& folder() const { return folder_; }
    // The served folder.
    std::string root() const { return folder_ + "/root"; }
    // One line a request: address "request" status body-bytes range="Range" rate=limit
    // conn=connection-number req=request-on-connection via="Via".
    std::string accessLog() const { return folder_ + "/access.log"; }
    std::string errorLog() const { return folder_ + "/error.log"; }
    // PEM certificate of the HTTPS listener (valid for IP 127.0.0.1): give it as the CA.
    std::string certificate() const { return folder_ + "/cert.pem"; }
    long limitedRate() const { return options_.limitedRate; }

    // Writes root()/name.
    bool WriteFile(const std::string& name, const std::string& bytes) const;

  private:
    bool MakeCertificate(std::string* error) const;
    bool WriteConfig(std::string* error) const;
    std::string folder_;
    Options options_;
    int port_ = 0;
    int httpsPort_ = 0;
    ChildProcess process_;
};

}  // namespace fixtures
