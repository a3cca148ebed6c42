#include "platform/systime.h"

#include <atomic>

namespace {

time_t SystemTime() {
    return time(nullptr);
}

std::atomic<platform::CurrentTimeFunction> g_currentTime{&SystemTime};
std::atomic<platform::LocalTimeFunction> g_localTime{&localtime_r};

}  // namespace

namespace platform {

void SetCurrentTimeFunction(CurrentTimeFunction function) {
    g_currentTime.store(function != nullptr ? function : &SystemTime);
}

void SetLocalTimeFunction(LocalTimeFunction function) {
    g_localTime.store(function != nullptr ? function : &localtime_r);
}

}  // namespace platform

CTime CTime::GetCurrentTime() {
    return CTime(g_currentTime.load()());
}

struct tm* CTime::GetLocalTm(struct tm* out) const {
    if (out == nullptr) {
        return nullptr;
    }
    return g_localTime.load()(&m_time, out);
}

int CTime::GetYear() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_year + 1900 : 0;
}

int CTime::GetMonth() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_mon + 1 : 0;
}

int CTime::GetDay() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_mday : 0;
}

int CTime::GetHour() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_hour : -1;
}

int CTime::GetMinute() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_min : -1;
}

int CTime::GetSecond() const {
    struct tm local;
    return GetLocalTm(&local) != nullptr ? local.tm_sec : -1;
}
