#include "platform/registry/registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/handle_table.h"
#include "platform/registry/registry_store.h"

namespace {

using platform::RegistryKeyRef;

// Longest key name component and value name the registry accepts.
const size_t kMaxKeyName = 255;
const size_t kMaxValueName = 16383;

struct OpenKey {
    RegistryKeyRef ref;
    REGSAM access = 0;
};

// Key handles are keys into one table, so a closed or made-up handle is refused, never
// followed.
struct KeyTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, OpenKey> keys;
};

KeyTable& Keys() {
    static KeyTable* table = new KeyTable();  // lives until exit, after every thread
    return *table;
}

int RootIndex(HKEY key) {
    const auto value = reinterpret_cast<uintptr_t>(key);
    const auto first = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    return value >= first && value <= reinterpret_cast<uintptr_t>(HKEY_USERS)
               ? static_cast<int>(value - first)
               : -1;
}

bool Lookup(HKEY key, OpenKey* found) {
    const int root = RootIndex(key);
    if (root >= 0) {
        found->ref = RegistryKeyRef();
        found->ref.root = root;
        found->access = KEY_ALL_ACCESS;
        return true;
    }
    KeyTable& table = Keys();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = table.keys.find(reinterpret_cast<uintptr_t>(key));
    if (it == table.keys.end())
        return false;
    *found = it->second;
    return true;
}

HKEY AddKey(const RegistryKeyRef& ref, REGSAM desired) {
    KeyTable& table = Keys();
    std::lock_guard<std::mutex> guard(table.lock);
    const uintptr_t value = platform::NewHandleNumber(platform::HandleKind::RegistryKey);
    table.keys.emplace(value, OpenKey{ref, desired & MAXIMUM_ALLOWED ? KEY_ALL_ACCESS : desired});
    return reinterpret_cast<HKEY>(value);
}

// The names of a subkey path; empty components (leading, trailing or doubled backslashes)
// are skipped. False when a name is too long.
bool SplitPath(LPCSTR subKey, std::vector<std::string>* components) {
    components->clear();
    if (subKey == nullptr)
        return true;
    for (const char* at = subKey; *at;) {
        const char* end = std::strchr(at, '\\');
        const size_t length = end ? static_cast<size_t>(end - at) : std::strlen(at);
        if (length > kMaxKeyName)
            return false;
        if (length > 0)
            components->emplace_back(at, length);
        at += length;
        if (*at == '\\')
            ++at;
    }
    return true;
}

// The checks both value calls make, in this order: the handle, the arguments, the handle's
// right, the name.
LONG OpenForValue(HKEY key, bool argumentsValid, REGSAM right, LPCSTR name, OpenKey* open,
                  std::string* valueName) {
    if (!Lookup(key, open))
        return ERROR_INVALID_HANDLE;
    if (!argumentsValid)
        return ERROR_INVALID_PARAMETER;
    if ((open->access & right) == 0)
        return ERROR_ACCESS_DENIED;
    *valueName = name ? name : "";
    return valueName->size() <= kMaxValueName ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    if (!Lookup(key, &base))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> components;
    if (!SplitPath(subKey, &components))
        return ERROR_INVALID_PARAMETER;
    RegistryKeyRef opened;
    // Even a new handle to the same key checks that the key still exists.
    const LONG status = platform::StoreOpenKey(base.ref, components, &opened);
    if (status != ERROR_SUCCESS)
        return status;
    *result = AddKey(opened, desired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey base;
    if (!Lookup(key, &base))
        return ERROR_INVALID_HANDLE;
    // Volatile and backup keys are not offered: every key is kept.
    if (subKey == nullptr || options != REG_OPTION_NON_VOLATILE)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> components;
    if (!SplitPath(subKey, &components))
        return ERROR_INVALID_PARAMETER;
    RegistryKeyRef opened;
    bool created = false;
    LONG status = ERROR_SUCCESS;
    if (components.empty()) {
        status = platform::StoreOpenKey(base.ref, components, &opened);
    } else {
        status = platform::StoreCreateKey(
            base.ref, components, (base.access & KEY_CREATE_SUB_KEY) != 0, &opened, &created);
    }
    if (status != ERROR_SUCCESS)
        return status;
    *result = AddKey(opened, desired);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD cbData) {
    OpenKey open;
    std::string valueName;
    const LONG opened =
        OpenForValue(key, reserved == nullptr && (data == nullptr || cbData != nullptr),
                     KEY_QUERY_VALUE, name, &open, &valueName);
    if (opened != ERROR_SUCCESS)
        return opened;
    DWORD storedType = REG_NONE;
    std::vector<BYTE> stored;
    const LONG status = platform::StoreQueryValue(open.ref, valueName, &storedType, &stored);
    if (status != ERROR_SUCCESS)
        return status;

    if (type)
        *type = storedType;
    if (cbData == nullptr)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(stored.size());
    if (data != nullptr && *cbData < size) {
        *cbData = size;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && size > 0)
        std::memcpy(data, stored.data(), size);
    *cbData = size;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData) {
    OpenKey open;
    std::string valueName;
    const LONG opened =
        OpenForValue(key, data != nullptr || cbData == 0, KEY_SET_VALUE, name, &open, &valueName);
    if (opened != ERROR_SUCCESS)
        return opened;
    return platform::StoreSetValue(open.ref, valueName, type, data, cbData);
}

LONG RegCloseKey(HKEY key) {
    if (RootIndex(key) >= 0)
        return ERROR_SUCCESS;
    KeyTable& table = Keys();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.keys.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                              : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY key) {
    OpenKey open;
    if (!Lookup(key, &open))
        return ERROR_INVALID_HANDLE;
    // Closing the connection checkpoints the store: its main file then holds every value. The
    // next call opens it again.
    platform::CloseRegistryStore();
    return ERROR_SUCCESS;
}

LONG SHDeleteKeyA(HKEY key, LPCSTR subKey) {
    OpenKey base;
    if (!Lookup(key, &base))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> components;
    if (!SplitPath(subKey, &components))
        return ERROR_INVALID_PARAMETER;
    return platform::StoreDeleteTree(base.ref, components);
}
