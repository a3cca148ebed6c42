#include "platform/window/window_model.h"

#include <strings.h>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/base/handle_table.h"

namespace platform {

namespace {

struct Record {
    WindowState state;
    std::vector<HWND> children;
    WindowProcedure* procedure = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    bool invalid = false;
    bool erase = false;
    bool drawn = false;
    std::unique_ptr<QImage> image;
};

uintptr_t Key(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

struct Model {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<Record>> windows;
    std::unordered_set<uintptr_t> changed;
    std::vector<HWND> destroyed;
    std::unordered_set<uintptr_t> repainted;
    bool listenerCalled = false;
    void (*listener)() = nullptr;
    std::vector<std::function<void(HWND, WindowProcedure*)>> destroyListeners;

    Record* Find(HWND hwnd) {
        auto it = windows.find(Key(hwnd));
        return it == windows.end() ? nullptr : it->second.get();
    }
    // Returns the listener to call once the lock is released, if this is the first change.
    void (*MarkChanged(HWND hwnd))() {
        changed.insert(Key(hwnd));
        return Pending();
    }
    void (*Pending())() {
        if (listenerCalled || listener == nullptr)
            return nullptr;
        listenerCalled = true;
        return listener;
    }
};

Model& model() {
    static Model* m = new Model;  // used by workers and static destructors until the very end
    return *m;
}

void Notify(void (*listener)()) {
    if (listener != nullptr)
        listener();
}

std::vector<HWND> SortedByCreation(const std::unordered_set<uintptr_t>& keys) {
    std::vector<uintptr_t> sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<HWND> out;
    out.reserve(sorted.size());
    for (uintptr_t k : sorted)
        out.push_back(reinterpret_cast<HWND>(k));
    return out;
}

}  // namespace

WindowKind KindOf(const std::string& windowClass, DWORD style) {
    auto is = [&](const char* name) { return strcasecmp(windowClass.c_str(), name) == 0; };
    if (is("Button")) {
        switch (style & BS_TYPEMASK) {
            case BS_CHECKBOX:
            case BS_AUTOCHECKBOX:
            case BS_3STATE:
            case BS_AUTO3STATE:
                return WindowKind::CheckBox;
            case BS_RADIOBUTTON:
            case BS_AUTORADIOBUTTON:
                return WindowKind::RadioButton;
            case BS_GROUPBOX:
                return WindowKind::GroupBox;
            default:
                return WindowKind::PushButton;
        }
    }
    if (is("Static")) {
        DWORD type = style & SS_TYPEMASK;
        if ((type >= SS_BLACKRECT && type <= SS_WHITEFRAME) ||
            (type >= SS_ETCHEDHORZ && type <= SS_ETCHEDFRAME)) {
            return WindowKind::Frame;
        }
        return WindowKind::Static;
    }
    if (is("Edit"))
        return WindowKind::Edit;
    if (is("ComboBox"))
        return WindowKind::ComboBox;
    if (is("ListBox"))
        return WindowKind::ListBox;
    if (is("msctls_progress32"))
        return WindowKind::Progress;
    return WindowKind::Other;
}

HWND CreateModelWindow(const WindowState& initial) {
    Model& m = model();
    void (*listener)() = nullptr;
    HWND hwnd;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        Record* parent = nullptr;
        if (initial.parent != nullptr) {
            parent = m.Find(initial.parent);
            if (parent == nullptr)
                return nullptr;
        }
        hwnd = reinterpret_cast<HWND>(NewHandleNumber(HandleKind::Window));
        auto record = std::make_unique<Record>();
        record->state = initial;
        record->state.hwnd = hwnd;
        if (parent != nullptr)
            parent->children.push_back(hwnd);
        m.windows.emplace(Key(hwnd), std::move(record));
        listener = m.MarkChanged(hwnd);
    }
    Notify(listener);
    return hwnd;
}

void DestroyModelWindow(HWND hwnd) {
    Model& m = model();
    std::vector<HWND> gone;
    std::vector<std::unique_ptr<Record>> records;  // freed outside the lock
    std::vector<std::function<void(HWND, WindowProcedure*)>> listeners;
    void (*listener)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        Record* root = m.Find(hwnd);
        if (root == nullptr)
            return;
        // Children first, so a listener never sees a child whose parent is already gone.
        std::function<void(HWND)> collect = [&](HWND h) {
            Record* r = m.Find(h);
            if (r == nullptr)
                return;
            for (HWND child : r->children)
                collect(child);
            gone.push_back(h);
        };
        collect(hwnd);
        if (Record* parent = m.Find(root->state.parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
        }
        for (HWND h : gone) {
            auto it = m.windows.find(Key(h));
            records.push_back(std::move(it->second));
            m.windows.erase(it);
            m.changed.erase(Key(h));
            m.repainted.erase(Key(h));
            m.destroyed.push_back(h);
        }
        listeners = m.destroyListeners;
        listener = m.Pending();
    }
    for (size_t i = 0; i < gone.size(); ++i) {
        for (auto& l : listeners)
            l(gone[i], records[i]->procedure);
    }
    Notify(listener);
}

void AddDestroyListener(std::function<void(HWND, WindowProcedure*)> listener) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.destroyListeners.push_back(std::move(listener));
}

bool IsModelWindow(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    return m.Find(hwnd) != nullptr;
}

bool ReadWindow(HWND hwnd, WindowState* out) {
    return InspectWindow(hwnd, [&](const WindowState& s) {
        if (out != nullptr)
            *out = s;
    });
}

bool ChangeWindow(HWND hwnd, const std::function<void(WindowState&)>& change) {
    Model& m = model();
    void (*listener)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        Record* r = m.Find(hwnd);
        if (r == nullptr)
            return false;
        change(r->state);
        listener = m.MarkChanged(hwnd);
    }
    Notify(listener);
    return true;
}

