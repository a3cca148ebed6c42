#include "platform/kernel/systime.h"

#include <atomic>

namespace {

class SystemCalendar : public platform::CalendarSource {
  public:
    time_t Now() override { return time(nullptr); }
    struct tm* LocalTime(const time_t* time, struct tm* out) override {
        return localtime_r(time, out);
    }
};

std::atomic<platform::CalendarSource*> g_calendar{nullptr};

platform::CalendarSource& Calendar() {
    // Never destroyed: threads may still log at the process's end.
    static SystemCalendar* const system = new SystemCalendar;
    platform::CalendarSource* source = g_calendar.load();
    return source != nullptr ? *source : *system;
}

}  // namespace

platform::CalendarSource* platform::SetCalendarSource(CalendarSource* source) {
    return g_calendar.exchange(source);
}

CTime CTime::GetCurrentTime() {
    return CTime(Calendar().Now());
}

struct tm* CTime::GetLocalTm(struct tm* out) const {
    if (out == nullptr) {
        return nullptr;
    }
    return Calendar().LocalTime(&m_time, out);
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
