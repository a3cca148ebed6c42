#include "app/curl_use.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_curlGlobalMutex;  // our set-up and release calls never overlap one another
std::atomic<int> g_usesUnderWay{0};
std::once_flag g_processSetUp;

void ReleaseAtExit() {
    // A worker that outlived the close handler's wait may still use libcurl: then the state is
    // left to the process's end.
    std::lock_guard<std::mutex> lock(g_curlGlobalMutex);
    if (g_usesUnderWay.load() == 0)
        curl_global_cleanup();
}
}  // namespace

void EnsureCurlProcessSetUp() {
    std::call_once(g_processSetUp, [] {
        std::lock_guard<std::mutex> lock(g_curlGlobalMutex);
        curl_global_init(CURL_GLOBAL_DEFAULT);
        std::atexit(ReleaseAtExit);
    });
}

CCurlUse::CCurlUse() {
    EnsureCurlProcessSetUp();
    std::lock_guard<std::mutex> lock(g_curlGlobalMutex);
    ++g_usesUnderWay;
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CCurlUse::~CCurlUse() {
    std::lock_guard<std::mutex> lock(g_curlGlobalMutex);
    curl_global_cleanup();
    --g_usesUnderWay;
}
