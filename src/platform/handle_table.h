// A table of handles to shared objects. Handles are keys, never addresses, so a closed or
// made-up handle is refused instead of followed; an object outlives its handle for as long as a
// caller that looked it up still holds it. Internal to the layer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

template <typename T>
class SharedHandleTable {
  public:
    explicit SharedHandleTable(uintptr_t first) : next_(first) {}

    // 0 for a null object.
    uintptr_t Add(std::shared_ptr<T> object) {
        if (!object)
            return 0;
        std::lock_guard<std::mutex> lock(mutex_);
        const uintptr_t value = next_;
        next_ += 4;
        objects_.emplace(value, std::move(object));
        return value;
    }

    std::shared_ptr<T> Find(uintptr_t value) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = objects_.find(value);
        return it == objects_.end() ? nullptr : it->second;
    }

    bool Remove(uintptr_t value) {
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
    uintptr_t next_;
};

}  // namespace platform
