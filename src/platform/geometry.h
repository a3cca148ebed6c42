// The class library's small geometry classes over POINT, SIZE and RECT, and the two free
// functions the application uses with them. A RECT is half-open: left and top are inside it,
// right and bottom are not.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/types.h"

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
    CPoint() : tagPOINT{0, 0} {}
    CPoint(int x0, int y0) : tagPOINT{x0, y0} {}
    CPoint(POINT p) : tagPOINT(p) {}  // NOLINT: implicit, as the class library's
    // The packed form of mouse messages: x in the low word, y in the high word, both signed.
    explicit CPoint(LPARAM packed)
        : tagPOINT{static_cast<short>(packed & 0xFFFF),
                   static_cast<short>((packed >> 16) & 0xFFFF)} {}

    void Offset(int dx, int dy) {
        x += dx;
        y += dy;
    }
    BOOL operator==(POINT p) const { return x == p.x && y == p.y; }
    BOOL operator!=(POINT p) const { return !(*this == p); }
    CPoint operator+(POINT p) const { return CPoint(x + p.x, y + p.y); }
    CPoint operator-(POINT p) const { return CPoint(x - p.x, y - p.y); }
};

class CSize : public tagSIZE {
  public:
    CSize() : tagSIZE{0, 0} {}
    CSize(int cx0, int cy0) : tagSIZE{cx0, cy0} {}
    CSize(SIZE s) : tagSIZE(s) {}  // NOLINT: implicit, as the class library's
    BOOL operator==(SIZE s) const { return cx == s.cx && cy == s.cy; }
    BOOL operator!=(SIZE s) const { return !(*this == s); }
};

class CRect : public tagRECT {
  public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : tagRECT{l, t, r, b} {}
    CRect(const RECT& r) : tagRECT(r) {}  // NOLINT: implicit, as the class library's
    CRect(POINT topLeft, SIZE size)
        : tagRECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    BOOL IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
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
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void InflateRect(int dx, int dy) {
        left -= dx;
        right += dx;
        top -= dy;
        bottom += dy;
    }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    void NormalizeRect() {
        if (left > right)
            std::swap(left, right);
        if (top > bottom)
            std::swap(top, bottom);
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
    BOOL operator!=(const RECT& r) const { return !(*this == r); }
    operator LPRECT() { return this; }         // NOLINT: implicit, as the class library's
    operator LPCRECT() const { return this; }  // NOLINT: implicit, as the class library's
};
