#include "support/http_client.h"

#include <algorithm>
#include <cctype>

namespace fixtures {

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t KeepHeader(char* data, size_t size, size_t count, void* target) {
    auto& headers = *static_cast<std::map<std::string, std::string>*>(target);
    std::string line(data, size * count);
    // A status line starts the headers of the next response.
    if (line.rfind("HTTP/", 0) == 0)
        headers.clear();
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        const size_t first = value.find_first_not_of(" \t");
        const size_t last = value.find_last_not_of(" \t\r\n");
        headers[name] = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }
    return size * count;
}

HttpResponse Perform(CURL* curl, const HttpRequest& request) {
    HttpResponse response;
    curl_easy_reset(curl);
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, KeepHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);
    if (request.head)
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    if (!request.range.empty())
        curl_easy_setopt(curl, CURLOPT_RANGE, request.range.c_str());
    // Empty means no proxy at all, whatever the environment says.
    curl_easy_setopt(curl, CURLOPT_PROXY, request.proxy.c_str());
    if (!request.proxyUserPassword.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM);
        curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, request.proxyUserPassword.c_str());
    }
    if (!request.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
    response.code = curl_easy_perform(curl);
    if (response.code != CURLE_OK)
        response.error = error[0] ? error : curl_easy_strerror(response.code);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME, &response.seconds);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &response.newConnections);
    return response;
}

}  // namespace

HttpResponse Fetch(const HttpRequest& request) {
    return FetchInTurn({request}).front();
}

std::vector<HttpResponse> FetchInTurn(const std::vector<HttpRequest>& requests) {
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)initialised;
    std::vector<HttpResponse> responses;
    CURL* curl = curl_easy_init();
    for (const HttpRequest& request : requests)
        responses.push_back(Perform(curl, request));
    curl_easy_cleanup(curl);
    return responses;
}

}  // namespace fixtures
