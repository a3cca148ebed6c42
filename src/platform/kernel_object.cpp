#include "platform/kernel_object.h"

#include <mutex>
#include <unordered_map>

namespace platform {

namespace {
// Handles are keys into one table, so a closed or made-up handle is refused, never followed.
struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable();  // lives until exit, after every thread
    return *table;
}

// -1, as on Windows, so that INVALID_HANDLE_VALUE names the process too.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// A process that is running is never signalled.
class CurrentProcess : public KernelObject {
  public:
    bool WaitFor(DWORD milliseconds) override {
        std::unique_lock<std::mutex> held(lock_);
        return WaitSignalled(never_, held, milliseconds, [] { return false; });
    }

  private:
    std::mutex lock_;
    std::condition_variable never_;
};

const std::shared_ptr<KernelObject>& CurrentProcessObject() {
    static auto* object = new std::shared_ptr<KernelObject>(std::make_shared<CurrentProcess>());
    return *object;
}
}  // namespace

HANDLE NewHandle(std::shared_ptr<KernelObject> object) {
    if (!object)
        return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> ObjectOf(HANDLE handle) {
    if (handle == kCurrentProcess)
        return CurrentProcessObject();
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

HANDLE CurrentProcessPseudoHandle() {
    return kCurrentProcess;
}

bool IsCurrentProcess(HANDLE handle) {
    return ObjectOf(handle) == CurrentProcessObject();
}

bool CloseKernelHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released;  // destroyed outside the lock
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end())
        return false;
    released = std::move(it->second);
    table.objects.erase(it);
    return true;
}

size_t OpenHandleCount() {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.objects.size();
}

}  // namespace platform
