#include "platform/runtime_class.h"

#include "platform/message_map.h"

CCmdTarget* CRuntimeClass::CreateObject() const {
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
        if (c == base)
            return TRUE;
    }
    return FALSE;
}

const CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", sizeof(CCmdTarget), 0xFFFF,
                                                   nullptr, nullptr};

const CRuntimeClass* CCmdTarget::GetRuntimeClass() const {
    return RUNTIME_CLASS(CCmdTarget);
}

BOOL CCmdTarget::IsKindOf(const CRuntimeClass* runtimeClass) const {
    return GetRuntimeClass()->IsDerivedFrom(runtimeClass);
}
