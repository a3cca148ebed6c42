// The registry's storage: one SQLite database per user, under the layer's state folder. Internal
// to the layer; the application sees the Reg* calls of registry.h.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"

namespace platform {

// What an open key refers to: its tree and path, and the row it was opened on, so that a key
// deleted meanwhile (and perhaps made again under the same name) is told apart from it.
struct RegistryKeyRef {
    int root = 0;       // 0 to 3: the index of the root HKEY
    std::string path;   // the components joined by '\'; empty for the root itself
    long long id = 0;   // 0 for the root itself
    std::string store;  // the database the row belongs to; empty for the root itself
};

// The longest a call waits for another process's write lock. Once such a wait has run out, calls
// fail at once (ERROR_LOCK_VIOLATION) when the lock is held, until a write gets through again.
constexpr int kRegistryBusyTimeoutMs = 1500;

// Every call returns ERROR_SUCCESS or a Windows error code; a `base` whose key no longer exists
// gives ERROR_KEY_DELETED. `components` are non-empty names below `base`; none names `base`.
LONG StoreOpenKey(const RegistryKeyRef& base, const std::vector<std::string>& components,
                  RegistryKeyRef* opened);
// Creates the missing keys down the path in one transaction; `mayCreate` false refuses to make
// any (ERROR_ACCESS_DENIED) but still opens an existing key.
LONG StoreCreateKey(const RegistryKeyRef& base, const std::vector<std::string>& components,
                    bool mayCreate, RegistryKeyRef* opened, bool* created);
LONG StoreQueryValue(const RegistryKeyRef& key, const std::string& name, DWORD* type,
                     std::vector<BYTE>* data);
LONG StoreSetValue(const RegistryKeyRef& key, const std::string& name, DWORD type, const BYTE* data,
                   DWORD size);
// Deletes the key named by `components` below `base` (or `base` itself when they are empty),
// with its values and its whole subtree, in one transaction. A root itself is never deleted.
LONG StoreDeleteTree(const RegistryKeyRef& base, const std::vector<std::string>& components);

// The database's path for the current environment.
std::string RegistryDatabasePath();
// Waits for another process's write lock that ran out, since the process started.
unsigned RegistryWaitsRunOut();
// Closes the cached connection; the next call opens the database again.
void CloseRegistryStore();
// True when the database opens and passes SQLite's integrity check.
bool RegistryStoreIntact();

}  // namespace platform
