// The table of device contexts: window, memory and screen DCs, what is selected into them, the
// CDC objects of their handles, and the drawing code's port for the window layer.
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/base/handle_table.h"
#include "platform/base/lasterror.h"
#include "platform/gdi/gdi_internal.h"
#include "platform/window/dispatch.h"
#include "platform/window/drawing_port.h"
#include "platform/window/messages.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

namespace platform {

namespace {

struct DcRecord {
    DcState state;
    HBITMAP bitmapHandle = nullptr;  // memory DCs: the handle of state.bitmap
    CDC* attached = nullptr;
    std::unique_ptr<CDC> wrapper;  // FromHandle's object when none is attached
};

struct DcTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<DcRecord>> dcs;

    DcRecord* Find(HDC dc) {
        auto it = dcs.find(reinterpret_cast<uintptr_t>(dc));
        return it == dcs.end() ? nullptr : it->second.get();
    }
};

DcTable& table() {
    static DcTable* t = new DcTable;  // DCs may be released by static destructors
    return *t;
}

HDC NewDc(DcState state, HBITMAP bitmapHandle) {
    auto record = std::make_unique<DcRecord>();
    record->state = std::move(state);
    record->bitmapHandle = bitmapHandle;
    DcTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const uintptr_t value = NewHandleNumber(HandleKind::DeviceContext);
    HDC dc = reinterpret_cast<HDC>(value);
    if (record->state.bitmap && !record->state.bitmap->stock()) {
        record->state.bitmap->selectedInto = dc;
    }
    t.dcs.emplace(value, std::move(record));
    return dc;
}

DcState NewState(DcState::Kind kind, HWND hwnd) {
    DcState s;
    s.kind = kind;
    s.hwnd = hwnd;
    s.brush = static_cast<HBRUSH>(StockObject(WHITE_BRUSH));
    s.font = static_cast<HFONT>(StockObject(SYSTEM_FONT));
    return s;
}

// Removes a DC; false when it is not there.
bool EndDc(HDC dc) {
    std::unique_ptr<DcRecord> gone;  // freed outside the lock
    DcTable& t = table();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.dcs.find(reinterpret_cast<uintptr_t>(dc));
        if (it == t.dcs.end())
            return false;
        gone = std::move(it->second);
        t.dcs.erase(it);
        if (gone->state.bitmap && gone->state.bitmap->selectedInto == dc) {
            gone->state.bitmap->selectedInto = nullptr;
        }
    }
    if (gone->wrapper)
        gone->wrapper->m_hDC = nullptr;  // its destructor must not delete the DC
    return true;
}

template <typename Change>
bool ChangeDc(HDC dc, Change change) {
    DcTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    DcRecord* r = t.Find(dc);
    if (r == nullptr)
        return false;
    change(*r);
    return true;
}

// The attributes of a DC: Set gives back the previous value, and both give `failed` for a bad
// DC.
template <typename T>
T ExchangeAttribute(HDC dc, T DcState::*attribute, T value, T failed) {
    T previous = failed;
    ChangeDc(dc, [&](DcRecord& r) {
        previous = r.state.*attribute;
        r.state.*attribute = value;
    });
    return previous;
}

template <typename T>
T ReadAttribute(HDC dc, T DcState::*attribute, T failed) {
    DcState s;
    return ReadDc(dc, &s) ? s.*attribute : failed;
}

HDC WindowDc(HWND hwnd) {
    if (!IsModelWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return NewDc(NewState(DcState::Kind::Window, hwnd), nullptr);
}

// --- the drawing port ----------------------------------------------------------------------------

HDC PortWindowDc(HWND hwnd) {
    return ::GetDC(hwnd);
}
void PortReleaseDc(HWND hwnd, HDC dc) {
    ::ReleaseDC(hwnd, dc);
}
CDC* PortDcFromHandle(HDC dc) {
    return CDC::FromHandle(dc);
}
bool PortDcColors(HDC dc, DcColors* out) {
    DcState s;
    if (out == nullptr || !ReadDc(dc, &s))
        return false;
    out->text = s.text;
    out->bkMode = s.bkMode;
    out->bk = s.bk;
    return true;
}
bool PortBrushColor(HBRUSH brush, COLORREF* out) {
    COLORREF colour = 0;
    bool paints = false;
    if (out == nullptr || !BrushColour(brush, &colour, &paints) || !paints)
        return false;
    *out = colour;
    return true;
}

}  // namespace

bool ReadDc(HDC dc, DcState* out) {
    return ChangeDc(dc, [&](DcRecord& r) {
        if (out != nullptr)
            *out = r.state;
    });
}

const DrawingPort& GdiDrawingPort() {
    static const DrawingPort port = [] {
        DrawingPort p;
        p.windowDc = &PortWindowDc;
        p.releaseDc = &PortReleaseDc;
        p.dcFromHandle = &PortDcFromHandle;
        p.dcColors = &PortDcColors;
        p.brushColor = &PortBrushColor;
        return p;
    }();
    return port;
}

}  // namespace platform

