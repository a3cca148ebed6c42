#include "support/nginx_server.h"

#include <filesystem>
#include <sstream>
#include <utility>

namespace fixtures {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kOpenssl = "/usr/bin/openssl";

}  // namespace

bool NginxServer::Available(std::string* why) {
    return ExecutableAvailable(kNginx, "nginx-light", why) &&
           ExecutableAvailable(kOpenssl, "openssl", why);
}

NginxServer::NginxServer(std::string folder, Options options)
    : folder_(std::move(folder)), options_(options) {}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::httpsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(httpsPort_) + path;
}

bool NginxServer::WriteFile(const std::string& name, const std::string& bytes) const {
    return WriteWholeFile(root() + "/" + name, bytes);
}

bool NginxServer::MakeCertificate(std::string* error) const {
    // An EC key is made in milliseconds; the address as subject name lets the host check pass
    // once the certificate is trusted.
    return RunTool(
        {kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", folder_ + "/key.pem", "-out", certificate(), "-days", "2", "-subj",
         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
        folder_ + "/openssl.out", std::chrono::seconds(10), error);
}

bool NginxServer::WriteConfig(std::string* error) const {
    const std::string& f = folder_;
    std::ostringstream conf;
    // One process, no workers: nothing drops privileges, and nothing outlives a kill of it.
    conf << "master_process off;\n"
         << "pid " << f << "/nginx.pid;\n"
         << "lock_file " << f << "/nginx.lock;\n"
         << "error_log " << f << "/error.log info;\n"
         << "events { worker_connections 512; }\n"
         << "http {\n"
         << "    default_type application/octet-stream;\n"
         << "    sendfile on;\n"
         << "    tcp_nopush on;\n"
         << "    keepalive_timeout 60s;\n"
         << "    keepalive_requests 10000;\n"
         << "    client_body_temp_path " << f << "/temp/body;\n"
         << "    proxy_temp_path " << f << "/temp/proxy;\n"
         << "    fastcgi_temp_path " << f << "/temp/fastcgi;\n"
         << "    uwsgi_temp_path " << f << "/temp/uwsgi;\n"
         << "    scgi_temp_path " << f << "/temp/scgi;\n"
         << "    log_format peer '$remote_addr \"$request\" $status $body_bytes_sent "
            "range=\"$http_range\" rate=$limit_rate conn=$connection "
            "req=$connection_requests via=\"$http_via\"';\n"
         << "    access_log " << f << "/access.log peer;\n"
         << "    server {\n"
         << "        listen 127.0.0.1:" << port_ << ";\n";
    if (options_.https) {
        conf << "        listen 127.0.0.1:" << httpsPort_ << " ssl;\n"
             << "        ssl_certificate " << certificate() << ";\n"
             << "        ssl_certificate_key " << f << "/key.pem;\n";
    }
    conf << "        location " << kFiles << " { alias " << root() << "/; }\n"
         << "        location " << kLimited << " {\n"
         << "            alias " << root() << "/;\n"
         << "            limit_rate " << options_.limitedRate << ";\n"
         << "        }\n"
         << "    }\n"
         << "}\n";
    if (!WriteWholeFile(f + "/nginx.conf", conf.str())) {
        *error = "cannot write " + f + "/nginx.conf";
        return false;
    }
    return true;
}

bool NginxServer::Start(std::string* error) {
    Stop();
    std::error_code failed;
    std::filesystem::create_directories(root(), failed);
    std::filesystem::create_directories(folder_ + "/temp", failed);
    if (failed) {
        *error = "cannot make " + folder_ + ": " + failed.message();
        return false;
    }
    if (options_.https && !MakeCertificate(error))
        return false;
    const DaemonSetup setup = [this](const std::vector<int>& ports, std::vector<std::string>* argv,
                                     std::string* setupError) {
        port_ = ports[0];
        httpsPort_ = options_.https ? ports[1] : 0;
        // -e: nginx opens its error log before it reads the configuration.
        *argv = {kNginx, "-p",       folder_ + "/", "-c",         folder_ + "/nginx.conf",
                 "-e",   errorLog(), "-g",          "daemon off;"};
        return WriteConfig(setupError);
    };
    std::vector<int> ports;
    if (StartDaemon(process_, options_.https ? 2 : 1, setup, folder_ + "/nginx.out", errorLog(),
                    &ports, error)) {
        return true;
    }
    port_ = httpsPort_ = 0;
    return false;
}

void NginxServer::Stop() {
    process_.Stop(std::chrono::seconds(2));
}

}  // namespace fixtures
