#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel/clock.h"
#include "platform/window/messages.h"
#include "support/platform/window_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::WindowKind;
using platform::WindowState;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;

// A window whose OnTimer records the time of each tick and can stay busy for a while.
class TimerWindow : public CWnd {
  public:
    struct Tick {
        UINT_PTR id;
        Clock::time_point at;
    };
    std::vector<Tick> ticks;
    int busyMs = 0;  // the first tick's handler sleeps this long
    std::function<void(UINT_PTR)> onTick;
    int kills = 0;

    TimerWindow() {
        WindowState d;
        d.kind = WindowKind::Dialog;
        Attach(platform::CreateModelWindow(d));
    }
    ~TimerWindow() override {
        HWND hwnd = Detach();
        platform::DestroyModelWindow(hwnd);
    }
    size_t Count(UINT_PTR id) const {
        size_t n = 0;
        for (const Tick& t : ticks)
            n += t.id == id;
        return n;
    }

  protected:
    afx_msg void OnTimer(UINT_PTR id) {
        ticks.push_back({id, Clock::now()});
        if (ticks.size() == 1 && busyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(busyMs));
        if (onTick)
            onTick(id);
    }
    afx_msg LRESULT OnKill(WPARAM id, LPARAM) {
        ++kills;
        KillTimer(id);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};
constexpr UINT kKillMessage = WM_USER + 1;
BEGIN_MESSAGE_MAP(TimerWindow, CWnd)
ON_WM_TIMER()
ON_MESSAGE(kKillMessage, &TimerWindow::OnKill)
END_MESSAGE_MAP()

using TimerTest = wintest::WindowTest;

TEST_F(TimerTest, ATickComesOnlyWhenThePeriodHasPassed) {
    TimerWindow w;
    auto start = Clock::now();
    ASSERT_EQ(w.SetTimer(5, 60), 5u);
    ASSERT_TRUE(PumpUntil([&] { return !w.ticks.empty(); }, 3000));
    EXPECT_GE(w.ticks[0].at - start, std::chrono::milliseconds(60));
    w.KillTimer(5);
}

TEST_F(TimerTest, ABusyHandlerGetsOneTickAfterItNotOnePerMissedPeriod) {
    TimerWindow w;
    const int period = 40;
    w.busyMs = 5 * period;
    w.SetTimer(1, period);
    ASSERT_TRUE(PumpUntil([&] { return w.ticks.size() >= 2; }, 5000));
    // The tick after the busy handler; any further tick must wait a full period after it.
    Clock::time_point after = w.ticks[1].at;
    PumpUntil([&] { return Clock::now() - after >= std::chrono::milliseconds(period / 2); }, 2000);
    size_t within = 0;
    for (size_t i = 1; i < w.ticks.size(); ++i) {
        within += w.ticks[i].at - after < std::chrono::milliseconds(period / 2);
    }
    EXPECT_EQ(within, 1u) << "missed periods piled up behind the busy handler";
    w.KillTimer(1);
}

TEST_F(TimerTest, KillTimerDropsATickThatIsAlreadyPending) {
    TimerWindow w;
    w.SetTimer(2, 10);
    // The tick falls due while nothing is dispatched. Posted messages come before ticks in a
    // round, so the posted kill runs while the tick is pending.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    PostMessageA(w.m_hWnd, kKillMessage, 2, 0);
    PumpFor(80);
    EXPECT_EQ(w.kills, 1);
    EXPECT_EQ(w.Count(2), 0u);
    EXPECT_FALSE(w.KillTimer(2)) << "a killed timer is gone";
}

TEST_F(TimerTest, AHandlerThatKillsAnotherTimerDropsItsPendingTick) {
    TimerWindow w;
    w.SetTimer(1, 10);
    w.SetTimer(2, 10);
    // Both become due together; whichever runs first kills the other.
    w.onTick = [&](UINT_PTR id) { w.KillTimer(id == 1 ? 2 : 1); };
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    PumpFor(100);
    EXPECT_GT(w.Count(1) + w.Count(2), 0u);
    EXPECT_TRUE(w.Count(1) == 0 || w.Count(2) == 0) << "the killed timer's tick still came";
    w.KillTimer(1);
    w.KillTimer(2);
}

TEST_F(TimerTest, AWorkerSetsAndKillsTimers) {
    TimerWindow w;
    HWND hwnd = w.m_hWnd;
    std::thread([&] { EXPECT_EQ(SetTimer(hwnd, 777, 20, nullptr), 777u); }).join();
    ASSERT_TRUE(PumpUntil([&] { return w.Count(777) >= 2; }, 3000));
    std::thread([&] { EXPECT_TRUE(KillTimer(hwnd, 777)); }).join();
    size_t seen = w.Count(777);
    PumpFor(100);
    EXPECT_LE(w.Count(777), seen + 1) << "ticks went on after KillTimer";
    size_t settled = w.Count(777);
    PumpFor(60);
    EXPECT_EQ(w.Count(777), settled);
}

TEST_F(TimerTest, SettingATimerAgainRestartsItsPeriod) {
    TimerWindow w;
    w.SetTimer(3, 50);
    // Nothing is dispatched meanwhile, so however late this thread wakes, the first period
    // cannot tick before it is set again.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto again = Clock::now();
    w.SetTimer(3, 120);
    ASSERT_TRUE(PumpUntil([&] { return !w.ticks.empty(); }, 3000));
    EXPECT_GE(w.ticks[0].at - again, std::chrono::milliseconds(120));
    w.KillTimer(3);
}

TEST_F(TimerTest, ATimerProcIsCalledInsteadOfTheWindow) {
    TimerWindow w;
    static int calls = 0;
    static HWND seen = nullptr;
    calls = 0;
    w.SetTimer(4, 10, [](HWND hwnd, UINT message, UINT_PTR id, DWORD) {
        if (message == WM_TIMER && id == 4)
            ++calls;
        seen = hwnd;
    });
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 3000));
    EXPECT_EQ(seen, w.m_hWnd);
    EXPECT_EQ(w.Count(4), 0u);
    w.KillTimer(4);
}

TEST_F(TimerTest, TheTimersOfADestroyedWindowStop) {
    // A timer procedure is called without going through the window, so only dropping the
    // window's timers keeps it from running on.
    static std::atomic<int> procCalls{0};
    procCalls = 0;
    auto* w = new TimerWindow;
    HWND hwnd = w->m_hWnd;
    w->SetTimer(6, 10);
    w->SetTimer(7, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++procCalls; });
    delete w;
    PumpFor(50);
    EXPECT_EQ(procCalls.load(), 0) << "a destroyed window's timer procedure still ran";
    EXPECT_FALSE(KillTimer(hwnd, 6));
}

}  // namespace
