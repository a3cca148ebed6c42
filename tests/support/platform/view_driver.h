// The view driven and inspected as a person would meet it: the user's input as Qt events or
// signals of the real widgets, what the view shows, screenshots, and the real boxes that are
// open. On the user-interface thread.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"

namespace platform::testing {

// The user's input, through the view's widgets. False when the widget does not exist.
bool Click(HWND control);
bool ChooseItem(HWND comboOrList, int index);
bool TypeText(HWND edit, const std::string& text);
bool PressKey(HWND window, UINT virtualKey);  // VK_RETURN, VK_ESCAPE
bool PressCloseBox(HWND window);
// Presses the mouse at a client point of a dialog (on whatever widget is there), drags by
// (dx, dy) and releases.
bool Drag(HWND dialog, POINT clientPoint, int dx, int dy);

// What the view shows for a window, after it has caught up with the model.
struct ViewState {
    bool exists = false;
    bool shown = false;  // visible on the screen
    bool enabled = false;
    std::string text;  // title, caption, label, field text or current combo item
    int check = 0;
    std::vector<std::string> items;
    int current = -1;
    int minimum = 0, maximum = 0, value = 0;     // progress bars
    unsigned barColor = 0, backgroundColor = 0;  // 0xRRGGBB as shown
    bool password = false;
    bool modal = false;
    std::string widgetKind;  // "dialog", "button", "check", "label", "link", "frame"...
    std::string fontFamily;
    int fontPixelSize = 0, fontWeight = 0;
    bool fontUnderline = false;
    unsigned textColor = 0;  // 0xRRGGBB
    bool transparent = false;
    RECT geometry{};  // top-level: on the screen; control: in the parent's client area
    bool hasIcon = false;
};
ViewState InspectView(HWND hwnd);

// The size of the screen the view shows its windows on, as Qt gives it.
SIZE ViewScreenSize();

// Renders a window's view into a PNG file.
bool GrabWindow(HWND hwnd, const char* pngPath);

// The real Qt message box that is open now (the Qt dialogs are the presenter).
struct ShownBox {
    bool found = false;
    std::string title, text;
    std::vector<std::string> buttons;
    bool hasIcon = false;
};
ShownBox FindShownMessageBox();
// Presses the button of the open real box that gives `answer`.
bool AnswerShownMessageBox(int answer);
// Accepts the open real file dialog with a native path, or cancels it with null.
bool AnswerShownFileDialog(const char* nativePath);

}  // namespace platform::testing
