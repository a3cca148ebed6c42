#include "support/platform/view_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "platform/view/qt_view.h"
#include "platform/view/qt_view_widgets.h"
#include "platform/window/window_model.h"

namespace platform::testing {

namespace {

void SendMouse(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    QPoint global = target->mapToGlobal(local);
    QMouseEvent event(type, QPointF(local), QPointF(global),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void ClickAt(QWidget* target, QPoint local) {
    SendMouse(target, QEvent::MouseButtonPress, local, Qt::LeftButton);
    SendMouse(target, QEvent::MouseButtonRelease, local, Qt::NoButton);
}

unsigned Rgb(const QColor& c) {
    return static_cast<unsigned>(c.rgb() & 0xFFFFFF);
}

QMessageBox* OpenBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible())
            return box;
    }
    return nullptr;
}

}  // namespace

bool Click(HWND control) {
    QWidget* w = WidgetOf(control);
    if (w == nullptr)
        return false;
    // A check box or radio button takes clicks on its mark and label, at its left.
    bool marked =
        qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr;
    QPoint at = marked ? QPoint(std::min(8, w->width() / 2), w->height() / 2) : w->rect().center();
    ClickAt(w, at);
    return true;
}

bool ChooseItem(HWND comboOrList, int index) {
    QWidget* w = WidgetOf(comboOrList);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (index < 0 || index >= combo->count())
            return false;
        // What the drop-down list does when the user picks an entry.
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        return true;
    }
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        QListWidgetItem* item = list->item(index);
        if (item == nullptr)
            return false;
        ClickAt(list->viewport(), list->visualItemRect(item).center());
        return true;
    }
    return false;
}

bool TypeText(HWND edit, const std::string& text) {
    auto* line = qobject_cast<QLineEdit*>(WidgetOf(edit));
    if (line == nullptr)
        return false;
    line->selectAll();
    if (text.empty()) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(line, &press);
    } else {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, FromUtf8(text));
        QApplication::sendEvent(line, &press);
    }
    return true;
}

bool PressKey(HWND window, UINT virtualKey) {
    QWidget* top = WidgetOf(TopLevelOf(window));
    if (top == nullptr)
        return false;
    // A key goes to the control that has the focus: the one named, or the dialog's own.
    QWidget* target = WidgetOf(window);
    if (target == nullptr)
        return false;
    if (target != top) {
        target->setFocus(Qt::OtherFocusReason);
    } else if (QWidget* focus = top->focusWidget()) {
        target = focus;
    }
    int key = virtualKey == VK_RETURN   ? Qt::Key_Return
              : virtualKey == VK_ESCAPE ? Qt::Key_Escape
              : virtualKey == VK_SPACE  ? Qt::Key_Space
                                        : Qt::Key_unknown;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
    return true;
}

bool PressCloseBox(HWND window) {
    QWidget* w = WidgetOf(window);
    if (w == nullptr || !w->isWindow())
        return false;
    w->close();
    return true;
}

bool Drag(HWND dialog, POINT clientPoint, int dx, int dy) {
    QWidget* top = WidgetOf(dialog);
    if (top == nullptr)
        return false;
    QPoint at(clientPoint.x, clientPoint.y);
    QWidget* under = top->childAt(at);
    QWidget* target = under != nullptr ? under : top;
    SendMouse(target, QEvent::MouseButtonPress, target->mapFrom(top, at), Qt::LeftButton);
    // The widget that took the press gets the moves; here the dialog, which starts the drag.
    QPoint start = top->mapToGlobal(at);
    for (int step = 1; step <= 4; ++step) {
        QPoint global = start + QPoint(dx * step / 4, dy * step / 4);
        SendMouse(top, QEvent::MouseMove, top->mapFromGlobal(global), Qt::LeftButton);
    }
    QPoint end = start + QPoint(dx, dy);
    SendMouse(top, QEvent::MouseButtonRelease, top->mapFromGlobal(end), Qt::NoButton);
    return true;
}

