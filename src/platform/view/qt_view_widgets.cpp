// The controls' widgets. Each follows its window's state in Apply and hands what the user does
// to user_input.h; when the model refuses (the control is disabled or hidden there, whatever
// the widget still shows), the widget takes the model's state back.
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionFrame>

#include "platform/view/qt_view_widgets.h"
#include "platform/window/user_input.h"

namespace platform {

namespace {

void ApplyCommon(QWidget* w, const WindowState& s, const WindowState& old, bool first) {
    const RECT& r = s.rect;
    if (first || r.left != old.rect.left || r.top != old.rect.top || r.right != old.rect.right ||
        r.bottom != old.rect.bottom) {
        w->setGeometry(r.left, r.top, std::max<LONG>(r.right - r.left, 0),
                       std::max<LONG>(r.bottom - r.top, 0));
    }
    if (first || s.font != old.font)
        w->setFont(QtFontFor(s.font));
    if (first || s.enabled != old.enabled)
        w->setEnabled(s.enabled);
    if (first || s.visible != old.visible)
        w->setVisible(s.visible);
}

void ApplyTextColor(QWidget* w, const ControlColors& c) {
    QPalette p = w->palette();
    if (c.hasText) {
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
            p.setColor(QPalette::Active, role, c.text);
            p.setColor(QPalette::Inactive, role, c.text);
        }
    }
    if (c.hasBackground && !c.transparent) {
        p.setColor(QPalette::Base, c.background);
        p.setColor(QPalette::Window, c.background);
    }
    w->setPalette(p);
}

// Combo and list boxes: the entries are rebuilt only when the model's list changed.
template <class Box>
void ApplyItems(Box* box, const WindowState& s, const WindowState& old, bool first) {
    if (!first && s.items == old.items)
        return;
    box->clear();
    for (const std::string& item : s.items)
        box->addItem(FromUtf8(item));
}

bool MultipleSelection(DWORD style) {
    return (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

// --- push buttons, check boxes, radio buttons, group boxes -----------------------------------

class PushButtonItem : public QPushButton, public ViewItem {
  public:
    PushButtonItem(HWND hwnd, QWidget* parent) : QPushButton(parent), ViewItem(hwnd) {
        setAutoDefault(false);
        QObject::connect(this, &QPushButton::clicked, [this] { UserClicked(hwnd_); });
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "button"; }
    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        ApplyCommon(this, s, state_, first);
        if (first || s.text != state_.text)
            setText(FromUtf8(s.text));
        setDefault((s.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        setFocusPolicy((s.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        state_ = s;
        applying_ = false;
    }
    void ApplyColors(const ControlColors& c) override { ApplyTextColor(this, c); }

  protected:
    void paintEvent(QPaintEvent* e) override {
        PaintBackingImage(this, hwnd_);
        QPushButton::paintEvent(e);
    }
};

// Qt must not change the mark by itself: the model decides (auto or not, two or three
// states), and the widget follows it.
template <class Base>
class MarkItem : public Base, public ViewItem {
  public:
    MarkItem(HWND hwnd, QWidget* parent) : Base(parent), ViewItem(hwnd) {
        this->setAutoExclusive(false);
        QObject::connect(this, &QAbstractButton::clicked, [this] {
            UserClicked(hwnd_);
            ShowMark();
        });
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override {
        return std::is_same_v<Base, QCheckBox> ? "check" : "radio";
    }
    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        ApplyCommon(this, s, state_, first);
        if (first || s.text != state_.text)
            this->setText(FromUtf8(s.text));
        state_ = s;
        ShowMark();
        applying_ = false;
    }
    void ApplyColors(const ControlColors& c) override { ApplyTextColor(this, c); }

  protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent* e) override {
        PaintBackingImage(this, hwnd_);
        Base::paintEvent(e);
    }

  private:
    void ShowMark() {
        WindowState now;
        int check = ReadWindow(hwnd_, &now) ? now.check : state_.check;
        QSignalBlocker block(this);
        if (auto* box = dynamic_cast<QCheckBox*>(static_cast<Base*>(this))) {
            DWORD type = state_.style & BS_TYPEMASK;
            box->setTristate(type == BS_3STATE || type == BS_AUTO3STATE);
            box->setCheckState(check == BST_INDETERMINATE ? Qt::PartiallyChecked
                               : check == BST_CHECKED     ? Qt::Checked
                                                          : Qt::Unchecked);
        } else {
            this->setChecked(check == BST_CHECKED);
        }
    }
};

class GroupBoxItem : public QGroupBox, public ViewItem {
  public:
    GroupBoxItem(HWND hwnd, QWidget* parent) : QGroupBox(parent), ViewItem(hwnd) {
        // A group box is a sibling drawn under the controls, not their container: clicks go
        // through it.
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "group"; }
    void Apply(const WindowState& s, bool first) override {
        ApplyCommon(this, s, state_, first);
        if (first || s.text != state_.text)
            setTitle(FromUtf8(s.text));
        state_ = s;
    }
    void ApplyColors(const ControlColors& c) override { ApplyTextColor(this, c); }

  protected:
    void paintEvent(QPaintEvent* e) override {
        PaintBackingImage(this, hwnd_);
        QGroupBox::paintEvent(e);
    }
};

// --- static texts and frames -------------------------------------------------------------------

class StaticItem : public QWidget, public ViewItem {
  public:
    StaticItem(HWND hwnd, QWidget* parent) : QWidget(parent), ViewItem(hwnd) {}
    QWidget* widget() override { return this; }
    const char* kindName() const override { return (state_.style & SS_NOTIFY) ? "link" : "label"; }
    QString shownText() const override {
        return LabelText(state_.text, (state_.style & SS_NOPREFIX) == 0);
    }
    void Apply(const WindowState& s, bool first) override {
        ApplyCommon(this, s, state_, first);
        state_ = s;
        // Only SS_NOTIFY statics take clicks; the others let them through to the dialog.
        setAttribute(Qt::WA_TransparentForMouseEvents, (s.style & SS_NOTIFY) == 0);
        update();
    }
    void ApplyColors(const ControlColors& c) override {
        colors_ = c;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        PaintBackingImage(this, hwnd_);
        QPainter painter(this);
        if (colors_.known && !colors_.transparent && colors_.hasBackground) {
            painter.fillRect(rect(), colors_.background);
        }
        QColor ink = colors_.hasText ? colors_.text : palette().color(QPalette::WindowText);
        if (!isEnabled())
            ink = palette().color(QPalette::Disabled, QPalette::WindowText);
        painter.setPen(ink);
        painter.setFont(font());
        DWORD style = state_.style;
        DWORD type = style & SS_TYPEMASK;
        int align = type == SS_CENTER  ? Qt::AlignHCenter
                    : type == SS_RIGHT ? Qt::AlignRight
                                       : Qt::AlignLeft;
        align |= (style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
        QString text = shownText();
        bool wrap = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
        DWORD ellipsis = style & SS_ELLIPSISMASK;
        if (ellipsis != 0) {
            Qt::TextElideMode mode = ellipsis == SS_PATHELLIPSIS ? Qt::ElideMiddle : Qt::ElideRight;
            text = painter.fontMetrics().elidedText(text, mode, width());
            wrap = false;
        }
        painter.drawText(rect(), align | (wrap ? Qt::TextWordWrap : 0), text);
    }
    void mousePressEvent(QMouseEvent* e) override { e->accept(); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
            UserClicked(hwnd_);
        }
    }
};

class FrameItem : public QFrame, public ViewItem {
  public:
    FrameItem(HWND hwnd, QWidget* parent) : QFrame(parent), ViewItem(hwnd) {}
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "frame"; }
    void Apply(const WindowState& s, bool first) override {
        ApplyCommon(this, s, state_, first);
        state_ = s;
        switch (s.style & SS_TYPEMASK) {
            case SS_ETCHEDHORZ:
                setFrameStyle(QFrame::HLine | QFrame::Sunken);
                break;
            case SS_ETCHEDVERT:
                setFrameStyle(QFrame::VLine | QFrame::Sunken);
                break;
            case SS_ETCHEDFRAME:
                setFrameStyle(QFrame::Box | QFrame::Sunken);
                break;
            default:
                setFrameStyle(QFrame::Box | QFrame::Plain);
                break;
        }
        update();
    }

  protected:
    void paintEvent(QPaintEvent* e) override {
        PaintBackingImage(this, hwnd_);
        DWORD type = state_.style & SS_TYPEMASK;
        if (type >= SS_BLACKRECT && type <= SS_WHITERECT) {
            QPainter painter(this);
            QColor fill = type == SS_BLACKRECT  ? QColor(0, 0, 0)
                          : type == SS_GRAYRECT ? QColor(128, 128, 128)
                                                : QColor(255, 255, 255);
            painter.fillRect(rect(), fill);
            return;
        }
        QFrame::paintEvent(e);
    }
};

// --- edit fields ------------------------------------------------------------------------------

class EditItem : public QLineEdit, public ViewItem {
  public:
    EditItem(HWND hwnd, QWidget* parent) : QLineEdit(parent), ViewItem(hwnd) {
        QObject::connect(this, &QLineEdit::textEdited, [this](const QString& text) {
            if (!UserTyped(hwnd_, text.toStdString()))
                ShowModelText();
        });
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "edit"; }
    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        ApplyCommon(this, s, state_, first);
        state_ = s;
        setEchoMode((s.style & ES_PASSWORD) ? QLineEdit::Password : QLineEdit::Normal);
        setReadOnly((s.style & ES_READONLY) != 0);
        setMaxLength(32767);
        DWORD align = s.style & 0x3;
        setAlignment((align == ES_CENTER  ? Qt::AlignHCenter
                      : align == ES_RIGHT ? Qt::AlignRight
                                          : Qt::AlignLeft) |
                     Qt::AlignVCenter);
        setFrame(true);
        ShowModelText();
        applying_ = false;
    }
    void ApplyColors(const ControlColors& c) override { ApplyTextColor(this, c); }

  private:
    void ShowModelText() {
        QString text = FromUtf8(state_.text);
        if (this->text() != text) {
            QSignalBlocker block(this);
            setText(text);
        }
    }
};

// --- combo and list boxes ---------------------------------------------------------------------

class ComboItem : public QComboBox, public ViewItem {
  public:
    ComboItem(HWND hwnd, QWidget* parent) : QComboBox(parent), ViewItem(hwnd) {
        QObject::connect(this, QOverload<int>::of(&QComboBox::activated), [this](int index) {
            if (!UserSelected(hwnd_, index))
                ShowSelection();
        });
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "combo"; }
    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        ApplyCommon(this, s, state_, first);
        QSignalBlocker block(this);
        ApplyItems(this, s, state_, first);
        state_ = s;
        ShowSelection();
        applying_ = false;
    }
    void ApplyColors(const ControlColors& c) override { ApplyTextColor(this, c); }

  private:
    void ShowSelection() {
        QSignalBlocker block(this);
        setCurrentIndex(state_.curSel);
    }
};

class ListItem : public QListWidget, public ViewItem {
  public:
    ListItem(HWND hwnd, QWidget* parent) : QListWidget(parent), ViewItem(hwnd) {
        QObject::connect(this, &QListWidget::itemSelectionChanged, [this] {
            if (!applying_)
                TakeUserSelection();
        });
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "list"; }
    void Apply(const WindowState& s, bool first) override {
        applying_ = true;
        ApplyCommon(this, s, state_, first);
        setSelectionMode((s.style & LBS_NOSEL)         ? QAbstractItemView::NoSelection
                         : (s.style & LBS_EXTENDEDSEL) ? QAbstractItemView::ExtendedSelection
                         : (s.style & LBS_MULTIPLESEL) ? QAbstractItemView::MultiSelection
                                                       : QAbstractItemView::SingleSelection);
        setFrameShape((s.style & WS_BORDER) || (s.exStyle & WS_EX_CLIENTEDGE) ? QFrame::StyledPanel
                                                                              : QFrame::NoFrame);
        ApplyItems(this, s, state_, first);
        state_ = s;
        ShowSelection();
        applying_ = false;
    }
    void ApplyColors(const ControlColors& c) override {
        ApplyTextColor(this, c);
        if (c.hasBackground)
            viewport()->setAutoFillBackground(true);
    }

  private:
    void ShowSelection() {
        bool was = applying_;
        applying_ = true;
        bool multiple = MultipleSelection(state_.style);
        for (int i = 0; i < count(); ++i) {
            bool on = multiple ? (static_cast<size_t>(i) < state_.selected.size() &&
                                  state_.selected[static_cast<size_t>(i)] != 0)
                               : i == state_.curSel;
            item(i)->setSelected(on);
        }
        if (!multiple && state_.curSel < 0)
            setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        applying_ = was;
    }
    void TakeUserSelection() {
        bool taken;
        if (MultipleSelection(state_.style)) {
            std::vector<char> selected(static_cast<size_t>(count()), 0);
            for (int i = 0; i < count(); ++i)
                selected[static_cast<size_t>(i)] = item(i)->isSelected();
            taken = UserSelectedSet(hwnd_, selected, currentRow());
        } else {
            QList<QListWidgetItem*> chosen = selectedItems();
            // Clearing the selection is not a choice of the user's here.
            taken = !chosen.isEmpty() && UserSelected(hwnd_, row(chosen.first()));
        }
        WindowState now;
        if (ReadWindow(hwnd_, &now))
            state_ = now;
        if (!taken)
            ShowSelection();
    }
};

// --- progress bars and anything else ----------------------------------------------------------

class ProgressItem : public QProgressBar, public ViewItem {
  public:
    ProgressItem(HWND hwnd, QWidget* parent) : QProgressBar(parent), ViewItem(hwnd) {
        setTextVisible(false);
    }
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "progress"; }
    void Apply(const WindowState& s, bool first) override {
        ApplyCommon(this, s, state_, first);
        setOrientation((s.style & PBS_VERTICAL) ? Qt::Vertical : Qt::Horizontal);
        int low = std::min(s.rangeLow, s.rangeHigh), high = std::max(s.rangeLow, s.rangeHigh);
        setRange(low, high == low ? low + 1 : high);
        setValue(s.pos);
        if (first || s.barColor != state_.barColor || s.bkColor != state_.bkColor) {
            QPalette p = QWidget::palette();
            QPalette standard = QApplication::palette(this);
            p.setColor(QPalette::Highlight, s.barColor == CLR_DEFAULT
                                                ? standard.color(QPalette::Highlight)
                                                : QtColor(s.barColor));
            QColor bk =
                s.bkColor == CLR_DEFAULT ? standard.color(QPalette::Base) : QtColor(s.bkColor);
            p.setColor(QPalette::Base, bk);
            p.setColor(QPalette::Window, bk);
            p.setColor(QPalette::Button, bk);
            setPalette(p);
        }
        state_ = s;
    }
};

class GenericItem : public QWidget, public ViewItem {
  public:
    GenericItem(HWND hwnd, QWidget* parent) : QWidget(parent), ViewItem(hwnd) {}
    QWidget* widget() override { return this; }
    const char* kindName() const override { return "generic"; }
    void Apply(const WindowState& s, bool first) override {
        ApplyCommon(this, s, state_, first);
        state_ = s;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override { PaintBackingImage(this, hwnd_); }
};

}  // namespace

void PaintBackingImage(QWidget* widget, HWND hwnd) {
    if (!BackingImageDrawn(hwnd))
        return;
    QImage* image = BackingImage(hwnd);
    if (image == nullptr)
        return;
    QPainter painter(widget);
    painter.drawImage(0, 0, *image);
}

ViewItem* MakeControlItem(const WindowState& s, QWidget* parent) {
    switch (s.kind) {
        case WindowKind::PushButton:
            return new PushButtonItem(s.hwnd, parent);
        case WindowKind::CheckBox:
            return new MarkItem<QCheckBox>(s.hwnd, parent);
        case WindowKind::RadioButton:
            return new MarkItem<QRadioButton>(s.hwnd, parent);
        case WindowKind::GroupBox:
            return new GroupBoxItem(s.hwnd, parent);
        case WindowKind::Static:
            return new StaticItem(s.hwnd, parent);
        case WindowKind::Frame:
            return new FrameItem(s.hwnd, parent);
        case WindowKind::Edit:
            return new EditItem(s.hwnd, parent);
        case WindowKind::ComboBox:
            return new ComboItem(s.hwnd, parent);
        case WindowKind::ListBox:
            return new ListItem(s.hwnd, parent);
        case WindowKind::Progress:
            return new ProgressItem(s.hwnd, parent);
        default:
            return new GenericItem(s.hwnd, parent);
    }
}

}  // namespace platform
