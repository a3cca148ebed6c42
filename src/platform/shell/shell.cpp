// ShellExecuteA, ShellExecuteExW and SHGetSpecialFolderPathA: what the shell of Windows does
// for the application, handed to the desktop (its opener, its authentication prompt, its
// user folders).
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/base/regular_file.h"
#include "platform/base/textconv_internal.h"
#include "platform/base/xdg.h"
#include "platform/kernel/kernel_object.h"
#include "platform/process/process_internal.h"
#include "platform/shell/shell.h"

namespace {

// Any value above 32 tells a start from a failure.
const HINSTANCE kStarted = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));

class DesktopStarter : public platform::ProgramStarter {
  public:
    DWORD OpenDocument(const std::string& target,
                       std::shared_ptr<platform::KernelObject>* process) override {
        platform::ProgramStart start;
        start.program = "xdg-open";
        start.arguments = {"xdg-open", target};
        return Start(start, process);
    }

    DWORD StartElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& folder,
                        std::shared_ptr<platform::KernelObject>* process) override {
        platform::ProgramStart start;
        start.program = "pkexec";
        start.arguments = {"pkexec", program};
        start.arguments.insert(start.arguments.end(), arguments.begin(), arguments.end());
        start.folder = folder;
        return Start(start, process);
    }

  private:
    static DWORD Start(const platform::ProgramStart& start,
                       std::shared_ptr<platform::KernelObject>* process) {
        platform::StartedProcess started;
        const DWORD error = platform::StartDetached(start, &started);
        // The helper itself missing means the desktop cannot do this at all.
        if (error == ERROR_FILE_NOT_FOUND)
            return ERROR_NO_ASSOCIATION;
        if (error == ERROR_SUCCESS && process)
            *process = started.process;
        return error;
    }
};

DesktopStarter g_desktopStarter;
std::atomic<platform::ProgramStarter*> g_starter{nullptr};

platform::ProgramStarter& Starter() {
    platform::ProgramStarter* starter = g_starter.load();
    return starter ? *starter : g_desktopStarter;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "scheme:" with a scheme of two or more characters; a Windows-form path never has one.
bool IsUrl(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon < 2)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

// An absolute native path, so that no name can pass for an option of the helper.
std::string AbsoluteNative(const std::string& windowsPath) {
    return platform::AbsolutePath(platform::ToNativePath(windowsPath.c_str()));
}

DWORD ExistingFile(const std::string& native) {
    struct stat st {};
    return stat(native.c_str(), &st) == 0 ? ERROR_SUCCESS : platform::WindowsErrorFromErrno(errno);
}

// The verbs both shell calls share. Strings are UTF-8, paths in the Windows form.
DWORD ShellStart(const std::string& verb, const std::string& file, const std::string& parameters,
                 const std::string& directory, std::shared_ptr<platform::KernelObject>* process) {
    if (file.empty())
        return ERROR_FILE_NOT_FOUND;
    const std::string action = Lower(verb);
    if (action.empty() || action == "open" || action == "explore") {
        if (IsUrl(file))
            return Starter().OpenDocument(file, process);
        const std::string native = AbsoluteNative(file);
        const DWORD missing = ExistingFile(native);
        if (missing != ERROR_SUCCESS)
            return missing;
        return Starter().OpenDocument(native, process);
    }
    if (action == "runas") {
        const std::string native = AbsoluteNative(file);
        const DWORD missing = ExistingFile(native);
        if (missing != ERROR_SUCCESS)
            return missing;
        platform::MakeOwnerExecutable(native);
        // The prompt executes the program only after the password, and its failure never
        // comes back to us: what the system will not execute (a noexec mount, a file without
        // an execute bit we could give it) is refused here.
        if (access(native.c_str(), X_OK) != 0)
            return platform::WindowsErrorFromErrno(errno);
        const std::string folder =
            directory.empty() ? std::string() : platform::ToNativePath(directory.c_str());
        return Starter().StartElevated(native, platform::SplitArguments(parameters), folder,
                                       process);
    }
    return ERROR_NO_ASSOCIATION;
}

INT_PTR ShellErrorCode(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return SE_ERR_FNF;
        case ERROR_PATH_NOT_FOUND:
            return SE_ERR_PNF;
        case ERROR_ACCESS_DENIED:
        case ERROR_CANCELLED:
            return SE_ERR_ACCESSDENIED;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return SE_ERR_OOM;
        case ERROR_SHARING_VIOLATION:
            return SE_ERR_SHARE;
        default:
            return SE_ERR_NOASSOC;
    }
}

