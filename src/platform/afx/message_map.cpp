#include "platform/afx/message_map.h"

const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", sizeof(CCmdTarget), 0xFFFF,
                                                   nullptr, nullptr};

const CRuntimeClass* CCmdTarget::GetRuntimeClass() const {
    return RUNTIME_CLASS(CCmdTarget);
}

BOOL CCmdTarget::IsKindOf(const CRuntimeClass* runtimeClass) const {
    return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code,
                                                     UINT id) {
    for (; map != nullptr; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->nMessage != message)
                continue;
            if (message != WM_COMMAND)
                return e;
            if (e->nCode == code && id >= e->nID && id <= e->nLastID)
                return e;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT id, int code, void*, void*) {
    const AFX_MSGMAP_ENTRY* e =
        FindMessageEntry(GetMessageMap(), WM_COMMAND, static_cast<UINT>(code) & 0xFFFF, id);
    if (e == nullptr)
        return FALSE;
    e->pfn(this, WM_COMMAND, MAKEWPARAM(id, code), 0);
    return TRUE;
}
