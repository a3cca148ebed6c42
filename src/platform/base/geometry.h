// The class library's small geometry classes over POINT and RECT, and the two free functions
// the application uses with them. A RECT is half-open: left and top are inside it,
// right and bottom are not.
#pragma once

#include <cstdint>

#include "platform/base/types.h"

inline BOOL PtInRect(const RECT* rect, POINT point) {
    return rect != nullptr && point.x >= rect->left && point.x < rect->right &&
           point.y >= rect->top && point.y < rect->bottom;
}

// number * numerator / denominator with a 64-bit product, rounded half away from zero;
// -1 when the denominator is 0, as on Windows.
inline int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    // All in 64 bits: negating INT32_MIN in 32 bits would overflow.
    int64_t product = static_cast<int64_t>(number) * numerator;
    int64_t divisor = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
    bool negative = (product < 0) != (denominator < 0);
    int64_t result = ((product < 0 ? -product : product) + divisor / 2) / divisor;
    if (negative)
        result = -result;
    if (result > INT32_MAX || result < INT32_MIN)
        return -1;
    return static_cast<int>(result);
}

class CPoint : public tagPOINT {
  public:
    CPoint(int x0, int y0) : tagPOINT{x0, y0} {}
    // The packed form of mouse messages: x in the low word, y in the high word, both signed.
    explicit CPoint(LPARAM packed)
        : tagPOINT{static_cast<short>(packed & 0xFFFF),
                   static_cast<short>((packed >> 16) & 0xFFFF)} {}
};

class CRect : public tagRECT {
  public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : tagRECT{l, t, r, b} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    BOOL PtInRect(POINT p) const { return ::PtInRect(this, p); }
    void SetRect(int l, int t, int r, int b) {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    BOOL IntersectRect(const RECT* a, const RECT* b) {
        SetRect(a->left > b->left ? a->left : b->left, a->top > b->top ? a->top : b->top,
                a->right < b->right ? a->right : b->right,
                a->bottom < b->bottom ? a->bottom : b->bottom);
        if (IsRectEmpty()) {
            SetRectEmpty();
            return FALSE;
        }
        return TRUE;
    }
    BOOL operator==(const RECT& r) const {
        return left == r.left && top == r.top && right == r.right && bottom == r.bottom;
    }
    operator LPCRECT() const { return this; }  // NOLINT: implicit, as the class library's
};
