// Stand-ins that tests install through the layer's seams: proxy queries and thread starts that
// fail, a calendar set by the test, a count of profile parses, and a registry held by another.
#pragma once

#include <ctime>

#include "platform/base/types.h"

struct sqlite3;

namespace platform::testing {

// Makes InternetQueryOptionA fail with `error` once `callsFirst` more calls have answered
// normally (a setting that cannot be read, or one that grows between the size query and the
// real one); an error of 0 lets it answer normally again.
void FailInternetQueries(DWORD error, int callsFirst = 0);

// The next `count` thread starts fail as when the system has no room for a thread.
void FailThreadStarts(int count);

// The clock behind CTime::GetCurrentTime and the local-time conversion behind
// CTime::GetLocalTm. Null restores the system's (time and localtime_r).
using CurrentTimeFunction = time_t (*)();
using LocalTimeFunction = struct tm* (*)(const time_t* time, struct tm* out);
void SetCurrentTimeFunction(CurrentTimeFunction function);
void SetLocalTimeFunction(LocalTimeFunction function);

// Files parsed by the profile reader since the first call (tests compare two counts).
unsigned long ProfileFilesParsed();

// The registry's database held as another process holds it: a connection of its own with a
// write transaction open, from construction until Release or destruction.
class RegistryHold {
  public:
    RegistryHold();
    ~RegistryHold() { Release(); }
    RegistryHold(const RegistryHold&) = delete;
    RegistryHold& operator=(const RegistryHold&) = delete;
    // True while the write transaction is open.
    bool held() const { return held_; }
    void Release();

  private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};

}  // namespace platform::testing
