#include "platform/window/ui_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/afx/file_dialog.h"
#include "platform/base/exceptions.h"
#include "platform/kernel/sync.h"
#include "platform/window/messages.h"
#include "support/platform/window_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::MessageBoxCall;
using platform::testing::PumpFor;
using platform::testing::PumpUntil;
using platform::testing::RepeatOnQtTimer;

constexpr UINT kEnter = WM_USER + 40;   // runs the test's nested loop
constexpr UINT kMarker = WM_USER + 41;  // only recorded
constexpr UINT kAsk = WM_USER + 42;     // lParam points to a Question of the sender

struct Question {
    int a = 0, b = 0;
    int sum = 0;  // the handler's answer
};

// A shown top-level window that records its paints, ticks and messages in order.
class Probe : public CWnd {
  public:
    std::vector<std::string> seen;
    std::function<void()> onEnter;
    std::thread::id askedOn;

    Probe() {
        platform::WindowState s;
        s.kind = platform::WindowKind::Dialog;
        s.visible = true;
        s.rect = RECT{100, 100, 300, 200};
        Attach(platform::CreateModelWindow(s));
    }
    ~Probe() override { platform::DestroyModelWindow(Detach()); }

    size_t Count(const std::string& what) const {
        return static_cast<size_t>(std::count(seen.begin(), seen.end(), what));
    }
    ptrdiff_t First(const std::string& what) const {
        auto it = std::find(seen.begin(), seen.end(), what);
        return it == seen.end() ? -1 : it - seen.begin();
    }

