#include "platform/gdi/qt_mapping.h"

#include <strings.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>

#include "platform/gdi/font.h"

namespace platform {

namespace {

bool IsWindowsUiFace(const char* face) {
    static const char* const faces[] = {"",       "MS Shell Dlg",  "MS Shell Dlg 2", "Segoe UI",
                                        "Tahoma", "MS Sans Serif", "System"};
    for (const char* f : faces) {
        if (strcasecmp(face, f) == 0)
            return true;
    }
    return false;
}

}  // namespace

QFont QtFontFor(HFONT handle) {
    LOGFONTA lf;
    if (!LogFontOf(handle, &lf))
        return QGuiApplication::font();
    QFont font;
    if (IsWindowsUiFace(lf.lfFaceName)) {
        font.setFamily(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    } else {
        font.setFamily(QString::fromUtf8(lf.lfFaceName));
    }
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(static_cast<QFont::Weight>(
        lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<LONG>(lf.lfWeight, 1, 1000)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    if (lf.lfHeight < 0) {
        font.setPixelSize(static_cast<int>(-lf.lfHeight));
    } else if (lf.lfHeight > 0) {
        // A positive height is the cell (ascent plus descent); Qt sizes the em.
        font.setPixelSize(static_cast<int>(lf.lfHeight));
        int cell = QFontMetrics(font).height();
        if (cell > 0 && cell != lf.lfHeight) {
            int px = static_cast<int>(std::lround(double(lf.lfHeight) * lf.lfHeight / cell));
            font.setPixelSize(std::max(px, 1));
        }
    } else {
        font.setPixelSize(11);
    }
    return font;
}

SIZE DialogBaseUnits(HFONT font) {
    QFontMetrics metrics(QtFontFor(font));
    int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average of the 52 letters, rounded, as Windows takes it.
    SIZE units{(width / 26 + 1) / 2, metrics.height()};
    if (units.cx <= 0)
        units.cx = 6;
    if (units.cy <= 0)
        units.cy = 13;
    return units;
}

QColor QtColor(COLORREF color) {
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

QImage IconQImage(const IconImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.argb.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
        return QImage();
    }
    QImage view(reinterpret_cast<const uchar*>(image.argb.data()), image.width, image.height,
                image.width * 4, QImage::Format_ARGB32);
    return view.copy();
}

}  // namespace platform
