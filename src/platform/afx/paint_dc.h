// CPaintDC: BeginPaint and EndPaint on a window, for a WM_PAINT handler.
#pragma once

#include "platform/gdi/gdi.h"

class CWnd;

class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

  protected:
    HWND m_hWnd = nullptr;
};
