#include "platform/gdi/gdi_object.h"

#include "platform/base/handle_table.h"
#include "platform/base/lasterror.h"

namespace platform {

namespace {
SharedHandleTable<GdiObject>& table() {
    // Outlives every static destructor that might delete handles.
    static auto* t = new SharedHandleTable<GdiObject>(HandleKind::Gdi);
    return *t;
}
}  // namespace

HGDIOBJ NewGdiHandle(std::shared_ptr<GdiObject> object) {
    return reinterpret_cast<HGDIOBJ>(table().Add(std::move(object)));
}

std::shared_ptr<GdiObject> GdiObjectOf(HGDIOBJ handle) {
    return table().Find(reinterpret_cast<uintptr_t>(handle));
}

bool DeleteGdiHandle(HGDIOBJ handle) {
    return table().Remove(reinterpret_cast<uintptr_t>(handle));
}

}  // namespace platform

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
    auto found = platform::GdiObjectOf(object);
    if (!found || size < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return found->Describe(buffer == nullptr ? 0 : size, buffer);
}

BOOL DeleteObject(HGDIOBJ object) {
    return platform::DeleteGdiHandle(object) ? TRUE : FALSE;
}

CGdiObject::~CGdiObject() {
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ object) {
    if (object == nullptr || m_hObject != nullptr)
        return FALSE;
    m_hObject = object;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ old = m_hObject;
    m_hObject = nullptr;
    return old;
}

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == nullptr)
        return FALSE;
    return ::DeleteObject(Detach());
}

int CGdiObject::GetObject(int size, LPVOID buffer) const {
    return ::GetObjectA(m_hObject, size, buffer);
}