ViewState InspectView(HWND hwnd) {
    ViewState v;
    SyncViewNow();
    ViewItem* item = ItemOf(hwnd);
    if (item == nullptr)
        return v;
    QWidget* w = item->widget();
    v.exists = true;
    v.widgetKind = item->kindName();
    v.shown = w->isVisible();
    v.enabled = w->isEnabled();
    v.modal = w->isModal();
    QFont font = w->font();
    v.fontFamily = font.family().toStdString();
    v.fontPixelSize = font.pixelSize();
    v.fontWeight = font.weight();
    v.fontUnderline = font.underline();
    const ControlColors& colors = item->colors();
    v.textColor = Rgb(colors.hasText ? colors.text : w->palette().color(QPalette::WindowText));
    v.transparent = colors.transparent;
    QRect g = w->geometry();
    v.geometry = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
    if (w->isWindow()) {
        v.text = w->windowTitle().toStdString();
        v.hasIcon = !w->windowIcon().isNull();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        v.text = button->text().toStdString();
        auto* box = qobject_cast<QCheckBox*>(w);
        v.check = box != nullptr ? (box->checkState() == Qt::PartiallyChecked ? 2
                                    : box->isChecked()                        ? 1
                                                                              : 0)
                                 : (button->isChecked() ? 1 : 0);
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        v.text = line->text().toStdString();
        v.password = line->echoMode() == QLineEdit::Password;
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        for (int i = 0; i < combo->count(); ++i)
            v.items.push_back(combo->itemText(i).toStdString());
        v.current = combo->currentIndex();
        v.text = combo->currentText().toStdString();
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        for (int i = 0; i < list->count(); ++i) {
            v.items.push_back(list->item(i)->text().toStdString());
            if (list->item(i)->isSelected() && v.current < 0)
                v.current = i;
        }
        v.backgroundColor = Rgb(list->palette().color(QPalette::Base));
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        v.minimum = bar->minimum();
        v.maximum = bar->maximum();
        v.value = bar->value();
        v.barColor = Rgb(bar->palette().color(QPalette::Highlight));
        v.backgroundColor = Rgb(bar->palette().color(QPalette::Base));
    } else {
        v.text = item->shownText().toStdString();
    }
    return v;
}

SIZE ViewScreenSize() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? SIZE{screen->size().width(), screen->size().height()} : SIZE{0, 0};
}

bool GrabWindow(HWND hwnd, const char* pngPath) {
    QWidget* w = WidgetOf(hwnd);
    if (w == nullptr || pngPath == nullptr)
        return false;
    return w->grab().save(QString::fromUtf8(pngPath), "PNG");
}

ShownBox FindShownMessageBox() {
    ShownBox shown;
    QMessageBox* box = OpenBox();
    if (box == nullptr)
        return shown;
    shown.found = true;
    shown.title = box->windowTitle().toStdString();
    shown.text = box->text().toStdString();
    shown.hasIcon = box->icon() != QMessageBox::NoIcon;
    for (QAbstractButton* b : box->buttons())
        shown.buttons.push_back(b->text().toStdString());
    return shown;
}

bool AnswerShownMessageBox(int answer) {
    QMessageBox* box = OpenBox();
    if (box == nullptr)
        return false;
    QMessageBox::StandardButton which;
    switch (answer) {
        case IDOK:
            which = QMessageBox::Ok;
            break;
        case IDCANCEL:
            which = QMessageBox::Cancel;
            break;
        case IDABORT:
            which = QMessageBox::Abort;
            break;
        case IDRETRY:
            which = QMessageBox::Retry;
            break;
        case IDIGNORE:
            which = QMessageBox::Ignore;
            break;
        case IDYES:
            which = QMessageBox::Yes;
            break;
        case IDNO:
            which = QMessageBox::No;
            break;
        default:
            return false;
    }
    QAbstractButton* button = box->button(which);
    if (button == nullptr)
        return false;
    button->click();
    return true;
}

bool AnswerShownFileDialog(const char* nativePath) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog == nullptr || !dialog->isVisible())
            continue;
        if (nativePath == nullptr) {
            dialog->reject();
        } else {
            // What the user does: go to the folder, type the name, press Save.
            QFileInfo chosen(QString::fromUtf8(nativePath));
            dialog->setDirectory(chosen.absolutePath());
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                name->setText(chosen.fileName());
            } else {
                dialog->selectFile(chosen.fileName());
            }
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        }
        return true;
    }
    return false;
}

}  // namespace platform::testing
