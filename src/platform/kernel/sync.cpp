#include "platform/kernel/sync.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <thread>

#include "platform/base/lasterror.h"
#include "platform/base/xdg.h"
#include "platform/kernel/kernel_object.h"
#include "platform/kernel/wait_pump.h"

namespace platform {

namespace {

// The user-interface thread serves its wait pump at least this often while it waits.
constexpr DWORD kUiWaitSliceMs = 5;

class Event : public KernelObject {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    bool WaitFor(DWORD milliseconds) override {
        std::unique_lock<std::mutex> held(lock_);
        if (!WaitSignalled(changed_, held, milliseconds, [this] { return signalled_; })) {
            return false;
        }
        if (!manualReset_)
            signalled_ = false;
        return true;
    }

    void Set() {
        std::lock_guard<std::mutex> held(lock_);
        signalled_ = true;
        // Every waiter re-checks under the lock, so an auto-reset event still frees only one.
        changed_.notify_all();
    }

    void Reset() {
        std::lock_guard<std::mutex> held(lock_);
        signalled_ = false;
    }

  private:
    const bool manualReset_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_;
};

// Ownership by a thread of this process, recursive as on Windows. A named mutex that holds
// its name also keeps the locked descriptor of its lock file, closed with the last handle.
class Mutex : public KernelObject {
  public:
    explicit Mutex(int lockFd) : lockFd_(lockFd) {}
    ~Mutex() override {
        if (lockFd_ >= 0)
            close(lockFd_);
    }

    bool WaitFor(DWORD milliseconds) override {
        const std::thread::id me = std::this_thread::get_id();
        std::unique_lock<std::mutex> held(lock_);
        if (!WaitSignalled(changed_, held, milliseconds,
                           [&] { return count_ == 0 || owner_ == me; })) {
            return false;
        }
        owner_ = me;
        ++count_;
        return true;
    }

    bool Release() {
        std::lock_guard<std::mutex> held(lock_);
        if (count_ == 0 || owner_ != std::this_thread::get_id())
            return false;
        if (--count_ == 0) {
            owner_ = std::thread::id();
            changed_.notify_all();
        }
        return true;
    }

  private:
    const int lockFd_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread::id owner_;
    unsigned count_ = 0;
};

// The named mutexes whose names this process holds, by lock file. A second create of such a
// name gets the same object, as on Windows; an entry dies with the object's last handle.
struct HeldNames {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<Mutex>> byPath;
};

HeldNames& Held() {
    static auto* held = new HeldNames();  // lives until exit, after every thread
    return *held;
}

// The lock file of `name` in the first folder that only this user can change, so that no other
// user can hold the name; empty when there is none. The state folder comes first: it holds the
// registry, and copies that share it must see one another however their runtime and temporary
// folders differ.
std::string LockFilePath(const std::string& name) {
    std::string file = name;
    std::replace(file.begin(), file.end(), '/', '_');
    std::replace(file.begin(), file.end(), '\\', '_');
    for (const std::string& folder : {LayerStateFolder(), RuntimeFolder(), TempFolder()}) {
        if (IsOwnFolder(folder))
            return folder + "/" + file + ".lock";
    }
    return std::string();
}

HANDLE NewMutexHandle(std::shared_ptr<Mutex> mutex, bool initialOwner, DWORD lastError) {
    if (initialOwner)
        mutex->WaitFor(0);
    HANDLE handle = NewHandle(std::move(mutex));
    SetLastError(lastError);
    return handle;
}

HANDLE CreateNamedMutex(const std::string& name, bool initialOwner) {
    const std::string path = LockFilePath(name);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    HeldNames& held = Held();
    std::lock_guard<std::mutex> guard(held.lock);
    for (auto it = held.byPath.begin(); it != held.byPath.end();) {
        it = it->second.expired() ? held.byPath.erase(it) : std::next(it);
    }
    const auto known = held.byPath.find(path);
    if (known != held.byPath.end()) {
        if (std::shared_ptr<Mutex> mutex = known->second.lock()) {
            // An existing mutex ignores the wish for initial ownership, as on Windows.
            return NewMutexHandle(std::move(mutex), false, ERROR_ALREADY_EXISTS);
        }
    }

    // No symbolic links, and nothing but a regular file, even in a folder of this user's.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        SetLastError(WindowsErrorFromErrno(errno));
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_INVALID_HANDLE);  // what Windows says when the name is another kind
        return nullptr;
    }
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int err = errno;
        close(fd);
        if (err != EWOULDBLOCK) {
            SetLastError(WindowsErrorFromErrno(err));
            return nullptr;
        }
        // Another process holds the name: a mutex of our own that only reports that fact.
        return NewMutexHandle(std::make_shared<Mutex>(-1), false, ERROR_ALREADY_EXISTS);
    }
    auto mutex = std::make_shared<Mutex>(fd);
    held.byPath[path] = mutex;
    return NewMutexHandle(std::move(mutex), initialOwner, ERROR_SUCCESS);
}

// Runs `change` on the event behind `handle`; FALSE with ERROR_INVALID_HANDLE for any other.
template <typename Change>
BOOL ChangeEvent(HANDLE handle, Change change) {
    const auto event = ObjectAs<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    change(*event);
    return TRUE;
}

}  // namespace

}  // namespace platform

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    HANDLE handle =
        platform::NewHandle(std::make_shared<platform::Event>(manualReset, initialState));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL SetEvent(HANDLE event) {
    return platform::ChangeEvent(event, [](platform::Event& e) { e.Set(); });
}

BOOL ResetEvent(HANDLE event) {
    return platform::ChangeEvent(event, [](platform::Event& e) { e.Reset(); });
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // Holding the object keeps it alive even when another thread closes the handle meanwhile.
    const std::shared_ptr<platform::KernelObject> object = platform::ObjectOf(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (!platform::IsUiThread())
        return object->WaitFor(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;

    // A first slice of nothing: what workers asked for is served before the first real wait.
    const bool signalled = platform::WaitInSlices(
        milliseconds, 0, platform::kUiWaitSliceMs,
        [&object](DWORD slice) { return object->WaitFor(slice); }, platform::RunUiThreadWaitPump);
    return signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == platform::CurrentProcessPseudoHandle())
        return TRUE;
    if (!platform::CloseKernelHandle(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE GetCurrentProcess() {
    return platform::CurrentProcessPseudoHandle();
}

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE sourceHandle, HANDLE targetProcess,
                     LPHANDLE targetHandle, DWORD, BOOL, DWORD options) {
    if (!platform::IsCurrentProcess(sourceProcess) || !platform::IsCurrentProcess(targetProcess)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::shared_ptr<platform::KernelObject> object = platform::ObjectOf(sourceHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    BOOL result = TRUE;
    if (targetHandle != nullptr) {
        *targetHandle = platform::NewHandle(object);
    } else if ((options & DUPLICATE_CLOSE_SOURCE) == 0) {
        // A copy nobody receives could never be closed.
        SetLastError(ERROR_INVALID_PARAMETER);
        result = FALSE;
    }
    if ((options & DUPLICATE_CLOSE_SOURCE) != 0)
        CloseHandle(sourceHandle);
    return result;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    if (name == nullptr || *name == '\0') {
        return platform::NewMutexHandle(std::make_shared<platform::Mutex>(-1), initialOwner != 0,
                                        ERROR_SUCCESS);
    }
    return platform::CreateNamedMutex(name, initialOwner != 0);
}

BOOL ReleaseMutex(HANDLE mutex) {
    const auto object = platform::ObjectAs<platform::Mutex>(mutex);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