  protected:
    afx_msg void OnPaint() {
        seen.push_back("paint");
        CWnd::OnPaint();
    }
    afx_msg void OnTimer(UINT_PTR id) { seen.push_back("tick:" + std::to_string(id)); }
    afx_msg LRESULT OnEnter(WPARAM, LPARAM) {
        if (onEnter)
            onEnter();
        return 0;
    }
    afx_msg LRESULT OnMarker(WPARAM, LPARAM) {
        seen.push_back("marker");
        return 0;
    }
    afx_msg LRESULT OnAsk(WPARAM, LPARAM lParam) {
        auto* q = reinterpret_cast<Question*>(lParam);
        q->sum = q->a + q->b;
        seen.push_back("ask");
        askedOn = std::this_thread::get_id();
        return q->sum;
    }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(Probe, CWnd)
ON_WM_PAINT()
ON_WM_TIMER()
ON_MESSAGE(kEnter, &Probe::OnEnter)
ON_MESSAGE(kMarker, &Probe::OnMarker)
ON_MESSAGE(kAsk, &Probe::OnAsk)
END_MESSAGE_MAP()

class UiQueueTest : public wintest::WindowTest {
  protected:
    // Queues, while nothing is dispatched, what the next round finds: the paint of the probe
    // and its tick 1 that is due, after `posted` (posted in this order).
    static void QueueForTheNextRound(Probe& probe, std::initializer_list<UINT> posted) {
        PumpFor(30);  // the probe's first paint
        probe.seen.clear();
        for (UINT message : posted)
            PostMessageA(probe.m_hWnd, message, 0, 0);
        InvalidateRect(probe.m_hWnd, nullptr, FALSE);
        probe.SetTimer(1, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
};

TEST_F(UiQueueTest, ANestedLoopEnteredMidRoundDispatchesPaintsAndTicksWhatWasQueued) {
    bool pumpEnded = false;
    HWND modal = nullptr;
    struct Case {
        const char* name;
        std::function<void(Probe&)> run;  // enters the nested loop; returns once it has ended
        std::function<bool()> end;        // ends it, from a timer of Qt's own; false: not yet
    };
    const Case cases[] = {
        {"the test pump", [&](Probe&) { PumpUntil([&] { return pumpEnded; }, 10000); },
         [&] { return pumpEnded = true; }},
        {"a modal dialog",
         [&](Probe&) {
             wintest::RecordingDialog dialog;
             dialog.onInit = [&](wintest::RecordingDialog& d) { modal = d.m_hWnd; };
             platform::testing::RunModal(dialog, wintest::StandardTemplate());
             modal = nullptr;
         },
         [&] { return modal != nullptr && ::EndDialog(modal, IDOK); }},
        {"a message box",
         [&](Probe& probe) {
             platform::testing::InstallResponder(nullptr);
             MessageBoxA(probe.m_hWnd, "Wait", "", MB_OK);
             platform::testing::InstallResponder(&responder_);
         },
         [] { return platform::testing::AnswerShownMessageBox(IDOK); }},
        {"Save-As",
         [&](Probe& probe) {
             platform::testing::InstallResponder(nullptr);
             std::string name = fixtures::Sandbox::Win(sandbox_.Path("setup.exe"));
             CFileDialog save(FALSE, "exe", name.c_str(), OFN_OVERWRITEPROMPT, "*.exe|*.exe||",
                              &probe);
             save.DoModal();
             platform::testing::InstallResponder(&responder_);
         },
         [] { return platform::testing::AnswerShownFileDialog(nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pumpEnded = false;
        Probe probe;
        std::vector<std::string> inside;
        bool left = false;
        probe.onEnter = [&] {
            auto deadline = Clock::now() + std::chrono::seconds(3);
            RepeatOnQtTimer(10, [&] {
                bool all = probe.Count("marker") == 1 && probe.Count("paint") >= 1 &&
                           probe.Count("tick:1") >= 2;
                if (!all && Clock::now() < deadline)
                    return false;
                inside = probe.seen;
                return c.end();
            });
            c.run(probe);
            left = true;
        };
        QueueForTheNextRound(probe, {kEnter, kMarker});
        ASSERT_TRUE(PumpUntil([&] { return left; }, 20000));
        probe.KillTimer(1);
        probe.seen = inside;
        EXPECT_EQ(probe.Count("marker"), 1u) << "a message posted before the round";
        EXPECT_GE(probe.Count("paint"), 1u) << "a window already invalid";
        EXPECT_GE(probe.Count("tick:1"), 2u) << "a timer that was due and went on";
        PumpFor(20);
    }
}

TEST_F(UiQueueTest, ARoundPaintsBeforeItTicks) {
    Probe probe;
    QueueForTheNextRound(probe, {});
    ASSERT_TRUE(PumpUntil([&] { return probe.Count("tick:1") > 0; }, 5000));
    probe.KillTimer(1);
    ASSERT_GE(probe.First("paint"), 0);
    EXPECT_LT(probe.First("paint"), probe.First("tick:1"));
}

// A worker's SendMessageA of a message for the handler waits until the user-interface thread
// has run it, whichever way that thread waits, so a pointer to the worker's frame stays good.
TEST_F(UiQueueTest, AWorkersSentMessageIsHandledOnTheUiThreadWhileTheWorkerWaits) {
    struct Case {
        const char* name;
        std::function<void(HANDLE done, const std::atomic<bool>& finished)> wait;
    };
    const Case cases[] = {
        {"its loop",
         [](HANDLE, const std::atomic<bool>& finished) {
             PumpUntil([&] { return finished.load(); }, 5000);
         }},
        {"a kernel wait for that worker",
         [](HANDLE done, const std::atomic<bool>&) {
             EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
         }},
        {"a box that stays open",
         [this](HANDLE, const std::atomic<bool>& finished) {
             responder_.beforeBoxAnswer = [&](const MessageBoxCall&) {
                 PumpUntil([&] { return finished.load(); }, 5000);
             };
             MessageBoxA(nullptr, "Wait", "", MB_OK);
             responder_.beforeBoxAnswer = nullptr;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe probe;
        HWND hwnd = probe.m_hWnd;
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atomic<bool> finished{false};
        LRESULT answer = -1;
        int sum = -1;
        std::thread worker([&] {
            Question q;
            q.a = 40;
            q.b = 2;
            answer = SendMessageA(hwnd, kAsk, 0, reinterpret_cast<LPARAM>(&q));
            sum = q.sum;
            finished = true;
            SetEvent(done);
        });
        c.wait(done, finished);
        worker.join();
        CloseHandle(done);
        EXPECT_EQ(answer, 42);
        EXPECT_EQ(sum, 42) << "the handler wrote into the worker's frame while it waited";
        EXPECT_EQ(probe.askedOn, std::this_thread::get_id());
        PumpFor(20);
        EXPECT_EQ(probe.Count("ask"), 1u);
    }
}

// What is thrown out of work that the user-interface thread runs without a message.
struct Thrown {
    const char* name;
    void (*raise)();
    const char* boxText;  // what the failure box says
};
const Thrown kThrown[] = {
    {"CException", [] { AfxThrowInvalidArgException(); }, "An invalid argument was encountered."},
    {"std::exception", [] { throw std::runtime_error("disk gone"); }, "disk gone"},
    {"anything else", [] { throw 7; }, "An unexpected error occurred."},
};

// A worker's request whose work throws gets the failure answer, and the loop goes on.
TEST_F(UiQueueTest, AWorkerWhoseRequestThrowsGetsAFailureAnswer) {
    struct Served {
        const char* name;
        void (*wait)(HANDLE done, const std::atomic<bool>& answered);
    };
    const Served servedBy[] = {
        {"the loop",
         [](HANDLE, const std::atomic<bool>& answered) {
             PumpUntil([&] { return answered.load(); }, 5000);
         }},
        {"a kernel wait",
         [](HANDLE done, const std::atomic<bool>&) { WaitForSingleObject(done, 5000); }},
    };
    for (const Served& s : servedBy) {
        for (const Thrown& t : kThrown) {
            SCOPED_TRACE(std::string(s.name) + ", " + t.name);
            responder_.beforeBoxAnswer = [&t](const MessageBoxCall&) { t.raise(); };
            // Shared with the worker, which would outlive this case if it were never answered.
            struct Asked {
                HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
                std::atomic<bool> answered{false};
                std::atomic<int> answer{-1};
            };
            auto asked = std::make_shared<Asked>();
            std::thread worker([asked] {
                asked->answer = MessageBoxA(nullptr, "Go on?", "", MB_YESNO);
                asked->answered = true;
                SetEvent(asked->done);
            });
            s.wait(asked->done, asked->answered);
            responder_.beforeBoxAnswer = nullptr;
            if (!asked->answered) {
                worker.detach();
                ADD_FAILURE() << "the worker still waits for its answer";
                continue;
            }
            worker.join();
            CloseHandle(asked->done);
            EXPECT_EQ(asked->answer.load(), 0);
            Probe probe;
            PostMessageA(probe.m_hWnd, kMarker, 0, 0);
            EXPECT_TRUE(PumpUntil([&] { return probe.Count("marker") == 1; }, 2000));
        }
    }
}

void (*g_raise)() = nullptr;
std::atomic<int> g_procCalls{0};

TEST_F(UiQueueTest, ATimerProcsExceptionIsReportedInABoxAndTheTicksGoOn) {
    for (const Thrown& t : kThrown) {
        SCOPED_TRACE(t.name);
        Probe probe;
        g_raise = t.raise;
        g_procCalls = 0;
        size_t boxesBefore = responder_.boxes().size();
        SetTimer(probe.m_hWnd, 3, 10, [](HWND, UINT, UINT_PTR, DWORD) {
            ++g_procCalls;
            g_raise();
        });
        EXPECT_TRUE(PumpUntil([] { return g_procCalls.load() >= 2; }, 3000));
        KillTimer(probe.m_hWnd, 3);
        auto boxes = responder_.boxes();
        ASSERT_GT(boxes.size(), boxesBefore);
        EXPECT_EQ(boxes[boxesBefore].text, t.boxText);
        EXPECT_EQ(boxes[boxesBefore].owner, probe.m_hWnd);
    }
}

}  // namespace
