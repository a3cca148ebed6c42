#include "platform/modules/resources.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/cstring.h"
#include "platform/base/handle_table.h"
#include "platform/base/lasterror.h"
#include "platform/base/path.h"
#include "platform/modules/library_file.h"
#include "platform/modules/res_parser.h"

namespace platform {
namespace {

// The symbols of a resource library: the .res bytes and their count.
constexpr const char* kDataSymbol = "zelv_resource_data";
constexpr const char* kSizeSymbol = "zelv_resource_size";

struct Icon {
    std::vector<IconImage> images;
};

struct Module {
    void* library = nullptr;
    std::vector<uint8_t> bytes;  // the blob of a module made in memory
    int references = 1;
    std::vector<res::Entry> entries;  // point into the library, which lives as long as this
    std::map<std::string, HICON> icons;

    ~Module() {
        if (library != nullptr)
            dlclose(library);
    }
};

// Handles are numbers, never addresses, so a stale one cannot reach freed memory.
struct Registry {
    std::mutex mutex;
    std::map<HMODULE, std::shared_ptr<Module>> modules;
    std::map<HICON, std::shared_ptr<Icon>> icons;
};

Registry& registry() {
    static Registry* r = new Registry;  // lives to the end of the process, past static clean-up
    return *r;
}

std::atomic<HINSTANCE> g_resourceModule{nullptr};

std::shared_ptr<Module> ModuleOf(HINSTANCE handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.modules.find(handle);
    return it == r.modules.end() ? nullptr : it->second;
}

// The resources of a module; null (with the last error set) for the executable's NULL handle,
// which holds none, and for a handle that is no module.
std::shared_ptr<Module> ResourceModule(HINSTANCE handle) {
    if (handle == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    std::shared_ptr<Module> module = ModuleOf(handle);
    if (module == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return module;
}

res::Name NameOf(LPCSTR name) {
    res::Name out;
    if (IS_INTRESOURCE(name)) {
        out.isOrdinal = true;
        out.ordinal = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
        return out;
    }
    const std::string text(name);
    // "#128" names ordinal 128, as the class library's callers expect.
    if (text.size() > 1 && text[0] == '#' &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        text.size() <= 6) {
        const unsigned long value = std::stoul(text.substr(1));
        if (value <= 0xFFFF) {
            out.isOrdinal = true;
            out.ordinal = static_cast<WORD>(value);
            return out;
        }
    }
    out.text = text;
    return out;
}

res::Name Ordinal(WORD value) {
    res::Name out;
    out.isOrdinal = true;
    out.ordinal = value;
    return out;
}

std::vector<IconImage> DecodeGroup(const Module& module, const res::Entry& group) {
    std::vector<IconImage> images;
    const auto items = res::ParseGroupIcon(group.data, group.size);
    if (!items)
        return images;
    for (const res::GroupIconItem& item : *items) {
        const res::Entry* entry =
            res::FindEntry(module.entries, res::kTypeIcon, Ordinal(item.iconId));
        if (entry == nullptr)
            continue;
        // PNG images (the large sizes) are left out; the bitmap sizes serve every use here.
        if (auto image = res::DecodeIconImage(entry->data, entry->size)) {
            images.push_back(std::move(*image));
        }
    }
    return images;
}

// Windows looks for a bare name in the executable's folder first. The executable's RUNPATH of
// $ORIGIN does the same, but only for a dlopen called from the executable itself, which a
// sanitizer's interceptor is not; so that folder is tried here, then the folders of
// LD_LIBRARY_PATH, which the system's loader would try next: a file found in either is checked
// and opened here, never waited on. Only a name found in neither goes to the system's search
// of its own folders.
std::string SearchedName(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    std::vector<std::string> folders;
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0) {
        std::string beside(exe, static_cast<size_t>(length));
        folders.push_back(beside.erase(beside.rfind('/')));
    }
    // The loader takes ':' and ';' as separators and an empty entry as the current folder;
    // entries with its $ tokens are left to it.
    const char* searched = getenv("LD_LIBRARY_PATH");
    const std::string list = searched != nullptr ? searched : "";
    for (size_t at = 0; !list.empty() && at <= list.size();) {
        const size_t end = std::min(list.find_first_of(":;", at), list.size());
        const std::string folder = list.substr(at, end - at);
        if (folder.find('$') == std::string::npos)
            folders.push_back(folder.empty() ? "." : folder);
        at = end + 1;
    }
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), F_OK) == 0)
            return candidate;
    }
    return name;
}

// A malformed blob leaves a module without resources, as a library without one is.
void ParseInto(Module& module, const uint8_t* data, size_t size) {
    if (auto entries = res::ParseResFile(data, size))
        module.entries = std::move(*entries);
}

// A library loaded again (dlopen gives the same handle) keeps its first module and handle,
// which counts one more reference; the new module then only closes its extra dlopen reference.
HMODULE Register(std::shared_ptr<Module> module) {
    Registry& r = registry();
    std::shared_ptr<Module> duplicate;  // released after the lock
    std::lock_guard<std::mutex> lock(r.mutex);
    if (module->library != nullptr) {
        for (auto& [handle, existing] : r.modules) {
            if (existing->library == module->library) {
                ++existing->references;
                duplicate = std::move(module);
                return handle;
            }
        }
    }
    auto handle = reinterpret_cast<HMODULE>(NewHandleNumber(HandleKind::Module));
    r.modules.emplace(handle, std::move(module));
    return handle;
}

}  // namespace

