// A plain libcurl client for the peer fixtures' own tests: one request, its whole answer.
#pragma once

#include "support/fault_server.h"  // PatternBytes

#include <curl/curl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fixtures {

struct HttpRequest {
    explicit HttpRequest(std::string to) : url(std::move(to)) {}
    HttpRequest& Head() {
        head = true;
        return *this;
    }
    HttpRequest& Range(std::string firstLast) {
        range = std::move(firstLast);
        return *this;
    }
    HttpRequest& Proxy(std::string hostPort, std::string userPassword) {
        proxy = std::move(hostPort);
        proxyUserPassword = std::move(userPassword);
        return *this;
    }
    HttpRequest& TrustOnly(std::string caPemFile) {
        caFile = std::move(caPemFile);
        return *this;
    }

    std::string url;
    bool head = false;
    std::string range;  // "first-last", as CURLOPT_RANGE takes it
    std::string proxy;
    std::string proxyUserPassword;
    std::string caFile;  // trusted instead of the system's authorities
};

struct HttpResponse {
    CURLcode code = CURLE_OK;
    std::string error;  // libcurl's text when code is not CURLE_OK
    long status = 0;
    std::string body;
    // Of the last response (after a proxy's 407 and the retry), names in lower case.
    std::map<std::string, std::string> headers;
    double seconds = 0;
    long newConnections = 0;  // connections opened for it: 0 when one was reused

    std::string header(const std::string& lowerName) const {
        const auto found = headers.find(lowerName);
        return found == headers.end() ? std::string() : found->second;
    }
};

// Bounded by 30 s each.
HttpResponse Fetch(const HttpRequest& request);
// One after another on one handle, which keeps its connections open between them.
std::vector<HttpResponse> FetchInTurn(const std::vector<HttpRequest>& requests);

}  // namespace fixtures
