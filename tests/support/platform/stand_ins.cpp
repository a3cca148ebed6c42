#include "support/platform/stand_ins.h"

#include <sqlite3.h>

#include <atomic>
#include <string>

#include "platform/fs/profile.h"
#include "platform/kernel/systime.h"
#include "platform/kernel/thread.h"
#include "platform/registry/registry_store.h"
#include "platform/shell/inet.h"

namespace platform::testing {

namespace {

class FailingProxySetting : public ProxySettingSource {
  public:
    void Fail(DWORD error, int callsFirst) {
        callsBeforeFailing_.store(callsFirst);
        failWith_.store(error);
    }
    DWORD Read(std::string* proxy, std::string* bypass) override {
        if (failWith_.load() != 0 && callsBeforeFailing_.fetch_sub(1) <= 0)
            return failWith_.load();
        return EnvironmentProxySetting().Read(proxy, bypass);
    }

  private:
    std::atomic<DWORD> failWith_{0};
    std::atomic<int> callsBeforeFailing_{0};
};

class FailingThreadStarts : public ThreadStartGate {
  public:
    void Fail(int count) { left_.store(count); }
    bool MayStart() override {
        int left = left_.load();
        while (left > 0 && !left_.compare_exchange_weak(left, left - 1)) {
        }
        return left <= 0;
    }

  private:
    std::atomic<int> left_{0};
};

class SetCalendar : public CalendarSource {
  public:
    std::atomic<CurrentTimeFunction> now{nullptr};
    std::atomic<LocalTimeFunction> localTime{nullptr};

    // Installed while either function is set.
    void Update() {
        SetCalendarSource(now.load() != nullptr || localTime.load() != nullptr ? this : nullptr);
    }
    time_t Now() override {
        const CurrentTimeFunction f = now.load();
        return f != nullptr ? f() : time(nullptr);
    }
    struct tm* LocalTime(const time_t* t, struct tm* out) override {
        const LocalTimeFunction f = localTime.load();
        return f != nullptr ? f(t, out) : localtime_r(t, out);
    }
};

class ParseCounter : public ProfileParseObserver {
  public:
    void FileParsed() override { count.fetch_add(1); }
    std::atomic<unsigned long> count{0};
};

// Never destroyed: they stay installed until the process ends.
FailingProxySetting& ProxySetting() {
    static auto* const source = new FailingProxySetting;
    return *source;
}
FailingThreadStarts& ThreadStarts() {
    static auto* const gate = new FailingThreadStarts;
    return *gate;
}
SetCalendar& Calendar() {
    static auto* const calendar = new SetCalendar;
    return *calendar;
}

}  // namespace

void FailInternetQueries(DWORD error, int callsFirst) {
    ProxySetting().Fail(error, callsFirst);
    SetProxySettingSource(error != 0 ? &ProxySetting() : nullptr);
}

void FailThreadStarts(int count) {
    ThreadStarts().Fail(count);
    SetThreadStartGate(&ThreadStarts());
}

void SetCurrentTimeFunction(CurrentTimeFunction function) {
    Calendar().now.store(function);
    Calendar().Update();
}

void SetLocalTimeFunction(LocalTimeFunction function) {
    Calendar().localTime.store(function);
    Calendar().Update();
}

unsigned long ProfileFilesParsed() {
    static ParseCounter* const counter = [] {
        auto* made = new ParseCounter;
        SetProfileParseObserver(made);
        return made;
    }();
    return counter->count.load();
}

RegistryHold::RegistryHold() {
    if (sqlite3_open(RegistryDatabasePath().c_str(), &db_) == SQLITE_OK)
        held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void RegistryHold::Release() {
    if (held_)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
    sqlite3_close(db_);
    db_ = nullptr;
}

}  // namespace platform::testing
