#include "platform/kernel/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <cxxabi.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <vector>

#include "platform/base/exceptions.h"
#include "platform/base/lasterror.h"
#include "platform/kernel/kernel_object.h"

namespace platform {

namespace {

class ThreadObject : public KernelObject {
  public:
    explicit ThreadObject(DWORD suspendCount) : suspendCount_(suspendCount) {}

    bool WaitFor(DWORD milliseconds) override {
        std::unique_lock<std::mutex> held(lock_);
        return WaitSignalled(changed_, held, milliseconds, [this] { return ended_; });
    }

    DWORD ExitCode() {
        std::lock_guard<std::mutex> held(lock_);
        return ended_ ? exitCode_ : STILL_ACTIVE;
    }

    void End(DWORD exitCode) {
        std::lock_guard<std::mutex> held(lock_);
        exitCode_ = exitCode;
        ended_ = true;
        changed_.notify_all();
    }

    DWORD Resume() {
        std::lock_guard<std::mutex> held(lock_);
        const DWORD before = suspendCount_;
        if (suspendCount_ > 0 && --suspendCount_ == 0)
            changed_.notify_all();
        return before;
    }

    void WaitUntilResumed() {
        std::unique_lock<std::mutex> held(lock_);
        changed_.wait(held, [this] { return suspendCount_ == 0; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    DWORD suspendCount_;
    DWORD exitCode_ = STILL_ACTIVE;
    bool ended_ = false;
};

// A thread that calls AfxBeginThread. Its ended auto-deleting threads are reclaimed by its own
// next call, so the pointer it was just given cannot be freed under it by another caller.
struct Creator {
    std::atomic<bool> alive{true};
};

struct CreatorMark {
    std::shared_ptr<Creator> creator = std::make_shared<Creator>();
    ~CreatorMark() { creator->alive.store(false); }
};

std::shared_ptr<Creator> CallingCreator() {
    thread_local CreatorMark mark;
    return mark.creator;
}

struct EndedThread {
    std::shared_ptr<Creator> creator;
    CWinThread* thread;
};

struct Reclaimer {
    std::mutex lock;
    std::vector<EndedThread> ended;
};

Reclaimer& Ended() {
    static auto* reclaimer = new Reclaimer();  // lives until exit, after every thread
    return *reclaimer;
}

// Deletes the ended auto-deleting threads of `creator` and those of callers that have ended;
// every one when `creator` is null.
void Reclaim(const Creator* creator) {
    std::vector<CWinThread*> doomed;
    {
        Reclaimer& reclaimer = Ended();
        std::lock_guard<std::mutex> held(reclaimer.lock);
        auto keep = reclaimer.ended.begin();
        for (EndedThread& entry : reclaimer.ended) {
            if (creator == nullptr || entry.creator.get() == creator ||
                !entry.creator->alive.load()) {
                doomed.push_back(entry.thread);
            } else {
                *keep++ = std::move(entry);
            }
        }
        reclaimer.ended.erase(keep, reclaimer.ended.end());
    }
    for (CWinThread* thread : doomed)
        delete thread;  // closes its m_hThread
}

void ReclaimAtExit() {
    Reclaim(nullptr);
}

std::atomic<ThreadStartGate*> g_gate{nullptr};
std::atomic<DWORD> g_nextThreadId{1};

struct Start {
    AFX_THREADPROC proc;
    LPVOID param;
    CWinThread* thread;
    std::shared_ptr<ThreadObject> object;
    std::shared_ptr<Creator> creator;
};

// Runs at the thread's end, also when it unwinds through a thread cancellation.
struct Finish {
    Start& start;
    DWORD exitCode = THREAD_EXIT_CODE_UNCAUGHT;

    ~Finish() {
        // Read before End: once the end is signalled the owner of a thread that does not delete
        // itself may delete the object. A deleting one is queued before End, so whoever sees
        // the end sees it reclaimable.
        if (start.thread->m_bAutoDelete) {
            Reclaimer& reclaimer = Ended();
            std::lock_guard<std::mutex> held(reclaimer.lock);
            reclaimer.ended.push_back({start.creator, start.thread});
        }
        start.object->End(exitCode);
    }
};

void ReportUncaught(DWORD threadId, const char* what) {
    std::fprintf(stderr, "thread %u ended by an uncaught exception: %s\n",
                 static_cast<unsigned>(threadId), what);
}

void* ThreadMain(void* argument) {
    const std::unique_ptr<Start> start(static_cast<Start*>(argument));
    start->object->WaitUntilResumed();
    const DWORD threadId = start->thread->m_nThreadID;
    Finish finish{*start};
    try {
        finish.exitCode = start->proc(start->param);
    } catch (abi::__forced_unwind&) {
        throw;  // a cancellation must go on unwinding
    } catch (CException* e) {
        char message[256] = "";
        e->GetErrorMessage(message, sizeof message);
        ReportUncaught(threadId, message);
        e->Delete();
    } catch (const std::exception& e) {
        ReportUncaught(threadId, e.what());
    } catch (...) {
        ReportUncaught(threadId, "unknown exception");
    }
    return nullptr;
}

bool MayStart() {
    ThreadStartGate* gate = g_gate.load();
    return gate == nullptr || gate->MayStart();
}

}  // namespace

ThreadStartGate* SetThreadStartGate(ThreadStartGate* gate) {
    return g_gate.exchange(gate);
}

}  // namespace platform

CWinThread::~CWinThread() {
    if (m_hThread != nullptr)
        platform::CloseKernelHandle(m_hThread);
}

DWORD CWinThread::ResumeThread() {
    return ::ResumeThread(m_hThread);
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES) {
    static const bool reclaimAtExit = std::atexit(platform::ReclaimAtExit) == 0;
    (void)reclaimAtExit;
    const std::shared_ptr<platform::Creator> creator = platform::CallingCreator();
    platform::Reclaim(creator.get());

    if (proc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!platform::MayStart()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }

    auto object =
        std::make_shared<platform::ThreadObject>((createFlags & CREATE_SUSPENDED) != 0 ? 1 : 0);
    auto* thread = new CWinThread();
    thread->m_hThread = platform::NewHandle(object);
    thread->m_nThreadID = platform::g_nextThreadId.fetch_add(1);
    auto* start = new platform::Start{proc, param, thread, std::move(object), creator};

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    size_t defaultStack = 0;
    pthread_attr_getstacksize(&attributes, &defaultStack);
    if (stackSize > defaultStack) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        pthread_attr_setstacksize(&attributes, (stackSize + page - 1) / page * page);
    }
    pthread_t id;
    const int failed = pthread_create(&id, &attributes, platform::ThreadMain, start);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        delete start;
        delete thread;
        SetLastError(failed == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY
                                      : platform::WindowsErrorFromErrno(failed));
        return nullptr;
    }
    return thread;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    const auto object = platform::ObjectAs<platform::ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
    const auto object = platform::ObjectAs<platform::ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    return object->Resume();
}
