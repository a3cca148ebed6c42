// The texts the view shows: UTF-8 to Qt, and the labels of statics and buttons.
#include <QString>
#include <string>

#include "platform/view/qt_view_widgets.h"

namespace platform {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString LabelText(const std::string& text, bool prefixes) {
    QString in = FromUtf8(text);
    if (!prefixes)
        return in;
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == QLatin1Char('&')) {
            if (i + 1 < in.size() && in[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += in[i];
    }
    return out;
}
}  // namespace platform
