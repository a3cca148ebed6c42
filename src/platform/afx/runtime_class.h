// Run-time class information: a class's name and its base chain, for IsKindOf. Only the dynamic
// form exists: no class here can be created by name, so CreateObject always gives null.
//
// The root is CCmdTarget (message_map.h); a class joins with DECLARE_DYNAMIC in its body and
// IMPLEMENT_DYNAMIC(Class, Base) in one source file.
#pragma once

#include "platform/base/types.h"

class CCmdTarget;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;                      // 0xFFFF: not serializable
    CCmdTarget* (*m_pfnCreateObject)();  // null: cannot be created by name
    const CRuntimeClass* m_pBaseClass;   // null at the root

    CCmdTarget* CreateObject() const;
    // This class or one of its bases is `base`.
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

// clang-format off
#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                               \
public:                                                           \
    static const CRuntimeClass class##class_name;                 \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                 \
    const CRuntimeClass class_name::class##class_name = {                              \
        #class_name, sizeof(class_name), 0xFFFF, nullptr, RUNTIME_CLASS(base_class_name)}; \
    const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }
// clang-format on
