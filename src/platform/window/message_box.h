// Message boxes: owned by `owner` (modal to it), with the caption as given (an empty caption
// stays empty; NULL gives "Error"), and no icon unless the type asks for one. Asked for on a
// worker thread, the box is shown by the user-interface thread while the worker waits for the
// answer. 0 when the owner is stale, no user interface runs, or showing a worker's box failed.
//
// What shows the boxes, and CFileDialog's file dialog, is the installed DialogPresenter: the
// view installs its own Qt dialogs when the user interface starts, and tests their own.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/window/winuser_constants.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#define MessageBox MessageBoxA

namespace platform {

struct MessageBoxCall {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    bool fromWorker = false;  // asked for on a thread other than the user-interface thread
};

// The file dialog in the view's terms.
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

// CFileDialog's dialog as the application asked for it, and as the view shows it.
struct SaveAsCall {
    HWND owner = nullptr;
    bool openFile = false;
    std::string defaultExtension;
    std::string fileName;
    std::string filter;  // as the application gave it ("*.exe|*.exe||")
    DWORD flags = 0;
    FileDialogRequest dialog;
};

struct SaveAsAnswer {
    INT_PTR result = IDCANCEL;
    std::string path;  // Windows form, as GetPathName gives it back
};

// Called ON THE USER-INTERFACE THREAD, where the box would be shown (also for the boxes that
// workers ask for); it may pump the user-interface queue before it answers, as a box that
// stays open while messages arrive does.
class DialogPresenter {
  public:
    virtual ~DialogPresenter() = default;
    // IDOK, IDCANCEL, IDYES... as the user answered.
    virtual int ShowMessageBox(const MessageBoxCall& call) = 0;
    virtual SaveAsAnswer ShowSaveAs(const SaveAsCall& call) = 0;
};

// Installs `presenter` for the process (the caller keeps it alive meanwhile) and returns the
// one it replaces. With none, every box answers 0 and every file dialog IDCANCEL.
DialogPresenter* SetDialogPresenter(DialogPresenter* presenter);
DialogPresenter* InstalledDialogPresenter();

}  // namespace platform
