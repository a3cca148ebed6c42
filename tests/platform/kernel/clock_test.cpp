#include "platform/kernel/clock.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/kernel/sync.h"

namespace {

class FixedTicks : public platform::TickSource {
  public:
    DWORD Now() override { return now; }
    DWORD now = 0;
};

// Restores the real clock whatever the test does.
class TestClock : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetTickSource(&ticks_); }
    void TearDown() override { platform::SetTickSource(nullptr); }
    FixedTicks ticks_;
};

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST_F(TestClock, GetTickCountAnswersFromTheSourceUntilItIsRemoved) {
    ticks_.now = 1234;
    EXPECT_EQ(GetTickCount(), 1234u);
    ticks_.now = 0xFFFFFFFEu;
    EXPECT_EQ(GetTickCount(), 0xFFFFFFFEu);

    platform::SetTickSource(nullptr);
    ticks_.now = 7;
    const DWORD before = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 29u);  // the real clock moves again
    EXPECT_LT(elapsed, 60000u);
}

TEST_F(TestClock, ElapsedTicksAreRightAcrossTheWrap) {
    struct Case {
        DWORD start;
        DWORD later;
        DWORD elapsed;
    };
    const Case cases[] = {
        {100, 350, 250},     {0xFFFFFFF0u, 0x10, 0x20},
        {0xFFFFFFFFu, 0, 1}, {0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFFu},
        {5, 5, 0},
    };
    for (const Case& c : cases) {
        ticks_.now = c.start;
        const DWORD start = GetTickCount();
        ticks_.now = c.later;
        EXPECT_EQ(GetTickCount() - start, c.elapsed) << c.start << " -> " << c.later;
    }
}

TEST_F(TestClock, WaitsAndSleepKeepRealTimeWhenTheTestClockStands) {
    ticks_.now = 42;  // never moves
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 40), WAIT_TIMEOUT);
    Sleep(20);
    EXPECT_GE(MillisecondsSince(start), 59);
    EXPECT_LT(MillisecondsSince(start), 60000);
    CloseHandle(event);
}

TEST(RealClock, SleepWaitsAtLeastAsLongAsAskedAndZeroOnlyYields) {
    auto start = std::chrono::steady_clock::now();
    Sleep(50);
    EXPECT_GE(MillisecondsSince(start), 50);

    start = std::chrono::steady_clock::now();
    Sleep(0);
    EXPECT_LT(MillisecondsSince(start), 1000);
}

}  // namespace
