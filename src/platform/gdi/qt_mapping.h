// The drawing values of the layer in Qt's terms (internal; includes Qt): the font of a LOGFONT,
// a COLORREF's colour, an icon image. The drawing code and the view both draw with them.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

#include "platform/base/types.h"
#include "platform/modules/resource_types.h"

namespace platform {

// LOGFONT to QFont: the pixel height, weight, italic, underline and strike-out; the Windows
// dialog faces ("MS Shell Dlg", "Segoe UI", "Tahoma"...) become the desktop's sans-serif.
QFont QtFontFor(HFONT font);
QColor QtColor(COLORREF color);
// An icon image as a QImage (Format_ARGB32, a copy); null for an image whose pixels do not
// match its size.
QImage IconQImage(const IconImage& image);

}  // namespace platform
