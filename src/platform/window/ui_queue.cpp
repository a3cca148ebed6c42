#include "platform/window/ui_queue.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/base/exceptions.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/wait_pump.h"
#include "platform/window/dispatch.h"
#include "platform/window/drawing_port.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 801);

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT period;
    TIMERPROC proc;
    Clock::time_point due;
    bool pending;
    uint64_t serial;
};

struct Request {
    std::function<LRESULT()> work;
    LRESULT fallback = 0;  // the answer when the work fails or is never served
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    LRESULT result = 0;

    void Answer(LRESULT value) {
        std::lock_guard<std::mutex> lock(mutex);
        result = value;
        done = true;
        cv.notify_all();
    }
};

struct Queue {
    std::mutex mutex;
    std::deque<MSG> posted;
    std::vector<Timer> timers;
    uint64_t serial = 0;
    std::deque<std::shared_ptr<Request>> requests;
    bool accepting = false;  // requests are served only while the user interface runs
};

Queue& queue() {
    // Workers may post until the process ends, so the queue is never destroyed.
    static Queue* q = [] {
        auto* made = new Queue;
        AddDestroyListener([](HWND hwnd, WindowProcedure*) { ForgetWindow(hwnd); });
        return made;
    }();
    return *q;
}

class Dispatcher;

std::mutex g_uiMutex;  // the dispatcher pointer against posting from workers
Dispatcher* g_dispatcher = nullptr;
std::atomic<bool> g_wakePending{false};
std::atomic<bool> g_running{false};
std::atomic<bool> g_quit{false};
std::atomic<int> g_quitCode{0};
std::thread::id g_uiThread;
int g_holdDepth = 0;      // user-interface thread only
bool g_heldBack = false;  // a round was skipped while held
int g_roundDepth = 0;     // rounds under way on the user-interface thread, nested ones counted

void RunOnce();

class Dispatcher : public QObject {
  public:
    bool event(QEvent* e) override {
        // A worker makes the event while it holds this lock; taking it orders that before the
        // read for ThreadSanitizer, which does not see the lock of Qt's own queue.
        { std::lock_guard<std::mutex> lock(g_uiMutex); }
        if (e->type() != kWakeEvent)
            return QObject::event(e);
        g_wakePending.store(false);
        RunOnce();
        return true;
    }
    void Rearm(int ms) {
        if (ms < 0) {
            timer_.stop();
        } else {
            timer_.start(ms, Qt::PreciseTimer, this);
        }
    }

  protected:
    void timerEvent(QTimerEvent* e) override {
        if (e->timerId() != timer_.timerId())
            return;
        timer_.stop();
        RunOnce();
    }

  private:
    QBasicTimer timer_;
};

void ServeRequests() {
    for (;;) {
        std::shared_ptr<Request> request;
        {
            Queue& q = queue();
            std::lock_guard<std::mutex> lock(q.mutex);
            if (q.requests.empty())
                return;
            request = q.requests.front();
            q.requests.pop_front();
        }
        // What the work lets out must neither leave the worker waiting nor unwind through
        // Qt's event loop: the worker gets the failure answer.
        LRESULT result = request->fallback;
        try {
            result = request->work();
        } catch (CException* e) {
            e->Delete();
        } catch (...) {
        }
        request->Answer(result);
    }
}

void PromoteDueTimers() {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    Clock::time_point now = Clock::now();
    for (Timer& t : q.timers) {
        if (t.pending || now < t.due)
            continue;
        t.pending = true;
        // The next period counts from now: a late tick never makes up for the missed ones.
        t.due = now + std::chrono::milliseconds(t.period);
    }
}

void DispatchPosted() {
    Queue& q = queue();
    size_t count;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        count = q.posted.size();
    }
    // Only what was there when the round began: a handler that posts again cannot starve the
    // ticks and the painting.
    for (size_t i = 0; i < count && g_holdDepth == 0; ++i) {
        MSG m;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            if (q.posted.empty())
                return;
            m = q.posted.front();
            q.posted.pop_front();
        }
        // A handler earlier in this round may have ended the dialog: as on Windows, its modal
        // loop would take nothing more for it, and the window then goes with what was queued.
        if (InEndedModal(m.hwnd))
            continue;
        DeliverMessage(m.hwnd, m.message, m.wParam, m.lParam);
    }
}

