#pragma once
// Root of the framework's classes, with run-time class information: a class can tell its name and
// its base class (IsKindOf) without C++ RTTI.
#include <windows.h>

class CObject;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;                      // 0xFFFF: not serialisable
    CObject* (*m_pfnCreateObject)();     // null: no dynamic creation
    const CRuntimeClass* (*m_pfnGetBaseClass)();

    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

class CObject {
public:
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;
    BOOL IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }

    static const CRuntimeClass classCObject;

protected:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_DYNAMIC(class_name)                                                                    \
public:                                                                                                \
    static const CRuntimeClass class##class_name;                                                      \
    const CRuntimeClass* GetRuntimeClass() const override;

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                                 \
    const CRuntimeClass class_name::class##class_name = {                                              \
        #class_name, sizeof(class_name), 0xFFFF, nullptr,                                              \
        []() -> const CRuntimeClass* { return RUNTIME_CLASS(base_class_name); }};                      \
    const CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }
