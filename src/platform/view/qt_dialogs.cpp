// The real message box and file dialog, on the user-interface thread. The box is owned by
// (and modal to) its owner's window, shows the caption exactly as given (an empty caption
// stays empty: no default title), plain text, and an icon only when the type asks for one.
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform/base/path.h"
#include "platform/view/qt_view.h"
#include "platform/view/qt_view_widgets.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"

namespace platform {

namespace {

struct BoxButton {
    QMessageBox::StandardButton button;
    int answer;
};

std::vector<BoxButton> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        case MB_ABORTRETRYIGNORE:
            return {{QMessageBox::Abort, IDABORT},
                    {QMessageBox::Retry, IDRETRY},
                    {QMessageBox::Ignore, IDIGNORE}};
        case MB_YESNOCANCEL:
            return {{QMessageBox::Yes, IDYES},
                    {QMessageBox::No, IDNO},
                    {QMessageBox::Cancel, IDCANCEL}};
        case MB_YESNO:
            return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        case MB_RETRYCANCEL:
            return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        default:
            return {{QMessageBox::Ok, IDOK}};
    }
}

QMessageBox::Icon IconOf(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONASTERISK:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int ShowQtMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    QWidget* parent = owner != nullptr ? WidgetOf(TopLevelOf(owner)) : nullptr;
    QMessageBox box(parent);
    box.setWindowTitle(FromUtf8(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(FromUtf8(text));
    box.setIcon(IconOf(type));
    std::vector<BoxButton> buttons = ButtonsOf(type);
    std::vector<QAbstractButton*> made;
    for (const BoxButton& b : buttons)
        made.push_back(box.addButton(b.button));
    size_t defaultIndex = (type & MB_DEFMASK) >> 8;
    if (defaultIndex < made.size()) {
        box.setDefaultButton(static_cast<QPushButton*>(made[defaultIndex]));
    }
    // Esc (and the close box) answer Cancel where there is one, OK alone; Yes/No and
    // Abort/Retry/Ignore must be answered with a button, as on Windows.
    int escape = -1;
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i].answer == IDCANCEL || buttons.size() == 1)
            escape = static_cast<int>(i);
    }
    if (escape >= 0)
        box.setEscapeButton(made[static_cast<size_t>(escape)]);
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    WakeForNestedLoop();
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (size_t i = 0; i < made.size(); ++i) {
        if (made[i] == clicked)
            return buttons[i].answer;
    }
    return escape >= 0 ? buttons[static_cast<size_t>(escape)].answer : buttons.back().answer;
}

bool ShowQtFileDialog(const FileDialogRequest& request, std::string* chosenPath) {
    QWidget* parent = request.owner != nullptr ? WidgetOf(TopLevelOf(request.owner)) : nullptr;
    QFileDialog dialog(parent, FromUtf8(request.title), FromUtf8(request.initialFolder));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(request.openFile ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.openFile && request.fileMustExist ? QFileDialog::ExistingFile
                                                                 : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    QStringList filters;
    for (const FileDialogFilter& f : request.filters)
        filters << FromUtf8(f.nameFilter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        int selected = std::clamp(request.selectedFilter, 0, static_cast<int>(filters.size()) - 1);
        dialog.selectNameFilter(filters[selected]);
        dialog.setDefaultSuffix(FromUtf8(request.filters[static_cast<size_t>(selected)].suffix));
        // The dialog lives only inside this call, so the lambda may refer to its locals.
        QObject::connect(&dialog, &QFileDialog::filterSelected,
                         [&dialog, &filters, &request](const QString& f) {
                             qsizetype i = filters.indexOf(f);
                             if (i >= 0) {
                                 dialog.setDefaultSuffix(
                                     FromUtf8(request.filters[static_cast<size_t>(i)].suffix));
                             }
                         });
    } else {
        dialog.setDefaultSuffix(FromUtf8(request.defaultSuffix));
    }
    if (!request.initialName.empty())
        dialog.selectFile(FromUtf8(request.initialName));
    dialog.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    WakeForNestedLoop();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return false;
    *chosenPath = files.first().toStdString();
    return true;
}

class QtDialogs : public DialogPresenter {
  public:
    int ShowMessageBox(const MessageBoxCall& call) override {
        return ShowQtMessageBox(call.owner, call.text, call.caption, call.type);
    }
    SaveAsAnswer ShowSaveAs(const SaveAsCall& call) override {
        std::string path;
        if (!ShowQtFileDialog(call.dialog, &path))
            return SaveAsAnswer{};
        return SaveAsAnswer{IDOK, ToWindowsPath(path)};
    }
};

}  // namespace

DialogPresenter& QtDialogPresenter() {
    static QtDialogs presenter;
    return presenter;
}

}  // namespace platform
