// What the resources of a module hold, as the layer reads them: dialog templates and icon
// images. Shared by the .res parser and the resource modules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/types.h"

namespace platform {

struct DialogItemTemplate {
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;  // 0xFFFFFFFF for IDC_STATIC
    // "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" for the predefined classes;
    // otherwise the class name, with the common controls' names in their usual spelling
    // ("msctls_progress32").
    std::string windowClass;
    std::string text;  // UTF-8; an ordinal title as "#<n>"
};

struct DialogTemplate {
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, windowClass, title;  // an ordinal menu or class as "#<n>"
    WORD pointSize = 0, weight = 0;        // only with DS_SETFONT
    BYTE italic = 0, charset = 0;
    std::string typeface;
    std::vector<DialogItemTemplate> items;
};

struct IconImage {
    int width = 0, height = 0;
    std::vector<uint32_t> argb;  // 0xAARRGGBB, rows top-down, not premultiplied
};

}  // namespace platform
