// Drawing: device contexts, brushes, bitmaps, BitBlt, icons and bitmap files.
//
// A DC draws into a picture: a window DC (GetDC, BeginPaint, the DC that WM_ERASEBKGND
// and WM_CTLCOLOR handlers get) into the window's backing image, clipped to its client area;
// a memory DC (CreateCompatibleDC) into the bitmap selected into it. Window DCs draw on the
// user-interface thread only, like the backing images they draw into: from another thread, while
// the user interface runs, drawing on them fails with ERROR_ACCESS_DENIED, and once their window
// is gone, with ERROR_INVALID_WINDOW_HANDLE.
//
// The window DCs of one dialog behave as if they shared one surface, as on Windows: a control's
// DC sees what lies below the control (the dialog's drawing shows through where the control
// has drawn nothing), and drawing into a window hides what its children had drawn there,
// unless the window has WS_CLIPCHILDREN. GetPixel on a window DC gives the colour shown.
//
// Colours are COLORREF 0x00BBGGRR. Brushes and bitmaps are GDI objects (gdi_object.h), so
// GetObjectA (LOGBRUSH, BITMAP) and DeleteObject work on them.
#pragma once

#include "platform/base/cstring.h"
#include "platform/base/types.h"
#include "platform/gdi/font.h"
#include "platform/gdi/gdi_object.h"

class CDC;

// Background modes.
#define TRANSPARENT 1
#define OPAQUE 2

// Raster operations of BitBlt.
#define SRCCOPY 0x00CC0020u
#define SRCPAINT 0x00EE0086u
#define SRCAND 0x008800C6u
#define SRCINVERT 0x00660046u
#define SRCERASE 0x00440328u
#define NOTSRCCOPY 0x00330008u
#define NOTSRCERASE 0x001100A6u
#define MERGEPAINT 0x00BB0226u
#define DSTINVERT 0x00550009u
#define PATCOPY 0x00F00021u
#define PATINVERT 0x005A0049u
#define BLACKNESS 0x00000042u
#define WHITENESS 0x00FF0062u

// Brush styles.
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

// System colours; a brush handle of (HBRUSH)(COLOR_xxx + 1) paints that colour.
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_WINDOWTEXT 8
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_HOTLIGHT 26

#define CLR_INVALID 0xFFFFFFFFu

// LoadImageA.
#define IMAGE_BITMAP 0
#define IMAGE_ICON 1
#define IMAGE_CURSOR 2
#define LR_DEFAULTCOLOR 0x0000u
#define LR_MONOCHROME 0x0001u
#define LR_LOADFROMFILE 0x0010u
#define LR_DEFAULTSIZE 0x0040u
#define LR_CREATEDIBSECTION 0x2000u
#define LR_SHARED 0x8000u

typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH, *LPLOGBRUSH;

// GetObjectA of a bitmap. The layer keeps 32 bits per pixel whatever the file had.
typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *LPBITMAP;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

// --- device contexts ---------------------------------------------------------------------------
// GetDC(NULL) gives a DC of the screen that draws nothing; it serves CreateCompatibleDC and
// CreateCompatibleBitmap. ReleaseDC returns 1 when the DC was released.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
// A memory DC, with a stock bitmap that holds no pixels selected until a bitmap is.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// Validates the window (sending WM_ERASEBKGND first when an erase is pending) and gives a DC
// on its client area; EndPaint releases it.
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
HWND WindowFromDC(HDC dc);

// Selects a brush, font or bitmap (memory DCs only; a bitmap is selected into one DC at a
// time) and returns the previous object of that kind; NULL when refused.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HGDIOBJ GetStockObject(int index);

// Text colour, background mode and colour; each returns the previous value (CLR_INVALID / 0
// for a bad DC).
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);

// --- drawing -------------------------------------------------------------------------------------
// The rectangle is half-open: right and bottom are outside.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Raster operation `rop` of source, destination (and the selected brush for PATCOPY and
// PATINVERT) on w x h pixels; pixels outside the source's picture are left as they are.
BOOL BitBlt(HDC dest, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop);
BOOL PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop);
// Draws the icon at the system icon size (SM_CXICON x SM_CYICON), blended by its alpha. A handle
// that is no icon: FALSE with ERROR_INVALID_CURSOR_HANDLE.
#ifndef ERROR_INVALID_CURSOR_HANDLE
#define ERROR_INVALID_CURSOR_HANDLE 1402L
#endif
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
// UTF-8 text in the DC's font and text colour; OPAQUE fills the text's cell with the
// background colour first. Needs the user interface (fonts); FALSE without it.
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);
#define TextOut TextOutA
COLORREF GetPixel(HDC dc, int x, int y);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

// --- brushes and bitmaps -------------------------------------------------------------------------
HBRUSH CreateSolidBrush(COLORREF color);
DWORD GetSysColor(int index);
// The same brush for every call with an index; it is not to be deleted.
HBRUSH GetSysColorBrush(int index);
// A black bitmap of w x h pixels (at least 1 x 1).
HBITMAP CreateCompatibleBitmap(HDC dc, int w, int h);
// A bitmap of 32 bits per pixel from top-down rows of BGRA bytes (bits may be null: black).
// Other depths are refused.
HBITMAP CreateBitmap(int w, int h, UINT planes, UINT bitsPerPixel, const void* bits);

// IMAGE_BITMAP with LR_LOADFROMFILE: `name` is the path (Windows form) of a .bmp file with 1,
// 4, 8, 16, 24 or 32 bits per pixel, bottom-up or top-down, uncompressed or with bit fields;
// cx and cy other than 0 stretch it to that size. IMAGE_ICON without LR_LOADFROMFILE is
// LoadIconA. NULL for a missing or malformed file (GetLastError says which).
HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags);
#define LoadImage LoadImageA

// --- classes -------------------------------------------------------------------------------------
class CBrush : public CGdiObject {
  public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color);
    int GetLogBrush(LOGBRUSH* logBrush) const;
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }  // NOLINT: by design
    // A CBrush for a handle that no CBrush owns; it lives until the process ends and never
    // deletes the handle.
    static CBrush* FromHandle(HBRUSH brush);
};

class CBitmap : public CGdiObject {
  public:
    BOOL CreateCompatibleBitmap(CDC* dc, int w, int h);
    BOOL CreateBitmap(int w, int h, UINT planes, UINT bitsPerPixel, const void* bits);
    int GetBitmap(BITMAP* bitmap) const;
    static CBitmap* FromHandle(HBITMAP bitmap);
};

// Owns the DC it has attached: its destructor deletes it, as the class library's does.
class CDC {
  public:
    CDC() = default;
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;

    HDC GetSafeHdc() const { return m_hDC; }
    // The attached CDC, or else one that lives as long as the DC; null for a bad DC.
    static CDC* FromHandle(HDC dc);
    BOOL Attach(HDC dc);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* dc);

    CBrush* SelectObject(CBrush* brush);
    CBitmap* SelectObject(CBitmap* bitmap);

    COLORREF SetTextColor(COLORREF color);
    int SetBkMode(int mode);
    COLORREF GetBkColor() const;

    void FillRect(LPCRECT rect, CBrush* brush);
    void FillSolidRect(LPCRECT rect, COLORREF color);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
    BOOL DrawIcon(int x, int y, HICON icon);
    BOOL BitBlt(int x, int y, int w, int h, CDC* src, int sx, int sy, DWORD rop);
    BOOL PatBlt(int x, int y, int w, int h, DWORD rop);
    COLORREF GetPixel(int x, int y) const;
};
