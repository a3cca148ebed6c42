// The layer's kernel objects behind HANDLE values (events, threads, mutexes, processes).
// Internal to the layer: the application sees only HANDLE and the Windows calls.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/types.h"

namespace platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Waits up to `milliseconds` (INFINITE for no limit) for the object to be signalled and
    // returns true when it was; an auto-reset object is reset by a successful wait.
    virtual bool WaitFor(DWORD milliseconds) = 0;
};

// A new handle that refers to `object`; each handle is closed once with CloseHandle.
HANDLE NewHandle(std::shared_ptr<KernelObject> object);
// The object behind a handle, or null for a handle that is not open (closed, pseudo, garbage).
std::shared_ptr<KernelObject> ObjectOf(HANDLE handle);
// Closes one handle; false when it was not open.
bool CloseKernelHandle(HANDLE handle);
// The number of handles open in the process; tests use it to find handles that are never closed.
size_t OpenHandleCount();

// Waits on `signal` with `held` locked until `signalled()` or `milliseconds` (INFINITE for no
// limit) have passed; true when `signalled()` held. The usual body of KernelObject::WaitFor.
template <typename Predicate>
bool WaitSignalled(std::condition_variable& signal, std::unique_lock<std::mutex>& held,
                   DWORD milliseconds, Predicate signalled) {
    if (milliseconds == INFINITE) {
        signal.wait(held, signalled);
        return true;
    }
    return signal.wait_for(held, std::chrono::milliseconds(milliseconds), signalled);
}

template <typename T>
std::shared_ptr<T> ObjectAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(ObjectOf(handle));
}

}  // namespace platform
