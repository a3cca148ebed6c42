// Handle numbers and a table of handles to shared objects. Handles are keys, never addresses,
// so a closed or made-up handle is refused instead of followed; an object outlives its handle
// for as long as a caller that looked it up still holds it. Internal to the layer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

// Every handle of the layer, whatever its kind, comes from one numbering and carries its kind
// in its number, so a handle of one kind passed where another is expected names nothing there.
enum class HandleKind : uintptr_t {
    Kernel,
    Gdi,
    Window,
    Module,
    Icon,
    RegistryKey,
    DeviceContext,
};

// A number never given out before in this run, to any kind: a multiple of 4 above the values
// that stand for other things (MAKEINTRESOURCE ordinals, system-colour brushes) and far below
// the predefined registry keys and the pseudo-handles.
uintptr_t NewHandleNumber(HandleKind kind);
// True when `value` was given out for `kind` (it may have been closed since).
bool IsHandleOfKind(uintptr_t value, HandleKind kind);

template <typename T>
class SharedHandleTable {
  public:
    explicit SharedHandleTable(HandleKind kind) : kind_(kind) {}

    // 0 for a null object.
    uintptr_t Add(std::shared_ptr<T> object) {
        if (!object)
            return 0;
        std::lock_guard<std::mutex> lock(mutex_);
        const uintptr_t value = NewHandleNumber(kind_);
        objects_.emplace(value, std::move(object));
        return value;
    }

    std::shared_ptr<T> Find(uintptr_t value) const {
        if (!IsHandleOfKind(value, kind_))
            return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = objects_.find(value);
        return it == objects_.end() ? nullptr : it->second;
    }

    bool Remove(uintptr_t value) {
        if (!IsHandleOfKind(value, kind_))
            return false;
        std::shared_ptr<T> released;  // destroyed after the lock is let go
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = objects_.find(value);
        if (it == objects_.end())
            return false;
        released = std::move(it->second);
        objects_.erase(it);
        return true;
    }

    size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return objects_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<T>> objects_;
    const HandleKind kind_;
};

}  // namespace platform
