#include "platform/kernel/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/base/exceptions.h"
#include "platform/base/lasterror.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/sync.h"
#include "support/platform/test_seams.h"

namespace {

HANDLE DuplicateOf(HANDLE handle) {
    HANDLE copy = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    return copy;
}

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0xDEADu;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

UINT ReturnsParameter(LPVOID param) {
    return static_cast<UINT>(reinterpret_cast<uintptr_t>(param));
}

UINT WaitsForEventThenReturns42(LPVOID param) {
    WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
    return 42;
}

// A thread that waits, started suspended, for RunToEnd.
CWinThread* StartParked() {
    return AfxBeginThread(ReturnsParameter, nullptr, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
}

// Resumes a parked auto-deleting thread and waits for its end, so no test leaves one running.
void RunToEnd(CWinThread* parked) {
    HANDLE thread = DuplicateOf(parked->m_hThread);
    parked->ResumeThread();
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Thread, ExitCodeIsStillActiveWhileRunningThenTheResult) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CWinThread* worker = AfxBeginThread(WaitsForEventThenReturns42, release);
    ASSERT_NE(worker, nullptr);
    EXPECT_NE(worker->m_nThreadID, 0u);
    HANDLE thread = DuplicateOf(worker->m_hThread);

    EXPECT_EQ(ExitCodeOf(thread), STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    CloseHandle(thread);
    CloseHandle(release);
}

TEST(Thread, DuplicatedHandleOutlivesTheAutoDeletingObject) {
    CWinThread* worker = AfxBeginThread(ReturnsParameter, reinterpret_cast<LPVOID>(17));
    ASSERT_NE(worker, nullptr);
    HANDLE own = worker->m_hThread;
    HANDLE thread = DuplicateOf(own);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);

    // The next start reclaims the ended object and closes its own handle.
    CWinThread* next = StartParked();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 17u);
    CloseHandle(thread);
    RunToEnd(next);
}

TEST(Thread, ObjectThatDoesNotDeleteItselfKeepsItsHandleUntilDeleted) {
    CWinThread* worker = StartParked();
    ASSERT_NE(worker, nullptr);
    worker->m_bAutoDelete = FALSE;
    HANDLE own = worker->m_hThread;
    EXPECT_EQ(worker->ResumeThread(), 1u);
    ASSERT_EQ(WaitForSingleObject(own, 10000), WAIT_OBJECT_0);

    CWinThread* other = StartParked();  // a reclaim must leave this object alone
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(*worker), 0u);
    delete worker;
    EXPECT_EQ(WaitForSingleObject(own, 0), WAIT_FAILED);
    RunToEnd(other);
}