HMODULE LoadResourceModuleFromBytes(std::vector<uint8_t> blob) {
    auto module = std::make_shared<Module>();
    module->bytes = std::move(blob);
    ParseInto(*module, module->bytes.data(), module->bytes.size());
    return Register(std::move(module));
}

std::optional<std::string> FindResourceString(HINSTANCE handle, UINT id) {
    std::shared_ptr<Module> module = ResourceModule(handle);
    if (module == nullptr)
        return std::nullopt;
    // Strings come in blocks of sixteen; block n + 1 holds ids 16n to 16n + 15.
    const res::Entry* block = id <= 0xFFFF
                                  ? res::FindEntry(module->entries, res::kTypeString,
                                                   Ordinal(static_cast<WORD>((id >> 4) + 1)))
                                  : nullptr;
    std::optional<std::string> text;
    if (block != nullptr)
        text = res::StringFromBlock(block->data, block->size, id & 15);
    if (!text)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return text;
}

std::optional<DialogTemplate> FindDialogTemplate(HINSTANCE handle, UINT id) {
    std::shared_ptr<Module> module = ResourceModule(handle);
    if (module == nullptr)
        return std::nullopt;
    const res::Entry* entry = id <= 0xFFFF ? res::FindEntry(module->entries, res::kTypeDialog,
                                                            Ordinal(static_cast<WORD>(id)))
                                           : nullptr;
    if (entry == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return std::nullopt;
    }
    std::optional<DialogTemplate> parsed = res::ParseDialog(entry->data, entry->size);
    if (!parsed)
        SetLastError(ERROR_INVALID_DATA);
    return parsed;
}

const std::vector<IconImage>* IconImages(HICON icon) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.icons.find(icon);
    return it == r.icons.end() ? nullptr : &it->second->images;
}

}  // namespace platform

using platform::Module;
using platform::registry;

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::string name = platform::SearchedName(platform::ToNativePath(fileName));
    void* library = nullptr;
    if (name.find('/') == std::string::npos) {
        library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);  // the system's own search
    } else {
        // The file checked is the file loaded: the loader opens it through the descriptor.
        const int fd = platform::OpenLoadableLibrary(name);
        if (fd >= 0) {
            const std::string opened = "/proc/self/fd/" + std::to_string(fd);
            library = dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
            close(fd);
        }
    }
    if (library == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }

    auto module = std::make_shared<Module>();
    module->library = library;
    const auto* data = static_cast<const uint8_t*>(dlsym(library, platform::kDataSymbol));
    const auto* size = static_cast<const uint32_t*>(dlsym(library, platform::kSizeSymbol));
    if (data != nullptr && size != nullptr)
        platform::ParseInto(*module, data, *size);
    return platform::Register(std::move(module));
}

BOOL FreeLibrary(HMODULE handle) {
    platform::Registry& r = registry();
    std::shared_ptr<Module> last;  // closed after the lock is released
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.modules.find(handle);
        if (it == r.modules.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--it->second->references > 0)
            return TRUE;
        last = std::move(it->second);
        r.modules.erase(it);
        for (const auto& [name, icon] : last->icons)
            r.icons.erase(icon);
    }
    return TRUE;
}

void AfxSetResourceHandle(HINSTANCE module) {
    platform::g_resourceModule.store(module);
}

HINSTANCE AfxGetResourceHandle() {
    return platform::g_resourceModule.load();
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    const std::optional<std::string> text = platform::FindResourceString(module, id);
    if (!text || text->empty()) {
        if (text)
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t length = std::min(text->size(), static_cast<size_t>(bufferMax) - 1);
    // A cut never splits a UTF-8 sequence: back up over its continuation bytes.
    if (length < text->size()) {
        while (length > 0 && (static_cast<unsigned char>((*text)[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    text->copy(buffer, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

HICON LoadIconA(HINSTANCE handle, LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<Module> module = platform::ResourceModule(handle);
    if (module == nullptr)
        return nullptr;
    const platform::res::Name key = platform::NameOf(name);
    std::string cacheKey = key.isOrdinal ? "#" + std::to_string(key.ordinal) : key.text;
    for (char& c : cacheKey) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }

    platform::Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto cached = module->icons.find(cacheKey);
        if (cached != module->icons.end())
            return cached->second;
    }
    // Decoded outside the lock that every resource look-up takes; a module's entries never
    // change once it is registered.
    const platform::res::Entry* group =
        platform::res::FindEntry(module->entries, platform::res::kTypeGroupIcon, key);
    if (group == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto icon = std::make_shared<platform::Icon>();
    icon->images = platform::DecodeGroup(*module, *group);
    if (icon->images.empty()) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(r.mutex);
    // Another thread may have made it meanwhile; every call gives the same icon.
    auto cached = module->icons.find(cacheKey);
    if (cached != module->icons.end())
        return cached->second;
    // A module freed meanwhile is out of the table: its icon would never be released.
    if (r.modules.count(handle) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto result = reinterpret_cast<HICON>(platform::NewHandleNumber(platform::HandleKind::Icon));
    r.icons.emplace(result, std::move(icon));
    module->icons.emplace(cacheKey, result);
    return result;
}

BOOL CString::LoadString(UINT id) {
    const std::optional<std::string> text =
        platform::FindResourceString(AfxGetResourceHandle(), id);
    if (!text || text->empty())
        return FALSE;
    *this = text->c_str();
    return TRUE;
}
