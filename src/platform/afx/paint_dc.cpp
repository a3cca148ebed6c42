#include "platform/afx/paint_dc.h"

#include "platform/afx/wnd.h"

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