using platform::DcRecord;
using platform::DcState;

HDC GetDC(HWND hwnd) {
    if (hwnd == nullptr)
        return platform::NewDc(platform::NewState(DcState::Kind::Screen, nullptr), nullptr);
    return platform::WindowDc(hwnd);
}

int ReleaseDC(HWND, HDC dc) {
    if (platform::EndDc(dc))
        return 1;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && !platform::ReadDc(dc, nullptr)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HBITMAP stock = platform::StockBitmap();
    DcState s = platform::NewState(DcState::Kind::Memory, nullptr);
    s.bitmap = platform::GdiObjectAs<platform::BitmapObject>(stock);
    return platform::NewDc(std::move(s), stock);
}

BOOL DeleteDC(HDC dc) {
    if (platform::EndDc(dc))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    if (paint == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *paint = PAINTSTRUCT{};
    HDC dc = platform::WindowDc(hwnd);
    if (dc == nullptr)
        return nullptr;
    bool erase = false;
    if (platform::TakeInvalid(hwnd, &erase) && erase) {
        // The erase is still owed when no one handled WM_ERASEBKGND.
        paint->fErase =
            platform::DeliverMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
    }
    paint->hdc = dc;
    GetClientRect(hwnd, &paint->rcPaint);
    return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint == nullptr)
        return FALSE;
    return ReleaseDC(hwnd, paint->hdc) == 1 ? TRUE : FALSE;
}

HWND WindowFromDC(HDC dc) {
    DcState s;
    return platform::ReadDc(dc, &s) ? s.hwnd : nullptr;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    HGDIOBJ previous = nullptr;
    bool known = false;
    LOGFONTA lf;
    if (auto brush = platform::GdiObjectAs<platform::BrushObject>(object)) {
        known = platform::ChangeDc(dc, [&](DcRecord& r) {
            previous = r.state.brush;
            r.state.brush = static_cast<HBRUSH>(object);
        });
    } else if (platform::LogFontOf(static_cast<HFONT>(object), &lf)) {
        known = platform::ChangeDc(dc, [&](DcRecord& r) {
            previous = r.state.font;
            r.state.font = static_cast<HFONT>(object);
        });
    } else if (auto bitmap = platform::GdiObjectAs<platform::BitmapObject>(object)) {
        known = platform::ChangeDc(dc, [&](DcRecord& r) {
            if (r.state.kind != DcState::Kind::Memory)
                return;
            if (!bitmap->stock() && bitmap->selectedInto != nullptr && bitmap->selectedInto != dc) {
                return;  // a bitmap is in one DC at a time
            }
            if (r.state.bitmap && r.state.bitmap->selectedInto == dc) {
                r.state.bitmap->selectedInto = nullptr;
            }
            previous = r.bitmapHandle;
            r.bitmapHandle = static_cast<HBITMAP>(object);
            r.state.bitmap = bitmap;
            if (!bitmap->stock())
                bitmap->selectedInto = dc;
        });
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A bitmap refused by the DC leaves `previous` null too.
    if (!known || previous == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return previous;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    return platform::ExchangeAttribute(dc, &DcState::text, color & 0x00FFFFFFu, CLR_INVALID);
}

COLORREF GetTextColor(HDC dc) {
    return platform::ReadAttribute(dc, &DcState::text, CLR_INVALID);
}

int SetBkMode(HDC dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return platform::ExchangeAttribute(dc, &DcState::bkMode, mode, 0);
}

int GetBkMode(HDC dc) {
    return platform::ReadAttribute(dc, &DcState::bkMode, 0);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    return platform::ExchangeAttribute(dc, &DcState::bk, color & 0x00FFFFFFu, CLR_INVALID);
}

COLORREF GetBkColor(HDC dc) {
    return platform::ReadAttribute(dc, &DcState::bk, CLR_INVALID);
}

// --- CDC objects of handles ----------------------------------------------------------------------

CDC* CDC::FromHandle(HDC dc) {
    CDC* found = nullptr;
    platform::ChangeDc(dc, [&](DcRecord& r) {
        if (r.attached != nullptr) {
            found = r.attached;
            return;
        }
        if (!r.wrapper) {
            r.wrapper = std::make_unique<CDC>();
            r.wrapper->m_hDC = dc;
        }
        found = r.wrapper.get();
    });
    return found;
}

BOOL CDC::Attach(HDC dc) {
    if (m_hDC != nullptr)
        return FALSE;
    bool taken = false;
    platform::ChangeDc(dc, [&](DcRecord& r) {
        if (r.attached != nullptr)
            return;
        r.attached = this;
        taken = true;
    });
    if (!taken)
        return FALSE;
    m_hDC = dc;
    return TRUE;
}

HDC CDC::Detach() {
    HDC dc = m_hDC;
    m_hDC = nullptr;
    platform::ChangeDc(dc, [&](DcRecord& r) {
        if (r.attached == this)
            r.attached = nullptr;
    });
    return dc;
}
