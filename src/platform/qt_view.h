// The Qt view's entry points for the rest of the layer (internal, free of Qt types). The view
// follows the window model on the user-interface thread: one top-level widget per dialog, a
// child widget per control, each painting its window's backing image under its own content.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

class QWidget;

namespace platform {

void StartView();
void StopView();
// Brings the widgets up to date with the model now (user-interface thread).
void SyncViewNow();
// The widget of a window, made on demand; null for a stale HWND.
QWidget* WidgetOf(HWND hwnd);

// Cached when the view starts, readable from any thread.
SIZE PrimaryScreenSize();
// Dialog base units of a font as the view maps it: the average width of the 52 Latin letters
// and the line height, in pixels.
SIZE DialogBaseUnits(HFONT font);

// The real dialogs, shown on the user-interface thread.
int ShowQtMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
struct FileDialogFilter {
    std::string nameFilter;  // Qt's form: "Name (*.a *.b)"
    std::string suffix;      // appended to a name without extension; empty for none
};
struct FileDialogRequest {
    HWND owner = nullptr;
    bool openFile = false;
    std::string initialFolder;  // native
    std::string initialName;
    std::vector<FileDialogFilter> filters;
    int selectedFilter = 0;
    std::string defaultSuffix;  // without filters
    std::string title;
    bool overwritePrompt = false;
    bool fileMustExist = false;
};
// True with the chosen native path, false when the user cancelled.
bool ShowQtFileDialog(const FileDialogRequest& request, std::string* chosenPath);

}  // namespace platform
