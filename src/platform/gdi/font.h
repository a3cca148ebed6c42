// Fonts: the LOGFONTA record in its Windows layout, font handles made from it, and CFont. The
// handle keeps the record as given; the view maps it to a real font (face, pixel height,
// weight, italic, underline, strike-out) when a window shows it.
#pragma once

#include "platform/base/types.h"
#include "platform/gdi/gdi_object.h"

#define LF_FACESIZE 32

#define FW_DONTCARE 0
#define FW_THIN 100
#define FW_LIGHT 300
#define FW_NORMAL 400
#define FW_MEDIUM 500
#define FW_SEMIBOLD 600
#define FW_BOLD 700
#define FW_HEAVY 900

#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1

typedef struct tagLOGFONTA {
    LONG lfHeight;  // < 0: character height in pixels; > 0: cell height; 0: default
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *LPLOGFONTA;
typedef LOGFONTA LOGFONT;
typedef LPLOGFONTA LPLOGFONT;

HFONT CreateFontIndirectA(const LOGFONTA* logFont);

namespace platform {
// The record behind a live font handle.
bool LogFontOf(HFONT font, LOGFONTA* out);
// Dialog base units of a font as it is drawn: the average width of the 52 Latin letters and
// the line height, in pixels (6 x 13 when the font gives none).
SIZE DialogBaseUnits(HFONT font);
}  // namespace platform

class CFont : public CGdiObject {
  public:
    BOOL CreateFontIndirect(const LOGFONTA* logFont);
    // `pointSize` in tenths of a point, at 96 pixels per inch.
    BOOL CreatePointFont(int pointSize, LPCSTR faceName);
    int GetLogFont(LOGFONTA* logFont) const;
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }  // NOLINT: implicit by design

    // A CFont for a handle that no CFont owns (a window's font); it lives until the process
    // ends and never deletes the handle.
    static CFont* FromHandle(HFONT font);
};
