// libcurl's global state for the process.
//
// libcurl counts its set-ups and really releases its state only when the count falls to zero,
// which must never overlap another use. So the process holds one set-up of its own from the
// dialog's construction (on the user-interface thread, before any worker) to its exit, and
// every use (a header request, a worker run) pairs the release that ends it with a set-up of
// its own: the count never falls to zero while the program runs.
#pragma once

#include <atomic>

// The process-wide set-up; idempotent. Released at exit when no use is under way.
void EnsureCurlProcessSetUp();

// One use of libcurl: a set-up at construction, the use's release at destruction.
class CCurlUse {
  public:
    CCurlUse();
    ~CCurlUse();
    CCurlUse(const CCurlUse&) = delete;
    CCurlUse& operator=(const CCurlUse&) = delete;
};
