// CDC: the class library's device context over an HDC.
#include "platform/gdi/gdi_internal.h"

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

CBrush* CDC::SelectObject(CBrush* brush) {
    HGDIOBJ previous = ::SelectObject(m_hDC, brush != nullptr ? brush->m_hObject : nullptr);
    return CBrush::FromHandle(static_cast<HBRUSH>(previous));
}

CBitmap* CDC::SelectObject(CBitmap* bitmap) {
    HGDIOBJ previous = ::SelectObject(m_hDC, bitmap != nullptr ? bitmap->m_hObject : nullptr);
    return CBitmap::FromHandle(static_cast<HBITMAP>(previous));
}

COLORREF CDC::SetTextColor(COLORREF color) {
    return ::SetTextColor(m_hDC, color);
}
int CDC::SetBkMode(int mode) {
    return ::SetBkMode(m_hDC, mode);
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

BOOL CDC::BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, w, h, src != nullptr ? src->m_hDC : nullptr, sx, sy, rop);
}

BOOL CDC::PatBlt(int x, int y, int w, int h, DWORD rop) {
    return ::PatBlt(m_hDC, x, y, w, h, rop);
}

COLORREF CDC::GetPixel(int x, int y) const {
    return ::GetPixel(m_hDC, x, y);
}
