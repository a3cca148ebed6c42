// CDC and the DCs of windows: CPaintDC, CClientDC, CWindowDC.
#include "platform/gdi_internal.h"
#include "platform/wnd.h"

CDC::~CDC() {
    if (m_hDC != nullptr)
        ::DeleteDC(Detach());
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
    HDC made = ::CreateCompatibleDC(dc != nullptr ? dc->m_hDC : nullptr);
    if (made == nullptr)
        return FALSE;
    if (!Attach(made)) {
        ::DeleteDC(made);
        return FALSE;
    }
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (m_hDC == nullptr)
        return FALSE;
    return ::DeleteDC(Detach());
}

CWnd* CDC::GetWindow() const {
    return CWnd::FromHandle(::WindowFromDC(m_hDC));
}

CBrush* CDC::SelectObject(CBrush* brush) {
    HGDIOBJ previous = ::SelectObject(m_hDC, brush != nullptr ? brush->m_hObject : nullptr);
    return CBrush::FromHandle(static_cast<HBRUSH>(previous));
}

CFont* CDC::SelectObject(CFont* font) {
    HGDIOBJ previous = ::SelectObject(m_hDC, font != nullptr ? font->m_hObject : nullptr);
    return CFont::FromHandle(static_cast<HFONT>(previous));
}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
    HGDIOBJ previous = ::SelectObject(m_hDC, bitmap != nullptr ? bitmap->m_hObject : nullptr);
    return CBitmap::FromHandle(static_cast<HBITMAP>(previous));
}

CGdiObject* CDC::SelectStockObject(int index) {
    HGDIOBJ previous = ::SelectObject(m_hDC, ::GetStockObject(index));
    if (previous == nullptr)
        return nullptr;
    if (platform::GdiObjectAs<platform::BrushObject>(previous)) {
        return CBrush::FromHandle(static_cast<HBRUSH>(previous));
    }
    return CFont::FromHandle(static_cast<HFONT>(previous));
}

COLORREF CDC::SetTextColor(COLORREF color) {
    return ::SetTextColor(m_hDC, color);
}
COLORREF CDC::GetTextColor() const {
    return ::GetTextColor(m_hDC);
}
int CDC::SetBkMode(int mode) {
    return ::SetBkMode(m_hDC, mode);
}
int CDC::GetBkMode() const {
    return ::GetBkMode(m_hDC);
}
COLORREF CDC::SetBkColor(COLORREF color) {
    return ::SetBkColor(m_hDC, color);
}
COLORREF CDC::GetBkColor() const {
    return ::GetBkColor(m_hDC);
}

void CDC::FillRect(LPCRECT rect, CBrush* brush) {
    ::FillRect(m_hDC, rect, brush != nullptr ? static_cast<HBRUSH>(*brush) : nullptr);
}

// As the class library's, it leaves the colour as the DC's background colour.
void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
    if (rect == nullptr)
        return;
    ::SetBkColor(m_hDC, color);
    platform::FillSolid(m_hDC, *rect, color);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
    RECT rect{x, y, x + cx, y + cy};
    FillSolidRect(&rect, color);
}

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    return ::DrawIcon(m_hDC, x, y, icon);
}
BOOL CDC::DrawIcon(POINT point, HICON icon) {
    return ::DrawIcon(m_hDC, point.x, point.y, icon);
}

BOOL CDC::BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, w, h, src != nullptr ? src->m_hDC : nullptr, sx, sy, rop);
}

BOOL CDC::PatBlt(int x, int y, int w, int h, DWORD rop) {
    return ::PatBlt(m_hDC, x, y, w, h, rop);
}

BOOL CDC::TextOut(int x, int y, LPCSTR text, int length) {
    return ::TextOutA(m_hDC, x, y, text, length);
}

BOOL CDC::TextOut(int x, int y, const CString& text) {
    return ::TextOutA(m_hDC, x, y, text, text.GetLength());
}

COLORREF CDC::GetPixel(int x, int y) const {
    return ::GetPixel(m_hDC, x, y);
}
COLORREF CDC::SetPixel(int x, int y, COLORREF color) {
    return ::SetPixel(m_hDC, x, y, color);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd != nullptr ? wnd->m_hWnd : nullptr) {
    HDC dc = ::BeginPaint(m_hWnd, &m_ps);
    if (dc != nullptr && !Attach(dc)) {
        ::EndPaint(m_hWnd, &m_ps);
        m_ps.hdc = nullptr;
    }
}

CPaintDC::~CPaintDC() {
    if (m_hDC == nullptr)
        return;
    m_ps.hdc = Detach();
    ::EndPaint(m_hWnd, &m_ps);
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd != nullptr ? wnd->m_hWnd : nullptr) {
    HDC dc = ::GetDC(m_hWnd);
    if (dc != nullptr && !Attach(dc))
        ::ReleaseDC(m_hWnd, dc);
}

CClientDC::~CClientDC() {
    if (m_hDC != nullptr)
        ::ReleaseDC(m_hWnd, Detach());
}

CWindowDC::CWindowDC(CWnd* wnd) : m_hWnd(wnd != nullptr ? wnd->m_hWnd : nullptr) {
    HDC dc = ::GetWindowDC(m_hWnd);
    if (dc != nullptr && !Attach(dc))
        ::ReleaseDC(m_hWnd, dc);
}

CWindowDC::~CWindowDC() {
    if (m_hDC != nullptr)
        ::ReleaseDC(m_hWnd, Detach());
}
