// The shell: ShellExecuteA, ShellExecuteExW and SHGetSpecialFolderPathA, handed to the
// desktop (its opener, its authentication prompt, its user folders). Paths are in the Windows
// form (see platform/base/path.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/base/types.h"

#ifndef ERROR_NO_ASSOCIATION
#define ERROR_NO_ASSOCIATION 1155L
#endif

#define SEE_MASK_DEFAULT 0x00000000u
#define SEE_MASK_NOCLOSEPROCESS 0x00000040u
#define SEE_MASK_FLAG_NO_UI 0x00000400u

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_SHARE 26
#define SE_ERR_NOASSOC 31

typedef struct _SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;  // > 32 after a start, else an SE_ERR_ code
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;  // with SEE_MASK_NOCLOSEPROCESS: the started program, when there is one
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;

// Verbs: "open" (or none) hands a URL, document or folder to the desktop's opener; "runas"
// starts the program as administrator through the desktop's authentication prompt, with
// lpParameters split by the Windows rules. The opener's and the prompt's own outcome is not
// waited for: success means they were started.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
// The same verbs; returns a value above 32 on success, else an SE_ERR_ code.
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        INT show);

#define CSIDL_DESKTOP 0x0000
#define CSIDL_DESKTOPDIRECTORY 0x0010

// The user's desktop folder (XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop) in the Windows
// form without a trailing '\', into a buffer of MAX_PATH characters. The folder is made only
// when `create` is set; a missing folder is still named. Other folders: FALSE.
BOOL SHGetSpecialFolderPathA(HWND hwnd, LPSTR path, int csidl, BOOL create);

namespace platform {

class KernelObject;

// What the shell hands to the desktop.
class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    // Opens a URL, or a document or folder (absolute native path), with the default handler.
    virtual DWORD OpenDocument(const std::string& target,
                               std::shared_ptr<KernelObject>* process) = 0;
    // Starts `program` (absolute native path) as administrator, detached.
    virtual DWORD StartElevated(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const std::string& folder,
                                std::shared_ptr<KernelObject>* process) = 0;
};

// Installs `starter` (the caller keeps it alive meanwhile; null: the desktop's own, xdg-open
// and pkexec found in PATH) and returns the one it replaces.
ProgramStarter* SetProgramStarter(ProgramStarter* starter);

}  // namespace platform
