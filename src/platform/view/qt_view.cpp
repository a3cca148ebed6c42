// The view's host: follows the window model on the user-interface thread. The model's change
// listener posts one event to the host for any number of changes; the host then makes, updates
// and deletes the widgets, and asks each changed control's dialog for its colours
// (WM_CTLCOLORxxx) when the drawing code gives it a device context to ask with.
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/view/qt_view.h"
#include "platform/view/qt_view_widgets.h"
#include "platform/window/dispatch.h"
#include "platform/window/drawing_port.h"
#include "platform/window/ui_queue.h"

namespace platform {

namespace {

const QEvent::Type kSyncEvent = static_cast<QEvent::Type>(QEvent::User + 802);

class Host;
// Orders a sync event's construction on the posting thread before its reading on the
// user-interface thread: the queue that carries it is not seen by the race detector.
std::atomic<unsigned> g_syncPosts{0};
std::mutex g_hostMutex;  // the host pointer against the model's listener on other threads
Host* g_host = nullptr;

struct Entry {
    ViewItem* item = nullptr;
    QPointer<QWidget> widget;
};

class Host : public QObject {
  public:
    bool event(QEvent* e) override {
        g_syncPosts.load(std::memory_order_acquire);
        if (e->type() != kSyncEvent)
            return QObject::event(e);
        Sync();
        return true;
    }

    void Sync() {
        if (syncing_) {
            again_ = true;
            return;
        }
        syncing_ = true;
        std::vector<HWND> recolour;
        do {
            again_ = false;
            ModelChanges changes = TakeChanges();
            for (HWND h : changes.destroyed)
                Destroy(h);
            for (HWND h : changes.changed) {
                WindowState s;
                if (!ReadWindow(h, &s))
                    continue;
                bool first = false;
                ViewItem* item = Ensure(s, &first);
                if (item == nullptr)
                    continue;
                item->Apply(s, first);
                // A window changed again in a later round is asked for its colours once.
                if (std::find(recolour.begin(), recolour.end(), h) == recolour.end())
                    recolour.push_back(h);
            }
            for (HWND h : changes.repainted) {
                if (ViewItem* item = Find(h))
                    item->widget()->update();
            }
        } while (again_);
        syncing_ = false;
        for (HWND h : recolour)
            AskColours(h);
    }

    ViewItem* Find(HWND hwnd) {
        auto it = entries_.find(hwnd);
        if (it == entries_.end())
            return nullptr;
        if (it->second.widget.isNull()) {
            entries_.erase(it);
            return nullptr;
        }
        return it->second.item;
    }

    void DestroyAll() {
        std::vector<HWND> all;
        for (auto& [h, e] : entries_)
            all.push_back(h);
        for (HWND h : all)
            Destroy(h);
    }

  private:
    ViewItem* Ensure(const WindowState& s, bool* first) {
        if (ViewItem* item = Find(s.hwnd))
            return item;
        QWidget* parent = nullptr;
        ViewItem* item;
        if (s.parent != nullptr) {
            WindowState p;
            if (!ReadWindow(s.parent, &p))
                return nullptr;
            bool parentFirst = false;
            ViewItem* parentItem = Ensure(p, &parentFirst);
            if (parentItem == nullptr)
                return nullptr;
            if (parentFirst)
                parentItem->Apply(p, true);
            item = MakeControlItem(s, parentItem->widget());
        } else {
            if (s.owner != nullptr) {
                if (ViewItem* owner = Find(TopLevelOf(s.owner)))
                    parent = owner->widget();
            }
            item = MakeDialogItem(s, parent);
        }
        entries_[s.hwnd] = Entry{item, QPointer<QWidget>(item->widget())};
        *first = true;
        return item;
    }

