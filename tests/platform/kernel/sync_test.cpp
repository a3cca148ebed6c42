#include "platform/kernel/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/lasterror.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/thread.h"
#include "platform/kernel/wait_pump.h"

namespace {

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, "ignored name");
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << i;
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, InitialStateIsHonouredForBothKinds) {
    for (BOOL manual : {TRUE, FALSE}) {
        HANDLE event = CreateEventA(nullptr, manual, TRUE, nullptr);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << manual;
        EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << manual;
        CloseHandle(event);
    }
}

TEST(Event, AutoResetReleasesExactlyOneWaitPerSet) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Two sets before any wait still free one wait: an event does not count.
    SetEvent(event);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, 5000) == WAIT_OBJECT_0)
                ++released;
        });
    }
    Sleep(50);  // let the waiters block
    for (int expected = 1; expected <= 3; ++expected) {
        SetEvent(event);
        const auto start = std::chrono::steady_clock::now();
        while (released.load() < expected && MillisecondsSince(start) < 2000)
            Sleep(1);
        Sleep(30);  // a second release would show up here
        EXPECT_EQ(released.load(), expected);
    }
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Event, SetFromAnotherThreadWakesAnInfiniteWait) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([event] {
        Sleep(20);
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

TEST(Wait, TimeOutsGiveWaitTimeoutAfterTheirTime) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (DWORD timeout : {0u, 50u}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitForSingleObject(event, timeout), WAIT_TIMEOUT) << timeout;
        EXPECT_GE(MillisecondsSince(start), static_cast<int64_t>(timeout)) << timeout;
    }
    CloseHandle(event);
}

TEST(Wait, HandlesThatAreNotOpenFailWithInvalidHandle) {
    // INVALID_HANDLE_VALUE is not here: as on Windows it is the current-process pseudo-handle.
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(closed);
    struct Case {
        const char* name;
        HANDLE handle;
    };
    const Case cases[] = {
        {"closed", closed},
        {"null", nullptr},
        {"garbage", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xDEADBEE8))},
        {"misaligned", reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(closed) + 1)},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(c.handle, 10), WAIT_FAILED) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.name;
        SetLastError(0);
        EXPECT_FALSE(SetEvent(c.handle)) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.name;
        EXPECT_FALSE(ResetEvent(c.handle)) << c.name;
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(c.handle)) << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.name;
    }
}

TEST(Wait, EventCallsRefuseHandlesOfOtherKinds) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ResetEvent(mutex));
    EXPECT_FALSE(SetEvent(GetCurrentProcess()));
    CloseHandle(mutex);
}

TEST(Wait, CurrentProcessIsNeverSignalledAndNeedsNoClosing) {
    EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 20), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 0), WAIT_TIMEOUT);
}

TEST(Wait, ClosingTheHandleDuringAWaitLeavesTheWaitOnTheObject) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForSingleObject(event, 300); });
    Sleep(50);
    CloseHandle(event);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

class Duplicate : public ::testing::Test {
  protected:
    void SetUp() override {
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        baseline_ = platform::OpenHandleCount();
    }
    void TearDown() override { CloseHandle(event_); }
    HANDLE event_ = nullptr;
    size_t baseline_ = 0;
};

TEST_F(Duplicate, CopyReachesTheSameObjectAndOutlivesTheOriginal) {
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event_, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, event_);
    EXPECT_EQ(platform::OpenHandleCount(), baseline_ + 1);
    SetEvent(copy);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    ResetEvent(event_);
    EXPECT_TRUE(CloseHandle(event_));
    event_ = nullptr;
    EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_TIMEOUT);
    SetEvent(copy);
    EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(copy));
    EXPECT_EQ(platform::OpenHandleCount(), baseline_ - 1);
}

TEST_F(Duplicate, CloseSourceMovesTheHandle) {
    HANDLE moved = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event_, GetCurrentProcess(), &moved, 0, FALSE,
                                DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_FAILED);
    EXPECT_EQ(platform::OpenHandleCount(), baseline_);
    event_ = moved;
}

