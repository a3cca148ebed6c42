#include "platform/kernel/kernel_object.h"

#include <mutex>

#include "platform/base/handle_table.h"

namespace platform {

namespace {
SharedHandleTable<KernelObject>& Table() {
    // Lives until exit, after every thread.
    static auto* table = new SharedHandleTable<KernelObject>(HandleKind::Kernel);
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
    return reinterpret_cast<HANDLE>(Table().Add(std::move(object)));
}

std::shared_ptr<KernelObject> ObjectOf(HANDLE handle) {
    if (handle == kCurrentProcess)
        return CurrentProcessObject();
    return Table().Find(reinterpret_cast<uintptr_t>(handle));
}

HANDLE CurrentProcessPseudoHandle() {
    return kCurrentProcess;
}

bool IsCurrentProcess(HANDLE handle) {
    return ObjectOf(handle) == CurrentProcessObject();
}

bool CloseKernelHandle(HANDLE handle) {
    return Table().Remove(reinterpret_cast<uintptr_t>(handle));
}

size_t OpenHandleCount() {
    return Table().Count();
}

}  // namespace platform