bool InspectWindow(HWND hwnd, const std::function<void(const WindowState&)>& look) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr)
        return false;
    look(r->state);
    return true;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(parent);
    return r == nullptr ? std::vector<HWND>{} : r->children;
}

HWND ChildWithId(HWND parent, int id) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(parent);
    if (r == nullptr)
        return nullptr;
    for (HWND child : r->children) {
        Record* c = m.Find(child);
        if (c != nullptr && c->state.id == id)
            return child;
    }
    return nullptr;
}

HWND TopLevelOf(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    while (r != nullptr && r->state.parent != nullptr) {
        Record* up = m.Find(r->state.parent);
        if (up == nullptr)
            break;
        r = up;
    }
    return r == nullptr ? nullptr : r->state.hwnd;
}

std::vector<HWND> AllWindows() {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    std::unordered_set<uintptr_t> keys;
    for (auto& entry : m.windows)
        keys.insert(entry.first);
    return SortedByCreation(keys);
}

bool IsShownInModel(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr)
        return false;
    for (; r != nullptr; r = m.Find(r->state.parent)) {
        if (!r->state.visible)
            return false;
    }
    return true;
}

bool AcceptsUserInput(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr)
        return false;
    for (; r != nullptr; r = m.Find(r->state.parent)) {
        if (!r->state.visible || !r->state.enabled || r->ended)
            return false;
    }
    return true;
}

POINT ClientOriginOnScreen(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    POINT p{0, 0};
    for (Record* r = m.Find(hwnd); r != nullptr; r = m.Find(r->state.parent)) {
        p.x += r->state.rect.left;
        p.y += r->state.rect.top;
    }
    return p;
}

void SetWindowProcedure(HWND hwnd, WindowProcedure* procedure) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (Record* r = m.Find(hwnd))
        r->procedure = procedure;
}

WindowProcedure* WindowProcedureOf(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    return r == nullptr ? nullptr : r->procedure;
}

bool EndModal(HWND hwnd, INT_PTR result) {
    Model& m = model();
    void (*listener)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        Record* r = m.Find(hwnd);
        if (r == nullptr)
            return false;
        r->ended = true;
        r->result = result;
        r->state.visible = false;
        listener = m.MarkChanged(hwnd);
    }
    Notify(listener);
    return true;
}

bool ModalEnded(HWND hwnd, INT_PTR* result) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr || !r->ended)
        return false;
    if (result != nullptr)
        *result = r->result;
    return true;
}

bool InEndedModal(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    for (Record* r = m.Find(hwnd); r != nullptr; r = m.Find(r->state.parent)) {
        if (r->ended)
            return true;
    }
    return false;
}

void InvalidateModelWindow(HWND hwnd, bool erase) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (Record* r = m.Find(hwnd)) {
        r->invalid = true;
        r->erase = r->erase || erase;
    }
}

void ValidateModelWindow(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (Record* r = m.Find(hwnd))
        r->invalid = r->erase = false;
}

std::vector<HWND> InvalidWindows() {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    std::vector<uintptr_t> found;
    for (auto& [key, r] : m.windows) {
        if (r->invalid)
            found.push_back(key);
    }
    std::sort(found.begin(), found.end());
    std::vector<HWND> out;
    for (uintptr_t key : found)
        out.push_back(reinterpret_cast<HWND>(key));
    return out;
}

bool TakeInvalid(HWND hwnd, bool* erase) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr || !r->invalid)
        return false;
    if (erase != nullptr)
        *erase = r->erase;
    r->invalid = r->erase = false;
    return true;
}

QImage* BackingImage(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    if (r == nullptr)
        return nullptr;
    const RECT& rc = r->state.rect;
    QSize size(std::max<LONG>(rc.right - rc.left, 1), std::max<LONG>(rc.bottom - rc.top, 1));
    if (!r->image || r->image->size() != size) {
        auto image = std::make_unique<QImage>(size, QImage::Format_ARGB32_Premultiplied);
        image->fill(Qt::transparent);
        if (r->image) {
            QPainter painter(image.get());
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, *r->image);
        }
        r->image = std::move(image);
    }
    return r->image.get();
}

void BackingImageChanged(HWND hwnd) {
    Model& m = model();
    void (*listener)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        Record* r = m.Find(hwnd);
        if (r == nullptr)
            return;
        r->drawn = true;
        m.repainted.insert(Key(hwnd));
        listener = m.Pending();
    }
    Notify(listener);
}

bool BackingImageDrawn(HWND hwnd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Record* r = m.Find(hwnd);
    return r != nullptr && r->drawn;
}

namespace {
std::atomic<int> g_screenWidth{1024};
std::atomic<int> g_screenHeight{768};
}  // namespace

void SetScreenSize(SIZE size) {
    g_screenWidth.store(size.cx);
    g_screenHeight.store(size.cy);
}

SIZE ScreenSize() {
    return SIZE{g_screenWidth.load(), g_screenHeight.load()};
}

void SetChangeListener(void (*listener)()) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.listener = listener;
    m.listenerCalled = false;
}

ModelChanges TakeChanges() {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    ModelChanges out;
    out.changed = SortedByCreation(m.changed);
    out.repainted = SortedByCreation(m.repainted);
    out.destroyed.swap(m.destroyed);
    m.changed.clear();
    m.repainted.clear();
    m.listenerCalled = false;
    return out;
}

void SetWindowRectFromView(HWND hwnd, const RECT& rect) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (Record* r = m.Find(hwnd))
        r->state.rect = rect;
}

void SetIconicFromView(HWND hwnd, bool iconic) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (Record* r = m.Find(hwnd))
        r->state.iconic = iconic;
}

}  // namespace platform