TEST(Thread, SuspendedThreadRunsOnlyAfterResume) {
    static std::atomic<bool> ran{false};
    ran = false;
    CWinThread* worker = AfxBeginThread(
        [](LPVOID) -> UINT {
            ran = true;
            return 5;
        },
        nullptr, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(worker, nullptr);
    HANDLE thread = DuplicateOf(worker->m_hThread);
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(ExitCodeOf(thread), STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(ExitCodeOf(thread), 5u);
    EXPECT_EQ(ResumeThread(thread), 0u);  // not suspended any more
    CloseHandle(thread);
}

TEST(Thread, EscapingExceptionsEndOnlyTheirThread) {
    struct Case {
        const char* name;
        AFX_THREADPROC proc;
    };
    const Case cases[] = {
        {"CException*", [](LPVOID) -> UINT { AfxThrowInvalidArgException(); }},
        {"CMemoryException*", [](LPVOID) -> UINT { AfxThrowMemoryException(); }},
        {"std::exception", [](LPVOID) -> UINT { throw std::runtime_error("broken"); }},
        {"anything else", [](LPVOID) -> UINT { throw 3; }},
    };
    for (const Case& c : cases) {
        CWinThread* worker = AfxBeginThread(c.proc, nullptr);
        ASSERT_NE(worker, nullptr) << c.name;
        HANDLE thread = DuplicateOf(worker->m_hThread);
        EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << c.name;
        EXPECT_EQ(ExitCodeOf(thread), THREAD_EXIT_CODE_UNCAUGHT) << c.name;
        CloseHandle(thread);
    }
    // Still here; the leak checker finds any exception object that was not deleted.
}

TEST(Thread, CallsOnHandlesThatAreNotThreads) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closed);
    for (HANDLE handle : {event, closed, static_cast<HANDLE>(nullptr)}) {
        DWORD code = 99;
        SetLastError(0);
        EXPECT_FALSE(GetExitCodeThread(handle, &code));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(code, 99u);
        SetLastError(0);
        EXPECT_EQ(ResumeThread(handle), static_cast<DWORD>(-1));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    CloseHandle(event);
}

TEST(Thread, FailedStartReturnsNullAndLeavesNoHandle) {
    platform::testing::FailThreadStarts(2);
    // The first failing start also reclaims what earlier tests left; the second shows the leak.
    EXPECT_EQ(AfxBeginThread(ReturnsParameter, nullptr), nullptr);
    const size_t before = platform::OpenHandleCount();
    SetLastError(0);
    EXPECT_EQ(AfxBeginThread(ReturnsParameter, nullptr), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(platform::OpenHandleCount(), before);

    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    CWinThread* worker = AfxBeginThread(ReturnsParameter, nullptr);  // only two failed
    ASSERT_NE(worker, nullptr);
    HANDLE thread = DuplicateOf(worker->m_hThread);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Thread, LargeStackSizeIsUsable) {
    CWinThread* worker = AfxBeginThread(
        [](LPVOID) -> UINT {
            // More than the usual 8 MiB default, touched page by page from the top, so a stack
            // that is too small meets its guard page.
            volatile char big[12 << 20];
            for (size_t at = sizeof big; at >= 4096; at -= 4096)
                big[at - 1] = 1;
            big[0] = 2;
            return big[0] + big[sizeof big - 1];
        },
        nullptr, THREAD_PRIORITY_NORMAL, 16u << 20);
    ASSERT_NE(worker, nullptr);
    HANDLE thread = DuplicateOf(worker->m_hThread);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 3u);
    CloseHandle(thread);
}

// Starts `count` short threads, duplicating each handle right after the start as the
// application does; returns the duplicates.
std::vector<HANDLE> StartShortThreads(int count, int firstCode) {
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        CWinThread* worker =
            AfxBeginThread(ReturnsParameter, reinterpret_cast<LPVOID>(uintptr_t(firstCode + i)));
        if (worker == nullptr) {
            ADD_FAILURE() << "start " << i;
            continue;
        }
        threads.push_back(DuplicateOf(worker->m_hThread));
    }
    return threads;
}

void ExpectEndedWithCodes(const std::vector<HANDLE>& threads, int firstCode) {
    for (size_t i = 0; i < threads.size(); ++i) {
        ASSERT_EQ(WaitForSingleObject(threads[i], 20000), WAIT_OBJECT_0) << i;
        EXPECT_EQ(ExitCodeOf(threads[i]), static_cast<DWORD>(firstCode + i)) << i;
        CloseHandle(threads[i]);
    }
}

TEST(ThreadMany, ShortThreadsStartedAndDuplicatedAtOnceLeaveNoHandles) {
    // Earlier tests may have left ended objects for this caller: this start reclaims them.
    CWinThread* first = StartParked();
    ASSERT_NE(first, nullptr);
    RunToEnd(first);
    const size_t baseline = platform::OpenHandleCount();  // with `first`'s own handle

    const std::vector<HANDLE> threads = StartShortThreads(200, 1000);
    ExpectEndedWithCodes(threads, 1000);

    CWinThread* last = StartParked();  // reclaims all 201 ended objects
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(platform::OpenHandleCount(), baseline);  // `first`'s handle gave way to `last`'s
    RunToEnd(last);
}

TEST(ThreadMany, SeveralCallersStartThreadsAtTheSameTime) {
    const size_t baseline = platform::OpenHandleCount();
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 4; ++caller) {
        callers.emplace_back([caller] {
            const int firstCode = 10000 * (caller + 1);
            ExpectEndedWithCodes(StartShortThreads(50, firstCode), firstCode);
        });
    }
    for (std::thread& caller : callers)
        caller.join();

    // The callers have ended, so whoever starts next reclaims what they left.
    CWinThread* last = StartParked();
    ASSERT_NE(last, nullptr);
    EXPECT_LE(platform::OpenHandleCount(), baseline + 1);
    RunToEnd(last);
}

TEST(ThreadMany, ThreadIdsAreDistinct) {
    std::set<DWORD> ids;
    std::vector<CWinThread*> parked;
    for (int i = 0; i < 20; ++i) {
        parked.push_back(StartParked());
        ASSERT_NE(parked.back(), nullptr);
        ids.insert(parked.back()->m_nThreadID);
    }
    EXPECT_EQ(ids.size(), parked.size());
    for (CWinThread* worker : parked)
        RunToEnd(worker);
}

}  // namespace