    void Destroy(HWND hwnd) {
        ViewItem* item = Find(hwnd);
        entries_.erase(hwnd);
        if (item == nullptr)
            return;
        QWidget* w = item->widget();
        // Windows owned by this one live on as top-level windows of their own.
        for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isWindow())
                child->setParent(nullptr, child->windowFlags());
        }
        delete w;
    }

    void AskColours(HWND hwnd) {
        const DrawingPort* port = InstalledDrawingPort();
        if (port == nullptr || port->windowDc == nullptr || port->dcFromHandle == nullptr ||
            DispatchHeld()) {
            return;
        }
        ViewItem* item = Find(hwnd);
        if (item == nullptr)
            return;
        const WindowState& s = item->state();
        HWND target = s.parent != nullptr ? s.parent : hwnd;
        UINT message;
        switch (s.kind) {
            case WindowKind::Dialog:
                message = WM_CTLCOLORDLG;
                break;
            case WindowKind::PushButton:
                message = WM_CTLCOLORBTN;
                break;
            case WindowKind::Edit:
                message =
                    (s.style & ES_READONLY) || !s.enabled ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
                break;
            case WindowKind::ListBox:
            case WindowKind::ComboBox:
                message = WM_CTLCOLORLISTBOX;
                break;
            case WindowKind::Progress:
            case WindowKind::Other:
                return;
            default:
                message = WM_CTLCOLORSTATIC;
                break;
        }
        HDC dc = port->windowDc(hwnd);
        if (dc == nullptr)
            return;
        ControlColors colors;
        if (DcFromHandle(dc) != nullptr) {
            LRESULT brush = DeliverMessage(target, message, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(hwnd));
            colors.known = true;
            DcColors dcColors;
            if (port->dcColors != nullptr && port->dcColors(dc, &dcColors)) {
                colors.hasText = true;
                colors.text = QtColor(dcColors.text);
                colors.transparent = dcColors.bkMode == 1;
            }
            COLORREF fill = 0;
            if (brush != 0 && port->brushColor != nullptr &&
                port->brushColor(reinterpret_cast<HBRUSH>(brush), &fill)) {
                colors.hasBackground = true;
                colors.background = QtColor(fill);
            }
        }
        if (port->releaseDc != nullptr)
            port->releaseDc(hwnd, dc);
        // The handler may have destroyed the window.
        if (colors.known && (item = Find(hwnd)) != nullptr)
            item->ApplyColors(colors);
    }

    std::unordered_map<HWND, Entry> entries_;
    bool syncing_ = false;
    bool again_ = false;
};

void RequestSync() {
    std::lock_guard<std::mutex> lock(g_hostMutex);
    if (g_host == nullptr)
        return;
    auto* event = new QEvent(kSyncEvent);
    g_syncPosts.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(g_host, event);
}

}  // namespace

void StartView() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        SetScreenSize(SIZE{screen->size().width(), screen->size().height()});
    {
        std::lock_guard<std::mutex> lock(g_hostMutex);
        if (g_host == nullptr)
            g_host = new Host;
    }
    SetChangeListener(&RequestSync);
    RequestSync();
}

void StopView() {
    SetChangeListener(nullptr);
    Host* host;
    {
        std::lock_guard<std::mutex> lock(g_hostMutex);
        host = g_host;
        g_host = nullptr;
    }
    if (host == nullptr)
        return;
    host->DestroyAll();
    delete host;
}

// g_host changes only on the user-interface thread, so it is read there without the lock.
void SyncViewNow() {
    if (OnUiThread() && g_host != nullptr)
        g_host->Sync();
}

ViewItem* ItemOf(HWND hwnd) {
    if (!OnUiThread() || g_host == nullptr)
        return nullptr;
    if (ViewItem* item = g_host->Find(hwnd))
        return item;
    g_host->Sync();
    return g_host->Find(hwnd);
}

QWidget* WidgetOf(HWND hwnd) {
    ViewItem* item = ItemOf(hwnd);
    return item != nullptr ? item->widget() : nullptr;
}

}  // namespace platform
