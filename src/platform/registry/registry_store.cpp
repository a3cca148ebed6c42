#include "platform/registry/registry_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/xdg.h"
#include "platform/registry/registry_damage.h"

namespace platform {

namespace {

// Keys: one row per key, its path unique per tree without regard to ASCII case; a root's own
// row (path '') exists once a value is set on the root. Values: one row per key and name.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " root INTEGER NOT NULL,"
    " path TEXT NOT NULL COLLATE NOCASE,"
    " parent INTEGER REFERENCES keys(id),"
    " UNIQUE(root, path));"
    "CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL REFERENCES keys(id),"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID;";

// How often a wait for another process's write lock tries again.
const int kBusyRetryMs = 10;

struct Store {
    std::mutex lock;
    // After a wait for another process's write lock has run out, calls try once without waiting
    // until a write gets through: a save makes many calls, and each must not wait again.
    bool waitsSuspended = false;
    std::chrono::steady_clock::time_point waitStarted;
    unsigned waitsRunOut = 0;
    sqlite3* db = nullptr;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    pid_t owner = 0;
    // Connections inherited through fork: the parent's, never used or closed here.
    std::vector<sqlite3*> inherited;
};

Store& TheStore() {
    static Store* store = new Store();  // lives until exit, after every thread
    return *store;
}

// SQLite's busy handler for the store's connection; called with the store's lock held.
int WaitForLock(void* arg, int tries) {
    Store& store = *static_cast<Store*>(arg);
    if (store.waitsSuspended)
        return 0;
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0)
        store.waitStarted = now;
    if (now - store.waitStarted >= std::chrono::milliseconds(kRegistryBusyTimeoutMs)) {
        store.waitsSuspended = true;
        ++store.waitsRunOut;
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyRetryMs));
    return 1;
}

