// CTime: a moment in whole seconds, read in local time.
#pragma once

#include <ctime>

#include "platform/base/types.h"

class CTime {
  public:
    CTime() = default;
    explicit CTime(time_t time) : m_time(time) {}

    static CTime GetCurrentTime();
    time_t GetTime() const { return m_time; }

    // The local time of this moment in `out`; NULL when the conversion fails.
    struct tm* GetLocalTm(struct tm* out) const;

    // Each converts on its own; when the conversion fails the year, month and day are 0 and
    // the hour, minute and second are -1, as the class library answers.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;

  private:
    time_t m_time = 0;
};

namespace platform {

// The clock behind CTime::GetCurrentTime and the local-time conversion behind CTime::GetLocalTm.
class CalendarSource {
  public:
    virtual ~CalendarSource() = default;
    virtual time_t Now() = 0;
    // As localtime_r: `out`, or NULL when the conversion fails.
    virtual struct tm* LocalTime(const time_t* time, struct tm* out) = 0;
};

// Installs `source` (the caller keeps it alive meanwhile; null: the system's time and
// localtime_r) and returns the one it replaces.
CalendarSource* SetCalendarSource(CalendarSource* source);

}  // namespace platform
