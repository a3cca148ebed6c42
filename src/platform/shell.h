// Processes, the shell, the system version, the process token and text conversion.
//
// Programs started here are detached: they run in a session of their own, read /dev/null as
// input and outlive the downloader. Paths are in the Windows form (see platform/path.h);
// arguments on a command line are handed over unchanged. WCHAR is a 32-bit code point, and the
// ANSI code page is UTF-8.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/kernel_object.h"
#include "platform/types.h"

typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;

#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif
#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif
#ifndef ERROR_NO_ASSOCIATION
#define ERROR_NO_ASSOCIATION 1155L
#endif

// ---- Processes

#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_NO_WINDOW 0x08000000u

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;  // signalled when the program has ended
    HANDLE hThread;   // the same program: it has no thread of its own to wait for here
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program. Without `app`, the program is the first item of `cmdLine`, split by the
// Windows rules; a bare name is looked up in PATH. A started file that lacks its owner's
// execute bit gets it. Without `inherit`, the program gets none of the caller's open files and
// writes its output to /dev/null. `env` is a Windows environment block ("k=v\0...\0"), wide
// with CREATE_UNICODE_ENVIRONMENT. A program that cannot be started fails the call with its
// reason (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT, ERROR_DIRECTORY).
BOOL CreateProcessW(LPCWSTR app, LPWSTR cmdLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID env,
                    LPCWSTR dir, LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInfo);

// ---- Shell

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

// ---- Version

#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION 1

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

// Reports version 6.1, a system with token elevation; the build is the kernel's release as
// (major << 16) + (minor << 8) + patch. The size field must name one of the two records, else
// FALSE with ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// ---- Process token

#define TOKEN_QUERY 0x0008u
#define STANDARD_RIGHTS_READ 0x00020000u
#define TOKEN_READ (STANDARD_RIGHTS_READ | TOKEN_QUERY)

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenElevationType = 18,
    TokenElevation = 20,
} TOKEN_INFORMATION_CLASS;

typedef enum _TOKEN_ELEVATION_TYPE {
    TokenElevationTypeDefault = 1,
    TokenElevationTypeFull = 2,
    TokenElevationTypeLimited = 3,
} TOKEN_ELEVATION_TYPE;

typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION;

// Only the own process (GetCurrentProcess, or a duplicate of it) has a token here. The token
// holds the identity as it was when it was opened.
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
// TokenElevationType: full for root, limited for a user in the group sudo, wheel or admin (one
// who may become administrator), default otherwise. TokenElevation: elevated for root.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD length,
                         PDWORD returnLength);

// ---- Text conversion

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001u
#define MB_COMPOSITE 0x00000002u
#define MB_USEGLYPHCHARS 0x00000004u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

// Every ANSI code page is UTF-8. srcLen -1 converts up to and including the terminating zero;
// dstLen 0 returns the size needed; a buffer too small gets nothing and the call gives 0 with
// ERROR_INSUFFICIENT_BUFFER. Invalid input becomes U+FFFD, or fails with
// ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

namespace platform {

// UTF-8 <-> code points; invalid input becomes U+FFFD.
std::string Utf8FromWide(const wchar_t* text, size_t length);
std::string Utf8FromWide(const wchar_t* text);
std::wstring WideFromUtf8(const char* text, size_t length);

// A command line split by the Windows rules: the program name runs to its closing quote or to
// the first blank; then blanks separate arguments, quotes group them, 2n backslashes before a
// quote give n backslashes and the quote's effect, 2n+1 give n and a literal quote, "" inside
// quotes gives a literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& line);
// Arguments only (the parameters of a shell start), with the argument rules above.
std::vector<std::string> SplitArguments(const std::string& text);

// A detached start. `program` is a native path (a relative one is taken from the caller's
// current folder) or a bare name looked up in PATH; `arguments` includes argv[0].
struct ProgramStart {
    std::string program;
    std::vector<std::string> arguments;
    std::string folder;  // the program's current folder; empty: the caller's
    bool keepOpenFiles = false;
    bool ownEnvironment = false;  // use `environment` instead of the caller's
    std::vector<std::string> environment;
};
struct StartedProcess {
    std::shared_ptr<KernelObject> process;  // signalled when the program has ended
    DWORD id = 0;
};
// ERROR_SUCCESS once the program runs, else the Windows error of the failed start.
DWORD StartDetached(const ProgramStart& start, StartedProcess* started);
// A native path made absolute against the current folder (unchanged when that is unknown).
std::string AbsolutePath(const std::string& path);
// Gives a regular file its owner's execute bit when it lacks it.
void MakeOwnerExecutable(const std::string& nativePath);

// What the shell hands to the desktop. Tests install their own to record what would start.
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
// nullptr restores the desktop's own: xdg-open and pkexec, found in PATH.
void SetProgramStarter(ProgramStarter* starter);

// Who the process runs as, for the token.
struct ProcessIdentity {
    unsigned effectiveUid = 0;
    std::vector<std::string> groups;  // group names; the real source lists the admin groups held
};
class IdentitySource {
  public:
    virtual ~IdentitySource() = default;
    virtual ProcessIdentity Current() = 0;
};
// nullptr restores the real identity.
void SetIdentitySource(IdentitySource* source);
TOKEN_ELEVATION_TYPE ElevationTypeOf(const ProcessIdentity& identity);

// The desktop folder, native, without a trailing '/'.
std::string DesktopFolder();

}  // namespace platform