LONG ErrorOf(int rc, LONG otherwise) {
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return ERROR_SUCCESS;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return ERROR_REGISTRY_CORRUPT;
        case SQLITE_FULL:
            return ERROR_DISK_FULL;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_TOOBIG:
            return ERROR_INVALID_PARAMETER;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CANTOPEN:
            return ERROR_CANTOPEN;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_LOCK_VIOLATION;
        default:
            return otherwise;
    }
}

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int at, long long value) {
        if (rc_ == SQLITE_OK)
            rc_ = sqlite3_bind_int64(stmt_, at, value);
        return *this;
    }
    Statement& Bind(int at, const std::string& text) {
        if (rc_ == SQLITE_OK) {
            rc_ = sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()),
                                    SQLITE_TRANSIENT);
        }
        return *this;
    }
    Statement& BindBlob(int at, const BYTE* data, DWORD size) {
        if (rc_ != SQLITE_OK)
            return *this;
        // A zero-length blob bound from a null pointer would be stored as NULL.
        if (size == 0) {
            rc_ = sqlite3_bind_zeroblob(stmt_, at, 0);
        } else {
            rc_ = sqlite3_bind_blob64(stmt_, at, data, size, SQLITE_TRANSIENT);
        }
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int Step() {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW)
            return rc_;
        const int rc = sqlite3_step(stmt_);
        if (rc != SQLITE_ROW)
            rc_ = rc == SQLITE_DONE ? SQLITE_DONE : rc;
        return rc;
    }
    long long Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    std::vector<BYTE> Blob(int column) const {
        const auto* bytes = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes ? std::vector<BYTE>(bytes, bytes + size) : std::vector<BYTE>();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// Rolled back unless committed, so that an early return leaves nothing half written.
class Transaction {
  public:
    Transaction(sqlite3* db, bool write) : db_(db) {
        rc_ = sqlite3_exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
        open_ = rc_ == SQLITE_OK;
    }
    ~Transaction() {
        if (open_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    int rc() const { return rc_; }
    int Commit() {
        const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            open_ = false;
        return rc;
    }

  private:
    sqlite3* db_;
    int rc_;
    bool open_;
};

bool SameFile(const std::string& path, dev_t device, ino_t inode) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

void Disconnect(Store& store) {
    // A connection inherited through fork belongs to the parent: closing it here could
    // checkpoint or remove the parent's journal, so the child only forgets it.
    if (store.db && store.owner == getpid()) {
        // Every committed value goes into the database file itself, even while another
        // connection keeps the write-ahead log from being removed at the close.
        sqlite3_exec(store.db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close_v2(store.db);
    } else if (store.db) {
        store.inherited.push_back(store.db);
    }
    store.db = nullptr;
    store.path.clear();
}

// What an open of the database found.
enum class Opened { kOk, kFailed, kDamaged };

bool Damage(int rc) {
    return (rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT;
}

// True when the file at `path` is not a database, or one that is damaged: a file cut short or
// partly overwritten opens, and fails only where a read reaches the damage, so every page is
// looked at once. The look writes nothing into the file and leaves its journal as it is, so
// that a damaged file can be kept as it was found; it reads under the database's locks, so a
// writer in another process is not taken for damage.
bool DamagedDatabase(const std::string& path) {
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(handle, kRegistryBusyTimeoutMs);
    if (rc == SQLITE_OK) {
        Statement check(handle, "PRAGMA quick_check");
        rc = check.Step();
        if (rc == SQLITE_ROW && check.Text(0) != "ok")
            rc = SQLITE_CORRUPT;
    }
    sqlite3_close_v2(handle);
    return Damage(rc);
}

// Opens the database at `path` (making the file when it is missing) with its schema. *error is
// set when it does not open.
Opened OpenDatabase(const std::string& path, sqlite3** db, struct stat* st, LONG* error) {
    // The file may hold a proxy password: made private before SQLite writes anything into
    // it, and tightened when an older file was left readable by others.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        // A folder or a link in the file's place is no database.
        if (errno == EISDIR || errno == ELOOP)
            return Opened::kDamaged;
        *error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
        return Opened::kFailed;
    }
    struct stat opened {};
    const bool regular = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    const bool private_ = regular && fchmod(fd, 0600) == 0;
    // Closed before SQLite opens the file: closing any descriptor of a file drops the POSIX
    // locks SQLite holds on it.
    close(fd);
    if (!regular)
        return Opened::kDamaged;
    if (!private_) {
        *error = ERROR_ACCESS_DENIED;
        return Opened::kFailed;
    }
    if (DamagedDatabase(path))
        return Opened::kDamaged;

    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &handle,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_handler(handle, WaitForLock, &TheStore());
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(handle, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr,
                          nullptr, nullptr);
    }
    if (rc == SQLITE_OK) {
        Transaction schema(handle, true);
        rc = schema.rc();
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(handle, kSchema, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = schema.Commit();
    }
    if (rc == SQLITE_OK && stat(path.c_str(), st) != 0)
        rc = SQLITE_CANTOPEN;
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(handle);
        if (Damage(rc))
            return Opened::kDamaged;
        *error = ErrorOf(rc, ERROR_CANTOPEN);
        return Opened::kFailed;
    }
    *db = handle;
    return Opened::kOk;
}

// The connection for the current environment, opened (and the file made) when needed. A
// database that is damaged is moved aside for a new one, so that progress is kept again from
// now on. Called with the store's lock held.
LONG Connect(Store& store, sqlite3** db) {
    const std::string path = RegistryDatabasePath();
    if (store.db) {
        if (store.owner == getpid() && store.path == path &&
            SameFile(path, store.device, store.inode)) {
            *db = store.db;
            return ERROR_SUCCESS;
        }
        Disconnect(store);
    }

    sqlite3* opened = nullptr;
    struct stat st {};
    LONG error = ERROR_CANTOPEN;
    Opened outcome = OpenDatabase(path, &opened, &st, &error);
    if (outcome == Opened::kDamaged && MoveDamagedStoreAside(path))
        outcome = OpenDatabase(path, &opened, &st, &error);
    if (outcome == Opened::kDamaged)
        return ERROR_REGISTRY_CORRUPT;
    if (outcome != Opened::kOk)
        return error;
    // The process's end closes the connection, so that the database file alone holds every
    // value once the program has ended.
    static std::once_flag closeAtExit;
    std::call_once(closeAtExit, [] { std::atexit(CloseRegistryStore); });
    store.db = opened;
    store.path = path;
    store.device = st.st_dev;
    store.inode = st.st_ino;
    store.owner = getpid();
    *db = opened;
    return ERROR_SUCCESS;
}

std::string Join(const std::string& base, const std::vector<std::string>& components,
                 size_t count) {
    std::string path = base;
    for (size_t i = 0; i < count; ++i) {
        if (!path.empty())
            path += '\\';
        path += components[i];
    }
    return path;
}

// The row of `path` in tree `root`: ERROR_SUCCESS with *id set (and *stored, the path with the
// case of its creation), ERROR_FILE_NOT_FOUND, or a storage error.
LONG Find(sqlite3* db, int root, const std::string& path, long long* id,
          std::string* stored = nullptr) {
    Statement find(db, "SELECT id, path FROM keys WHERE root = ?1 AND path = ?2");
    find.Bind(1, root).Bind(2, path);
    const int rc = find.Step();
    if (rc == SQLITE_ROW) {
        *id = find.Int(0);
        if (stored)
            *stored = find.Text(1);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorOf(rc, ERROR_CANTREAD);
}

// ERROR_KEY_DELETED when the key is gone, or another key has been made under its name since.
LONG Verify(sqlite3* db, const RegistryKeyRef& key) {
    if (key.id == 0)
        return ERROR_SUCCESS;
    if (key.store != TheStore().path)
        return ERROR_KEY_DELETED;
    long long id = 0;
    const LONG found = Find(db, key.root, key.path, &id);
    if (found == ERROR_FILE_NOT_FOUND || (found == ERROR_SUCCESS && id != key.id)) {
        return ERROR_KEY_DELETED;
    }
    return found;
}

// The row values of `key` live in; a root's own row is made when `make` is set.
LONG ValueRow(sqlite3* db, const RegistryKeyRef& key, bool make, long long* id) {
    if (key.id != 0) {
        *id = key.id;
        return ERROR_SUCCESS;
    }
    if (make) {
        Statement insert(db, "INSERT OR IGNORE INTO keys(root, path, parent) VALUES(?1, '', NULL)");
        insert.Bind(1, key.root);
        const int rc = insert.Step();
        if (rc != SQLITE_DONE)
            return ErrorOf(rc, ERROR_CANTWRITE);
    }
    return Find(db, key.root, std::string(), id);
}

// Runs `body` on the connection under the store's lock, which Verify relies on for the path.
template <typename Body>
LONG WithStore(Body body) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    sqlite3* db = nullptr;
    const LONG connected = Connect(store, &db);
    if (connected != ERROR_SUCCESS)
        return connected;
    return body(db);
}

// Runs `body(db, transaction)` in a transaction (a write one when `write`) once `key` is known
// to exist still; a writing body commits itself.
template <typename Body>
LONG WithKey(const RegistryKeyRef& key, bool write, Body body) {
    return WithStore([&](sqlite3* db) -> LONG {
        Transaction transaction(db, write);
        if (transaction.rc() != SQLITE_OK)
            return ErrorOf(transaction.rc(), write ? ERROR_CANTWRITE : ERROR_CANTREAD);
        if (write)
            TheStore().waitsSuspended = false;  // the write lock is free again
        const LONG verified = Verify(db, key);
        if (verified != ERROR_SUCCESS)
            return verified;
        return body(db, transaction);
    });
}

}  // namespace

std::string RegistryDatabasePath() {
    return LayerStateFolder() + "/registry.sqlite3";
}

LONG StoreOpenKey(const RegistryKeyRef& base, const std::vector<std::string>& components,
                  RegistryKeyRef* opened) {
    return WithKey(base, false, [&](sqlite3* db, Transaction&) -> LONG {
        if (components.empty()) {
            *opened = base;
            return ERROR_SUCCESS;
        }
        RegistryKeyRef key;
        key.root = base.root;
        const LONG found =
            Find(db, base.root, Join(base.path, components, components.size()), &key.id, &key.path);
        if (found != ERROR_SUCCESS)
            return found;
        key.store = TheStore().path;
        *opened = key;
        return ERROR_SUCCESS;
    });
}

LONG StoreCreateKey(const RegistryKeyRef& base, const std::vector<std::string>& components,
                    bool mayCreate, RegistryKeyRef* opened, bool* created) {
    return WithKey(base, true, [&](sqlite3* db, Transaction& write) -> LONG {
        RegistryKeyRef key;
        key.root = base.root;
        long long parent = base.id;
        bool made = false;
        for (size_t depth = 1; depth <= components.size(); ++depth) {
            const std::string path = Join(base.path, components, depth);
            long long id = 0;
            std::string stored;
            const LONG found = Find(db, base.root, path, &id, &stored);
            if (found == ERROR_FILE_NOT_FOUND) {
                if (!mayCreate)
                    return ERROR_ACCESS_DENIED;
                Statement insert(db, "INSERT INTO keys(root, path, parent) VALUES(?1, ?2, ?3)");
                insert.Bind(1, base.root).Bind(2, path);
                // Keys right below a root have no parent row: a root's own row is not a key.
                const int rc = parent == 0 ? insert.Step() : insert.Bind(3, parent).Step();
                if (rc != SQLITE_DONE)
                    return ErrorOf(rc, ERROR_CANTWRITE);
                id = sqlite3_last_insert_rowid(db);
                stored = path;
                made = depth == components.size();
            } else if (found != ERROR_SUCCESS) {
                return found;
            }
            parent = id;
            key.id = id;
            key.path = stored;
        }
        const int rc = write.Commit();
        if (rc != SQLITE_OK)
            return ErrorOf(rc, ERROR_CANTWRITE);
        key.store = TheStore().path;
        *opened = key;
        *created = made;
        return ERROR_SUCCESS;
    });
}

LONG StoreQueryValue(const RegistryKeyRef& key, const std::string& name, DWORD* type,
                     std::vector<BYTE>* data) {
    return WithKey(key, false, [&](sqlite3* db, Transaction&) -> LONG {
        long long row = 0;
        const LONG located = ValueRow(db, key, false, &row);
        if (located != ERROR_SUCCESS)
            return located;
        Statement query(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
        query.Bind(1, row).Bind(2, name);
        const int rc = query.Step();
        if (rc == SQLITE_DONE)
            return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW)
            return ErrorOf(rc, ERROR_CANTREAD);
        *type = static_cast<DWORD>(query.Int(0));
        *data = query.Blob(1);
        return ERROR_SUCCESS;
    });
}

LONG StoreSetValue(const RegistryKeyRef& key, const std::string& name, DWORD type, const BYTE* data,
                   DWORD size) {
    return WithKey(key, true, [&](sqlite3* db, Transaction& write) -> LONG {
        long long row = 0;
        const LONG located = ValueRow(db, key, true, &row);
        if (located != ERROR_SUCCESS)
            return located;
        // An existing value keeps the case its name was first written with.
        Statement upsert(db,
                         "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                         "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, "
                         "data = excluded.data");
        upsert.Bind(1, row).Bind(2, name).Bind(3, static_cast<long long>(type));
        upsert.BindBlob(4, data, size);
        int rc = upsert.Step();
        if (rc == SQLITE_DONE)
            rc = write.Commit();
        return ErrorOf(rc, ERROR_CANTWRITE);
    });
}

LONG StoreDeleteTree(const RegistryKeyRef& base, const std::vector<std::string>& components) {
    return WithKey(base, true, [&](sqlite3* db, Transaction& write) -> LONG {
        long long top = base.id;
        if (!components.empty()) {
            const LONG found =
                Find(db, base.root, Join(base.path, components, components.size()), &top);
            if (found != ERROR_SUCCESS)
                return found;
        }
        if (top == 0)
            return ERROR_ACCESS_DENIED;

        static const char* const kDeletes[] = {
            "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
            "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
            "DELETE FROM vals WHERE key IN tree",
            "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
            "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
            "DELETE FROM keys WHERE id IN tree",
        };
        for (const char* sql : kDeletes) {
            Statement remove(db, sql);
            const int rc = remove.Bind(1, top).Step();
            if (rc != SQLITE_DONE)
                return ErrorOf(rc, ERROR_CANTWRITE);
        }
        return ErrorOf(write.Commit(), ERROR_CANTWRITE);
    });
}

unsigned RegistryWaitsRunOut() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    return store.waitsRunOut;
}

void CloseRegistryStore() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    Disconnect(store);
}

bool RegistryStoreIntact() {
    return WithStore([](sqlite3* db) -> LONG {
               Statement check(db, "PRAGMA integrity_check");
               return check.Step() == SQLITE_ROW && check.Text(0) == "ok" ? ERROR_SUCCESS
                                                                          : ERROR_REGISTRY_CORRUPT;
           }) == ERROR_SUCCESS;
}

}  // namespace platform
