// The layer's kernel objects behind HANDLE values (events, threads, mutexes, processes).
// Internal to the layer: the application sees only HANDLE and the Windows calls.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/base/types.h"

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
// The object behind a handle, or null for a handle that is not open (closed, garbage). The
// current-process pseudo-handle refers to the process's own object, which never ends.
std::shared_ptr<KernelObject> ObjectOf(HANDLE handle);
// GetCurrentProcess's pseudo-handle: never in the table, never closed.
HANDLE CurrentProcessPseudoHandle();
// True for the pseudo-handle and for every handle duplicated from it.
bool IsCurrentProcess(HANDLE handle);
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

// Calls `attempt(slice)` with slices of `first`, then `longest` milliseconds (cut to what is left)
// until it gives true, or until `milliseconds` (INFINITE: no limit) have passed (false).
// `between()` runs after every failed slice that did not end the wait. For waits that must do
// other work meanwhile, or can only poll.
template <typename Attempt, typename Between>
bool WaitInSlices(DWORD milliseconds, DWORD first, DWORD longest, Attempt attempt,
                  Between between) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (DWORD slice = first;; slice = longest) {
        if (milliseconds != INFINITE) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            slice = static_cast<DWORD>(std::clamp<int64_t>(left.count(), 0, slice));
        }
        if (attempt(slice))
            return true;
        if (milliseconds != INFINITE && Clock::now() >= deadline)
            return false;
        between();
    }
}

template <typename T>
std::shared_ptr<T> ObjectAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(ObjectOf(handle));
}

}  // namespace platform