TEST_F(Duplicate, RefusesWhatItCannotDo) {
    HANDLE otherEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE copy = nullptr;
    struct Case {
        const char* name;
        HANDLE sourceProcess;
        HANDLE source;
        HANDLE targetProcess;
        LPHANDLE target;
        DWORD error;
    };
    const Case cases[] = {
        {"source not open", GetCurrentProcess(), nullptr, GetCurrentProcess(), &copy,
         ERROR_INVALID_HANDLE},
        {"source process is an event", otherEvent, event_, GetCurrentProcess(), &copy,
         ERROR_INVALID_HANDLE},
        {"target process is not open", GetCurrentProcess(), event_, nullptr, &copy,
         ERROR_INVALID_HANDLE},
        {"nowhere to put the copy", GetCurrentProcess(), event_, GetCurrentProcess(), nullptr,
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(DuplicateHandle(c.sourceProcess, c.source, c.targetProcess, c.target, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS))
            << c.name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error)) << c.name;
        EXPECT_EQ(copy, nullptr) << c.name;
    }
    EXPECT_EQ(platform::OpenHandleCount(), baseline_ + 1);
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);  // still open
    CloseHandle(otherEvent);
}

TEST_F(Duplicate, ProcessHandleCanBeDuplicatedAndUsedAsAProcess) {
    HANDLE process = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                &process, 0, FALSE, DUPLICATE_SAME_ACCESS));
    HANDLE copy = nullptr;
    EXPECT_TRUE(DuplicateHandle(process, event_, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_TIMEOUT);
    CloseHandle(copy);
    EXPECT_TRUE(CloseHandle(process));
    EXPECT_EQ(platform::OpenHandleCount(), baseline_);
}

// The user-interface thread's wait pump, installed for the test's own thread.
std::atomic<int> g_pumpRuns{0};
std::atomic<bool> g_served{false};
void Pump() {
    ++g_pumpRuns;
    g_served = true;
}

class UiThreadWait : public ::testing::Test {
  protected:
    void SetUp() override {
        g_pumpRuns = 0;
        g_served = false;
        platform::SetUiThreadWaitPump(std::this_thread::get_id(), &Pump);
    }
    void TearDown() override { platform::SetUiThreadWaitPump(std::thread::id(), nullptr); }
};

UINT NeedsTheUiThread(LPVOID) {
    // Stands for a worker that asks the user-interface thread for a message box.
    for (int i = 0; i < 5000 && !g_served.load(); ++i)
        Sleep(1);
    return g_served.load() ? 7 : 1;
}

TEST_F(UiThreadWait, AWaitForAWorkerServesWhatTheWorkerNeeds) {
    CWinThread* worker = AfxBeginThread(NeedsTheUiThread, nullptr);
    ASSERT_NE(worker, nullptr);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker->m_hThread, GetCurrentProcess(),
                                &thread, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
}

TEST_F(UiThreadWait, PumpKeepsRunningThroughoutALongWaitThatTimesOut) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    EXPECT_GE(MillisecondsSince(start), 100);
    EXPECT_GE(g_pumpRuns.load(), 3);  // slices of 5 ms give about 20
    CloseHandle(event);
}

TEST_F(UiThreadWait, ASignalledObjectEndsTheWaitAtOnceAndOtherThreadsDoNotPump) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(g_pumpRuns.load(), 0);
    std::thread other([event] { EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT); });
    other.join();
    EXPECT_EQ(g_pumpRuns.load(), 0);
    CloseHandle(event);
}

TEST_F(UiThreadWait, WorkersNeverPumpWhileThePumpIsInstalledAgain) {
    // The queue may be started again while workers wait; none of them may take the pump for its
    // own meanwhile.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> waits{0};
    std::thread worker([&] {
        while (!stop.load()) {
            EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
            ++waits;
        }
    });
    // Both go on together for a while, however the threads are scheduled.
    for (int i = 0; i < 2000 || waits.load() < 1000; ++i) {
        platform::SetUiThreadWaitPump(std::thread::id(), nullptr);
        platform::SetUiThreadWaitPump(std::this_thread::get_id(), &Pump);
        if (i % 100 == 0)
            std::this_thread::yield();
    }
    stop = true;
    worker.join();
    EXPECT_EQ(g_pumpRuns.load(), 0);
    CloseHandle(event);
}

}  // namespace
