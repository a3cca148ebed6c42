#include "platform/afx/file_dialog.h"

#include <unistd.h>

#include <cstring>

#include "platform/afx/app.h"
#include "platform/base/path.h"
#include "platform/window/message_box.h"
#include "platform/window/ui_queue.h"
#include "platform/window/window_model.h"

namespace {

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// The extension a filter pattern names: "*.exe" names "exe"; "*.*", "*" or "*.a;*.b" none.
std::string SuffixOfPattern(const std::string& pattern) {
    if (pattern.find(';') != std::string::npos || pattern.rfind("*.", 0) != 0)
        return {};
    std::string ext = pattern.substr(2);
    return HasWildcard(ext) ? std::string() : ext;
}

std::string CleanDefaultExtension(std::string ext) {
    while (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    return HasWildcard(ext) ? std::string() : ext;
}

std::vector<platform::FileDialogFilter> ParseFilters(const char* zeroSeparated,
                                                     const std::string& fallbackSuffix) {
    std::vector<platform::FileDialogFilter> out;
    if (zeroSeparated == nullptr)
        return out;
    for (const char* p = zeroSeparated; *p != '\0';) {
        std::string name = p;
        p += name.size() + 1;
        if (*p == '\0')
            break;
        std::string pattern = p;
        p += pattern.size() + 1;
        std::string patterns = pattern;
        for (char& c : patterns) {
            if (c == ';')
                c = ' ';
        }
        std::string suffix = SuffixOfPattern(pattern);
        out.push_back({name + " (" + patterns + ")", suffix.empty() ? fallbackSuffix : suffix});
    }
    return out;
}

std::string CurrentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("/");
}

// The dialog in the view's terms: the filters parsed, the initial folder and name split.
platform::FileDialogRequest RequestOf(const platform::SaveAsCall& call, const OPENFILENAMEA& ofn) {
    platform::FileDialogRequest request;
    request.owner = call.owner;
    request.openFile = call.openFile;
    std::string suffix = CleanDefaultExtension(call.defaultExtension);
    request.defaultSuffix = suffix;
    request.filters = ParseFilters(ofn.lpstrFilter, suffix);
    request.selectedFilter = ofn.nFilterIndex > 0 ? static_cast<int>(ofn.nFilterIndex) - 1 : 0;
    std::string native = platform::ToNativePath(call.fileName.c_str());
    size_t slash = native.rfind('/');
    if (slash != std::string::npos) {
        request.initialFolder = native.substr(0, slash + 1);
        request.initialName = native.substr(slash + 1);
    } else {
        request.initialFolder = ofn.lpstrInitialDir != nullptr
                                    ? platform::ToNativePath(ofn.lpstrInitialDir)
                                    : CurrentFolder();
        request.initialName = native;
    }
    request.title = ofn.lpstrTitle != nullptr ? ofn.lpstrTitle : "";
    request.overwritePrompt = (ofn.Flags & OFN_OVERWRITEPROMPT) != 0;
    request.fileMustExist = (ofn.Flags & OFN_FILEMUSTEXIST) != 0;
    return request;
}

}  // namespace

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension, LPCSTR fileName, DWORD flags,
                         LPCSTR filter, CWnd* parent, DWORD, BOOL)
    : CDialog(0, parent), m_ofn{}, m_bOpenFileDialog(openFileDialog), file_{} {
    m_ofn.lStructSize = sizeof(m_ofn);
    filterAsGiven_ = filter != nullptr ? filter : "";
    filter_ = filterAsGiven_;
    for (char& c : filter_) {
        if (c == '|')
            c = '\0';
    }
    filter_.push_back('\0');
    filter_.push_back('\0');
    m_ofn.lpstrFilter = filterAsGiven_.empty() ? nullptr : filter_.data();
    m_ofn.nFilterIndex = 1;
    if (fileName != nullptr)
        std::snprintf(file_, sizeof file_, "%s", fileName);
    m_ofn.lpstrFile = file_;
    m_ofn.nMaxFile = MAX_PATH;
    if (defaultExtension != nullptr) {
        defaultExtension_ = defaultExtension;
        m_ofn.lpstrDefExt = defaultExtension_.c_str();
    }
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
}

INT_PTR CFileDialog::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : m_ofn.hwndOwner;
    if (owner == nullptr && AfxGetMainWnd() != nullptr)
        owner = AfxGetMainWnd()->GetSafeHwnd();
    owner = platform::TopLevelOf(owner);

    platform::SaveAsCall call;
    call.owner = owner;
    call.openFile = m_bOpenFileDialog != FALSE;
    call.defaultExtension = m_ofn.lpstrDefExt != nullptr ? m_ofn.lpstrDefExt : "";
    call.fileName = m_ofn.lpstrFile != nullptr ? m_ofn.lpstrFile : "";
    call.filter = filterAsGiven_;
    call.flags = m_ofn.Flags;
    call.dialog = RequestOf(call, m_ofn);

    std::string chosen;
    LRESULT result = platform::RunOnUiThread(
        [&]() -> int {
            platform::DialogPresenter* presenter = platform::InstalledDialogPresenter();
            if (presenter == nullptr)
                return IDCANCEL;
            platform::SaveAsAnswer answer = presenter->ShowSaveAs(call);
            chosen = answer.path;
            return static_cast<int>(answer.result);
        },
        IDCANCEL);
    if (result != IDOK)
        return IDCANCEL;
    // Windows fails a choice that does not fit the caller's buffer.
    if (m_ofn.lpstrFile == nullptr || chosen.empty() || chosen.size() >= m_ofn.nMaxFile) {
        return IDCANCEL;
    }
    std::memcpy(m_ofn.lpstrFile, chosen.c_str(), chosen.size() + 1);
    size_t name = chosen.rfind('\\');
    name = name == std::string::npos ? 0 : name + 1;
    size_t dot = chosen.rfind('.');
    m_ofn.nFileOffset = static_cast<WORD>(name);
    m_ofn.nFileExtension =
        static_cast<WORD>(dot != std::string::npos && dot >= name ? dot + 1 : chosen.size());
    return IDOK;
}

CString CFileDialog::GetPathName() const {
    return CString(m_ofn.lpstrFile);
}

CString CFileDialog::GetFileName() const {
    CString path = GetPathName();
    return path.Mid(path.ReverseFind('\\') + 1);
}

CString CFileDialog::GetFileExt() const {
    CString name = GetFileName();
    int dot = name.ReverseFind('.');
    return dot < 0 ? CString() : name.Mid(dot + 1);
}

CString CFileDialog::GetFileTitle() const {
    CString name = GetFileName();
    int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

CString CFileDialog::GetFolderPath() const {
    CString path = GetPathName();
    int slash = path.ReverseFind('\\');
    return slash < 0 ? CString() : path.Left(slash);
}
