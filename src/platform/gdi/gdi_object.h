// GDI objects: fonts here, brushes and bitmaps from the drawing code. Each HGDIOBJ names a
// layer object derived from platform::GdiObject in one table of handles, so GetObjectA and
// DeleteObject work on every kind, and a deleted or foreign handle is refused, never followed.
// CGdiObject is the class library's owner of one such handle.
#pragma once

#include <memory>

#include "platform/base/types.h"

namespace platform {

class GdiObject {
  public:
    virtual ~GdiObject() = default;
    // GetObjectA: copies the object's description (LOGFONTA, LOGBRUSH, BITMAP...) into `out`,
    // at most `size` bytes, and returns the bytes copied; with `out` null, the size needed.
    virtual int Describe(int size, void* out) const = 0;
};

// A new handle for `object`. Handles are never reused within a run.
HGDIOBJ NewGdiHandle(std::shared_ptr<GdiObject> object);
// The object behind a live handle, or null.
std::shared_ptr<GdiObject> GdiObjectOf(HGDIOBJ handle);
template <typename T>
std::shared_ptr<T> GdiObjectAs(HGDIOBJ handle) {
    return std::dynamic_pointer_cast<T>(GdiObjectOf(handle));
}
// Ends a handle; false when it was not live. Holders of the shared object keep it.
bool DeleteGdiHandle(HGDIOBJ handle);

}  // namespace platform

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer);
BOOL DeleteObject(HGDIOBJ object);

// Owns at most one GDI handle and deletes it on destruction, as the class library's does.
class CGdiObject {
  public:
    CGdiObject() = default;
    virtual ~CGdiObject();
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ object);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int size, LPVOID buffer) const;

    HGDIOBJ m_hObject = nullptr;
};
