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

namespace {

// One field of the local time, or `failed` when the conversion fails.
int LocalField(const CTime& time, int tm::*field, int offset, int failed) {
    struct tm local;
    return time.GetLocalTm(&local) != nullptr ? local.*field + offset : failed;
}

}  // namespace

int CTime::GetYear() const {
    return LocalField(*this, &tm::tm_year, 1900, 0);
}

int CTime::GetMonth() const {
    return LocalField(*this, &tm::tm_mon, 1, 0);
}

int CTime::GetDay() const {
    return LocalField(*this, &tm::tm_mday, 0, 0);
}

int CTime::GetHour() const {
    return LocalField(*this, &tm::tm_hour, 0, -1);
}

int CTime::GetMinute() const {
    return LocalField(*this, &tm::tm_min, 0, -1);
}

int CTime::GetSecond() const {
    return LocalField(*this, &tm::tm_sec, 0, -1);
}