std::string Text(LPCSTR text) {
    return text ? std::string(text) : std::string();
}
std::string Text(LPCWSTR text) {
    return platform::Utf8FromWide(text);
}

// Reads XDG_DESKTOP_DIR from a user-dirs.dirs file: lines of NAME="VALUE" as a shell reads
// them, the value "$HOME/..." or absolute; the last valid line wins.
std::string DesktopFromUserDirs(const std::string& file, const std::string& home) {
    std::string text;
    const int fd = platform::OpenRegularFile(file, nullptr);
    if (fd >= 0) {
        platform::ReadRest(fd, &text);
        close(fd);
    }
    std::istringstream in(text);
    std::string line, found;
    const std::string key = "XDG_DESKTOP_DIR=";
    while (std::getline(in, line)) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line.compare(at, key.size(), key) != 0)
            continue;
        at += key.size();
        std::string value;
        if (at < line.size() && line[at] == '"') {
            bool closed = false;
            for (++at; at < line.size(); ++at) {
                if (line[at] == '"') {
                    closed = true;
                    break;
                }
                if (line[at] == '\\' && at + 1 < line.size())
                    ++at;
                value += line[at];
            }
            if (!closed)
                continue;
        } else {
            const size_t end = line.find_first_of(" \t#", at);
            value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        }
        for (const std::string prefix : {"$HOME", "${HOME}"}) {
            if (value.compare(0, prefix.size(), prefix) == 0 &&
                (value.size() == prefix.size() || value[prefix.size()] == '/')) {
                value = home + value.substr(prefix.size());
                break;
            }
        }
        if (value.empty() || value[0] != '/')
            continue;  // relative: not a valid entry
        found = value;
    }
    return found;
}

// The desktop folder, native, without a trailing '/'.
std::string DesktopFolder() {
    const std::string home = platform::HomeFolder();
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    const std::string config =
        configured && configured[0] == '/' ? std::string(configured) : home + "/.config";
    std::string desktop = DesktopFromUserDirs(config + "/user-dirs.dirs", home);
    if (desktop.empty())
        desktop = home + "/Desktop";
    while (desktop.size() > 1 && desktop.back() == '/')
        desktop.pop_back();
    return desktop;
}

}  // namespace

platform::ProgramStarter* platform::SetProgramStarter(ProgramStarter* starter) {
    return g_starter.exchange(starter);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    std::shared_ptr<platform::KernelObject> process;
    const DWORD error = ShellStart(Text(info->lpVerb), Text(info->lpFile), Text(info->lpParameters),
                                   Text(info->lpDirectory), &process);
    if (error != ERROR_SUCCESS) {
        info->hInstApp = reinterpret_cast<HINSTANCE>(ShellErrorCode(error));
        SetLastError(error);
        return FALSE;
    }
    info->hInstApp = kStarted;
    if ((info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0 && process) {
        info->hProcess = platform::NewHandle(std::move(process));
    }
    return TRUE;
}

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        INT show) {
    const DWORD error =
        ShellStart(Text(verb), Text(file), Text(parameters), Text(directory), nullptr);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return reinterpret_cast<HINSTANCE>(ShellErrorCode(error));
    }
    return kStarted;
}

BOOL SHGetSpecialFolderPathA(HWND hwnd, LPSTR path, int csidl, BOOL create) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    path[0] = '\0';
    if (csidl != CSIDL_DESKTOP && csidl != CSIDL_DESKTOPDIRECTORY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string native = DesktopFolder();
    const std::string windows = platform::ToWindowsPath(native);
    if (windows.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (create && !platform::MakeFolders(native, 0755)) {
        SetLastError(platform::WindowsErrorFromErrno(errno));
        return FALSE;
    }
    platform::CopyToBuffer(windows, path, MAX_PATH);
    return TRUE;
}
