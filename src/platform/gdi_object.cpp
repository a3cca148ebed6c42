#include "platform/gdi_object.h"

#include <mutex>
#include <unordered_map>

#include "platform/lasterror.h"

namespace platform {

namespace {
struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>> objects;
    uintptr_t next = 0x4000;
};
Table& table() {
    static Table* t = new Table;  // outlives every static destructor that might delete handles
    return *t;
}
}  // namespace

HGDIOBJ NewGdiHandle(std::shared_ptr<GdiObject> object) {
    if (!object)
        return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.next += 4;
    t.objects.emplace(t.next, std::move(object));
    return reinterpret_cast<HGDIOBJ>(t.next);
}

std::shared_ptr<GdiObject> GdiObjectOf(HGDIOBJ handle) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool DeleteGdiHandle(HGDIOBJ handle) {
    std::shared_ptr<GdiObject> doomed;  // destroyed outside the lock
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end())
        return false;
    doomed = std::move(it->second);
    t.objects.erase(it);
    return true;
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
