#include "platform/afx/dialog_build.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/geometry.h"
#include "platform/gdi/font.h"
#include "platform/window/messages.h"
#include "platform/window/window_model.h"
#include "platform/window/window_ops.h"

namespace platform {

void TemplateLogFont(const DialogTemplate& t, LOGFONTA* out) {
    LOGFONTA lf{};
    bool own = (t.style & DS_SETFONT) != 0 && t.pointSize != 0;
    lf.lfHeight = -MulDiv(own ? t.pointSize : 8, 96, 72);
    lf.lfWeight = own && t.weight != 0 ? t.weight : FW_NORMAL;
    lf.lfItalic = own ? t.italic : 0;
    lf.lfCharSet = own ? t.charset : DEFAULT_CHARSET;
    std::snprintf(lf.lfFaceName, LF_FACESIZE, "%s", own ? t.typeface.c_str() : "MS Shell Dlg");
    *out = lf;
}

HWND BuildDialog(const DialogTemplate& t, HWND owner, HFONT* madeFont) {
    LOGFONTA lf;
    TemplateLogFont(t, &lf);
    HFONT font = CreateFontIndirectA(&lf);
    SIZE bu = DialogBaseUnits(font);
    auto px = [&](int x) { return MulDiv(x, bu.cx, 4); };
    auto py = [&](int y) { return MulDiv(y, bu.cy, 8); };

    int width = px(t.cx), height = py(t.cy);
    RECT place{0, 0, 0, 0};
    if (owner != nullptr) {
        GetWindowRect(owner, &place);
    } else {
        SIZE screen = ScreenSize();
        place = RECT{0, 0, screen.cx, screen.cy};
    }
    int left, top;
    if ((t.style & DS_CENTER) != 0) {
        left = place.left + (place.right - place.left - width) / 2;
        top = place.top + (place.bottom - place.top - height) / 2;
    } else {
        left = place.left + px(t.x);
        top = place.top + py(t.y);
    }
    left = std::max(left, 0);
    top = std::max(top, 0);

    WindowState d;
    d.kind = WindowKind::Dialog;
    d.windowClass = t.windowClass;
    d.owner = owner;
    d.style = t.style;
    d.exStyle = t.exStyle;
    d.text = t.title;
    d.font = font;
    d.visible = false;
    d.enabled = (t.style & WS_DISABLED) == 0;
    d.rect = RECT{left, top, left + width, top + height};
    HWND dialog = CreateModelWindow(d);
    if (dialog == nullptr) {
        DeleteObject(font);
        return nullptr;
    }
    *madeFont = font;
    for (const DialogItemTemplate& item : t.items) {
        WindowState c;
        c.parent = dialog;
        c.id = static_cast<int>(static_cast<int32_t>(item.id));
        c.windowClass = item.windowClass;
        c.style = item.style;
        c.exStyle = item.exStyle;
        c.kind = KindOf(item.windowClass, item.style);
        if (c.kind != WindowKind::ComboBox && c.kind != WindowKind::ListBox)
            c.text = item.text;
        c.enabled = (item.style & WS_DISABLED) == 0;
        c.visible = (item.style & WS_VISIBLE) != 0;
        c.font = font;
        int x0 = px(item.x), y0 = py(item.y);
        int x1 = px(item.x + item.cx), y1 = py(item.y + item.cy);
        // A combo box's template height includes its drop-down list; the box itself is one
        // line of the font high.
        if (c.kind == WindowKind::ComboBox)
            y1 = std::min(y1, y0 + bu.cy + 8);
        c.rect = RECT{x0, y0, x1, y1};
        CreateModelWindow(c);
    }
    return dialog;
}

}  // namespace platform