void DispatchTicks() {
    Queue& q = queue();
    std::vector<uint64_t> due;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        for (const Timer& t : q.timers) {
            if (t.pending)
                due.push_back(t.serial);
        }
    }
    for (uint64_t serial : due) {
        if (g_holdDepth != 0)
            return;
        HWND hwnd;
        UINT_PTR id;
        TIMERPROC proc;
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            auto it = std::find_if(q.timers.begin(), q.timers.end(),
                                   [&](const Timer& t) { return t.serial == serial; });
            // Killed or set again meanwhile: its tick is dropped.
            if (it == q.timers.end() || !it->pending)
                continue;
            it->pending = false;
            hwnd = it->hwnd;
            id = it->id;
            proc = it->proc;
        }
        if (InEndedModal(hwnd))
            continue;
        if (proc != nullptr) {
            RunGuarded(hwnd, [&] {
                proc(hwnd, WM_TIMER, id, GetTickCount());
                return 0;
            });
        } else {
            DeliverMessage(hwnd, WM_TIMER, id, 0);
        }
    }
}

void PaintWindow(HWND hwnd, bool erase);

void PaintInvalid() {
    for (HWND hwnd : InvalidWindows()) {
        if (g_holdDepth != 0)
            return;
        bool erase = false;
        // Painted meanwhile (by a nested loop, or UpdateWindow) or gone: nothing to do.
        if (TakeInvalid(hwnd, &erase))
            PaintWindow(hwnd, erase);
    }
}

int NextTimerDelay() {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (q.timers.empty())
        return -1;
    Clock::time_point now = Clock::now();
    Clock::time_point first = Clock::time_point::max();
    for (const Timer& t : q.timers) {
        if (t.pending)
            return 0;
        first = std::min(first, t.due);
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(first - now).count();
    return static_cast<int>(std::max<int64_t>(wait, 0) + (first > now ? 1 : 0));
}

bool HasPosted() {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    return !q.posted.empty();
}

void RunOnce() {
    ++g_roundDepth;
    struct Leave {
        ~Leave() { --g_roundDepth; }
    } leave;
    ServeRequests();
    if (g_holdDepth != 0) {
        g_heldBack = true;
        return;
    }
    PromoteDueTimers();
    DispatchPosted();
    // As on Windows, painting comes before the ticks.
    PaintInvalid();
    DispatchTicks();
    if (g_holdDepth != 0) {
        g_heldBack = true;
        return;
    }
    if (g_dispatcher != nullptr)
        g_dispatcher->Rearm(NextTimerDelay());
    if (HasPosted())
        WakeUi();
}

// The kernel waits' pump: only the boxes that workers asked for.
void WaitPump() {
    HoldDispatch hold;
    ServeRequests();
}

}  // namespace

void StartQueue(void (*whileStarting)()) {
    if (g_running.load())
        return;
    g_uiThread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(g_uiMutex);
        g_dispatcher = new Dispatcher;
    }
    {
        Queue& q = queue();
        std::lock_guard<std::mutex> lock(q.mutex);
        q.accepting = true;
    }
    SetUiThreadWaitPump(g_uiThread, &WaitPump);
    if (whileStarting != nullptr)
        whileStarting();
    g_running.store(true);
    WakeUi();
}

void StopQueue(void (*whileStopping)()) {
    if (!g_running.load() || !OnUiThread())
        return;
    std::deque<std::shared_ptr<Request>> unanswered;
    {
        Queue& q = queue();
        std::lock_guard<std::mutex> lock(q.mutex);
        q.accepting = false;
        unanswered.swap(q.requests);
    }
    for (auto& r : unanswered)
        r->Answer(r->fallback);
    SetUiThreadWaitPump(g_uiThread, nullptr);
    if (whileStopping != nullptr)
        whileStopping();
    {
        std::lock_guard<std::mutex> lock(g_uiMutex);
        delete g_dispatcher;
        g_dispatcher = nullptr;
        // A wake event still queued died with the dispatcher; a later start must wake again.
        g_wakePending.store(false);
    }
    g_running.store(false);
}

bool UiRunning() {
    return g_running.load();
}

bool OnUiThread() {
    return g_running.load() && std::this_thread::get_id() == g_uiThread;
}

bool PostToQueue(const MSG& message) {
    {
        Queue& q = queue();
        std::lock_guard<std::mutex> lock(q.mutex);
        q.posted.push_back(message);
    }
    WakeUi();
    return true;
}

