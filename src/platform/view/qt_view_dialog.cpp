// The top-level widget of a dialog: title from the window's text, icon from WM_SETICON, the
// backing image over the palette's background, Enter / Esc / the close box handed to
// user_input.h, and moving the window by a press on its client area when the dialog's hit test
// answers HTCAPTION (the window system's move, or the view's own where there is none).
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QWindow>
#include <cstring>

#include "platform/modules/resources.h"
#include "platform/view/qt_view.h"
#include "platform/view/qt_view_widgets.h"
#include "platform/window/dispatch.h"
#include "platform/window/ui_queue.h"
#include "platform/window/user_input.h"

namespace platform {

namespace {

QIcon IconFor(HICON big, HICON small) {
    QIcon icon;
    for (HICON h : {big, small}) {
        const std::vector<IconImage>* images = h != nullptr ? IconImages(h) : nullptr;
        if (images == nullptr)
            continue;
        for (const IconImage& image : *images) {
            QImage q = IconQImage(image);
            if (!q.isNull())
                icon.addPixmap(QPixmap::fromImage(q));
        }
    }
    return icon;
}

HWND ChildHwndOf(QWidget* top, QWidget* w) {
    for (; w != nullptr && w != top; w = w->parentWidget()) {
        if (auto* item = dynamic_cast<ViewItem*>(w))
            return item->hwnd();
    }
    return nullptr;
}

class DialogItem : public QWidget, public ViewItem {
  public:
    DialogItem(HWND hwnd, QWidget* owner) : QWidget(owner, Qt::Dialog), ViewItem(hwnd) {
        setAttribute(Qt::WA_DeleteOnClose, false);
        setAutoFillBackground(true);
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "dialog"; }

    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (s.style & WS_SYSMENU)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (s.style & WS_MINIMIZEBOX)
            flags |= Qt::WindowMinimizeButtonHint;
        if (first || s.style != state_.style)
            setWindowFlags(flags);
        if (first || s.modal != state_.modal) {
            setWindowModality(s.modal ? Qt::ApplicationModal : Qt::NonModal);
        }
        if (first || s.text != state_.text)
            setWindowTitle(FromUtf8(s.text));
        if (first || s.bigIcon != state_.bigIcon || s.smallIcon != state_.smallIcon) {
            setWindowIcon(IconFor(s.bigIcon, s.smallIcon));
        }
        if (first || s.font != state_.font)
            setFont(QtFontFor(s.font));
        if (first || s.enabled != state_.enabled)
            setEnabled(s.enabled);
        const RECT& r = s.rect;
        QRect want(r.left, r.top, std::max<LONG>(r.right - r.left, 1),
                   std::max<LONG>(r.bottom - r.top, 1));
        if (first || std::memcmp(&s.rect, &state_.rect, sizeof(RECT)) != 0) {
            setFixedSize(want.size());
            setGeometry(want);
        }
        bool wasShown = !first && state_.visible;
        state_ = s;
        if (s.visible && !wasShown) {
            if (s.iconic) {
                showMinimized();
            } else {
                show();
            }
            FocusFirstControl();
        } else if (!s.visible && isVisible()) {
            hide();
        } else if (s.visible && s.iconic != isMinimized()) {
            if (s.iconic) {
                showMinimized();
            } else {
                showNormal();
            }
        }
        applying_ = false;
    }

    void ApplyColors(const ControlColors& c) override {
        colors_ = c;
        if (c.hasBackground) {
            QPalette p = palette();
            p.setColor(QPalette::Window, c.background);
            setPalette(p);
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override { PaintBackingImage(this, hwnd_); }

    void keyPressEvent(QKeyEvent* e) override {
        UINT key = 0;
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
            key = VK_RETURN;
        if (e->key() == Qt::Key_Escape)
            key = VK_ESCAPE;
        if (key == 0) {
            QWidget::keyPressEvent(e);
            return;
        }
        UserPressedKey(hwnd_, key, ChildHwndOf(this, focusWidget()));
        e->accept();
    }

    void closeEvent(QCloseEvent* e) override {
        // The dialog ends only through its own handling of WM_CLOSE.
        e->ignore();
        UserClosed(hwnd_);
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton || !AcceptsUserInput(hwnd_) || !OnUiThread() ||
            DispatchHeld()) {
            return;
        }
        QPoint global = e->globalPosition().toPoint();
        LRESULT hit = DeliverMessage(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(global.x(), global.y()));
        if (hit == HTCAPTION) {
            // The window system's own move where it has one (it knows the desktop's edges and
            // rules); a press it never saw, or a platform without it (offscreen), moves the
            // window by the drag here.
            QWindow* window = windowHandle();
            bool systemMove = e->spontaneous() && window != nullptr && window->startSystemMove();
            dragging_ = !systemMove;
            grabOffset_ = global - pos();
        }
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!dragging_)
            return;
        // A release that went elsewhere ends the drag too.
        if (!(e->buttons() & Qt::LeftButton)) {
            dragging_ = false;
            return;
        }
        move(e->globalPosition().toPoint() - grabOffset_);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (dragging_ && e->button() == Qt::LeftButton)
            dragging_ = false;
    }

    void moveEvent(QMoveEvent*) override {
        if (applying_)
            return;
        QPoint at = geometry().topLeft();
        const RECT& r = state_.rect;
        if (at.x() == r.left && at.y() == r.top)
            return;
        RECT moved{at.x(), at.y(), at.x() + (r.right - r.left), at.y() + (r.bottom - r.top)};
        state_.rect = moved;
        SetWindowRectFromView(hwnd_, moved);
        PostMessageA(hwnd_, WM_MOVE, 0, MAKELPARAM(at.x(), at.y()));
    }

    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() != QEvent::WindowStateChange || applying_)
            return;
        bool minimized = isMinimized();
        if (minimized == state_.iconic)
            return;
        state_.iconic = minimized;
        SetIconicFromView(hwnd_, minimized);
        InvalidateModelWindow(hwnd_, true);
        WakeUi();
    }

  private:
    void FocusFirstControl() {
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            auto* item = dynamic_cast<ViewItem*>(child);
            if (item != nullptr && (item->state().style & WS_TABSTOP) && child->isEnabled() &&
                !child->isHidden()) {
                child->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }

    bool dragging_ = false;
    QPoint grabOffset_;
};

}  // namespace

ViewItem* MakeDialogItem(const WindowState& state, QWidget* ownerWidget) {
    return new DialogItem(state.hwnd, ownerWidget);
}

}  // namespace platform
