// The view's widgets (private to the qt_view*.cpp files; includes Qt). One widget per window,
// each a ViewItem that knows its HWND, takes the model's state in Apply, and paints the
// window's backing image under its own content. User input goes to user_input.h, which changes
// the model and posts the notification; a refused input puts the model's state back into the
// widget.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "platform/gdi/qt_mapping.h"
#include "platform/modules/resources.h"
#include "platform/window/drawing_port.h"
#include "platform/window/window_model.h"

namespace platform {

// Text of a static or button label as shown: '&' marks a mnemonic ("&&" is one '&') unless
// the style says SS_NOPREFIX.
QString LabelText(const std::string& text, bool prefixes);
QString FromUtf8(const std::string& text);
// Draws the window's backing image at the top left.
void PaintBackingImage(QWidget* widget, HWND hwnd);

// What a WM_CTLCOLOR handler chose for a control.
struct ControlColors {
    bool known = false;
    bool hasText = false;
    QColor text;
    bool transparent = false;
    bool hasBackground = false;
    QColor background;
};

class ViewItem {
  public:
    explicit ViewItem(HWND hwnd) : hwnd_(hwnd) {}
    virtual ~ViewItem() = default;
    virtual QWidget* widget() = 0;
    // For tests: "dialog", "button", "check", "radio", "group", "label", "link", "frame",
    // "edit", "combo", "list", "progress" or "generic".
    virtual const char* kindName() const = 0;
    // The text as painted, for the items that paint their own.
    virtual QString shownText() const { return QString(); }
    // Takes the model's state; `first` on the first call.
    virtual void Apply(const WindowState& state, bool first) = 0;
    virtual void ApplyColors(const ControlColors&) {}
    HWND hwnd() const { return hwnd_; }
    const WindowState& state() const { return state_; }
    const ControlColors& colors() const { return colors_; }

  protected:
    HWND hwnd_;
    WindowState state_;
    ControlColors colors_;
    // True while Apply runs, so the widget's own signals are not taken for the user's.
    bool applying_ = false;
};

// Makes the view item of a control (parent: the dialog's widget).
ViewItem* MakeControlItem(const WindowState& state, QWidget* parent);
// Makes the top-level widget of a dialog (parent: its owner's widget, or null).
ViewItem* MakeDialogItem(const WindowState& state, QWidget* ownerWidget);
// The item of a window, or null.
ViewItem* ItemOf(HWND hwnd);

}  // namespace platform