void RequestQuit(int exitCode) {
    g_quitCode.store(exitCode);
    g_quit.store(true);
    WakeUi();
}

bool QuitRequested() {
    return g_quit.load();
}
int QuitCode() {
    return g_quitCode.load();
}

void ForgetWindow(HWND hwnd) {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    q.posted.erase(std::remove_if(q.posted.begin(), q.posted.end(),
                                  [&](const MSG& m) { return m.hwnd == hwnd; }),
                   q.posted.end());
    q.timers.erase(std::remove_if(q.timers.begin(), q.timers.end(),
                                  [&](const Timer& t) { return t.hwnd == hwnd; }),
                   q.timers.end());
}

UINT_PTR StartTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    // Windows' limits: 10 ms at least, about 24.8 days at most.
    UINT period = std::clamp<UINT>(elapse, 10u, 0x7FFFFFFFu);
    {
        Queue& q = queue();
        std::lock_guard<std::mutex> lock(q.mutex);
        auto it = std::find_if(q.timers.begin(), q.timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        Timer t{hwnd,  id,        period, proc, Clock::now() + std::chrono::milliseconds(period),
                false, ++q.serial};
        if (it != q.timers.end()) {
            *it = t;
        } else {
            q.timers.push_back(t);
        }
    }
    WakeUi();
    return id;
}

bool StopTimer(HWND hwnd, UINT_PTR id) {
    Queue& q = queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    auto it = std::find_if(q.timers.begin(), q.timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == q.timers.end())
        return false;
    q.timers.erase(it);
    return true;
}

void WakeUi() {
    if (g_wakePending.exchange(true))
        return;
    std::lock_guard<std::mutex> lock(g_uiMutex);
    if (g_dispatcher == nullptr) {
        g_wakePending.store(false);
        return;
    }
    QCoreApplication::postEvent(g_dispatcher, new QEvent(kWakeEvent));
}

void WakeForNestedLoop() {
    // The round under way took the wake-up that its remaining work came with.
    if (g_roundDepth > 0 && OnUiThread())
        WakeUi();
}

void RunNestedLoop(const std::function<bool()>& done) {
    WakeForNestedLoop();
    while (!done())
        ProcessUiEvents(100);
}

void ProcessUiEvents(int maxWaitMs) {
    if (QCoreApplication::instance() == nullptr)
        return;
    if (maxWaitMs <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // The guard's own timer event ends the wait when nothing else comes.
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

LRESULT RunOnUiThread(const std::function<LRESULT()>& work, LRESULT fallback) {
    if (OnUiThread())
        return work();
    auto request = std::make_shared<Request>();
    request->work = work;
    request->fallback = fallback;
    {
        Queue& q = queue();
        std::lock_guard<std::mutex> lock(q.mutex);
        if (!q.accepting)
            return fallback;
        q.requests.push_back(request);
    }
    WakeUi();
    std::unique_lock<std::mutex> lock(request->mutex);
    request->cv.wait(lock, [&] { return request->done; });
    return request->result;
}

HoldDispatch::HoldDispatch() {
    ++g_holdDepth;
}

HoldDispatch::~HoldDispatch() {
    if (--g_holdDepth == 0 && g_heldBack) {
        g_heldBack = false;
        WakeUi();
    }
}

bool DispatchHeld() {
    return g_holdDepth != 0;
}

void PaintNow(HWND hwnd) {
    bool erase = false;
    if (TakeInvalid(hwnd, &erase))
        PaintWindow(hwnd, erase);
}

namespace {

void PaintWindow(HWND hwnd, bool erase) {
    HWND parent = nullptr;
    if (!InspectWindow(hwnd, [&](const WindowState& s) { parent = s.parent; }) ||
        !IsShownInModel(hwnd)) {
        return;
    }
    // Only windows with a handler of their own paint through messages; controls are drawn by
    // their widgets.
    if (parent != nullptr && WindowProcedureOf(hwnd) == nullptr)
        return;
    const DrawingPort* port = InstalledDrawingPort();
    if (erase && port != nullptr && port->windowDc != nullptr) {
        HDC dc = port->windowDc(hwnd);
        if (dc != nullptr && DcFromHandle(dc) != nullptr) {
            DeliverMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        }
        if (dc != nullptr && port->releaseDc != nullptr)
            port->releaseDc(hwnd, dc);
    }
    DeliverMessage(hwnd, WM_PAINT, 0, 0);
}

}  // namespace

}  // namespace platform
