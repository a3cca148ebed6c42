#include "platform/kernel/systime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/platform/test_seams.h"

namespace {

// Local time is read under a fixed time zone so each case has one right answer.
class CTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        oldTz_ = tz != nullptr ? tz : "";
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override {
        platform::testing::SetCurrentTimeFunction(nullptr);
        platform::testing::SetLocalTimeFunction(nullptr);
        if (hadTz_) {
            setenv("TZ", oldTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(CTimeTest, FieldsAreCalendarValues) {
    struct Case {
        time_t time;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {951825599, 2000, 2, 29, 11, 59, 59},
        {1700000000, 2023, 11, 14, 22, 13, 20},
        {1704067199, 2023, 12, 31, 23, 59, 59},
    };
    for (const Case& c : cases) {
        const CTime t(c.time);
        EXPECT_EQ(t.GetYear(), c.year) << c.time;
        EXPECT_EQ(t.GetMonth(), c.month) << c.time;
        EXPECT_EQ(t.GetDay(), c.day) << c.time;
        EXPECT_EQ(t.GetHour(), c.hour) << c.time;
        EXPECT_EQ(t.GetMinute(), c.minute) << c.time;
        EXPECT_EQ(t.GetSecond(), c.second) << c.time;
        struct tm local;
        ASSERT_EQ(t.GetLocalTm(&local), &local);
        EXPECT_EQ(local.tm_mon, c.month - 1);
    }
}

TEST_F(CTimeTest, CurrentTimeFollowsTheClock) {
    const time_t before = time(nullptr);
    const time_t now = CTime::GetCurrentTime().GetTime();
    EXPECT_GE(now, before);
    EXPECT_LE(now, time(nullptr));

    platform::testing::SetCurrentTimeFunction([]() -> time_t { return 1700000000; });
    EXPECT_EQ(CTime::GetCurrentTime().GetTime(), 1700000000);
    platform::testing::SetCurrentTimeFunction(nullptr);
    EXPECT_GE(CTime::GetCurrentTime().GetTime(), before);
}

TEST_F(CTimeTest, FailedConversionAnswersNullAndOutOfRangeFields) {
    platform::testing::SetLocalTimeFunction(
        [](const time_t*, struct tm*) -> struct tm* { return nullptr; });
    const CTime t(1700000000);
    struct tm local;
    EXPECT_EQ(t.GetLocalTm(&local), nullptr);
    EXPECT_EQ(t.GetYear(), 0);
    EXPECT_EQ(t.GetMonth(), 0);
    EXPECT_EQ(t.GetDay(), 0);
    EXPECT_EQ(t.GetHour(), -1);
    EXPECT_EQ(t.GetMinute(), -1);
    EXPECT_EQ(t.GetSecond(), -1);
    EXPECT_EQ(t.GetLocalTm(nullptr), nullptr);

    platform::testing::SetLocalTimeFunction(nullptr);
    EXPECT_EQ(t.GetMonth(), 11);
}

}  // namespace
