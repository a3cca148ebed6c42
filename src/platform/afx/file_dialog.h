// CFileDialog: the Open / Save-As dialog. The filter is the class library's form ("Name|*.a;*.b|
// Other|*.*||"); the default extension (without a dot) is appended to a name typed without
// one, the extension of the chosen filter taking precedence when it names exactly one (a
// pattern such as "*.*" names none and appends nothing). OFN_OVERWRITEPROMPT makes the dialog
// itself ask before an existing file is chosen. GetPathName gives the Windows form. The
// current folder of the process is never changed. The real dialog is Qt's own (not the
// desktop's), shown through the dialog presenter of message_box.h.
#pragma once

#include <string>

#include "platform/afx/dialog.h"
#include "platform/base/cstring.h"

#define OFN_READONLY 0x00000001u
#define OFN_OVERWRITEPROMPT 0x00000002u
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_PATHMUSTEXIST 0x00000800u
#define OFN_FILEMUSTEXIST 0x00001000u
#define OFN_CREATEPROMPT 0x00002000u
#define OFN_NOREADONLYRETURN 0x00008000u
#define OFN_EXPLORER 0x00080000u
#define OFN_ENABLESIZING 0x00800000u

typedef struct tagOFNA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;  // pairs of zero-terminated texts, ending with an empty one
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;  // 1-based
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    void* lpfnHook;
    LPCSTR lpTemplateName;
} OPENFILENAMEA;
typedef OPENFILENAMEA OPENFILENAME;

class CFileDialog : public CDialog {
  public:
    explicit CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension = nullptr,
                         LPCSTR fileName = nullptr,
                         DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         LPCSTR filter = nullptr, CWnd* parent = nullptr, DWORD size = 0,
                         BOOL vistaStyle = TRUE);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    INT_PTR DoModal() override;

    CString GetPathName() const;
    CString GetFileName() const;
    CString GetFileExt() const;
    CString GetFileTitle() const;
    CString GetFolderPath() const;

    OPENFILENAMEA m_ofn;
    BOOL m_bOpenFileDialog;

  private:
    std::string filter_;  // the zero-separated form m_ofn points to
    std::string filterAsGiven_;
    std::string defaultExtension_;
    char file_[MAX_PATH];
};
