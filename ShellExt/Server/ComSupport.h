#pragma once
// What the extension's COM objects share: owners for interface pointers and for texts the shell
// allocates with the task allocator, and the result for an exception stopped at a method.
#include <windows.h>
#include <objbase.h>
#include <new>
#include "UniqueHandle.h"

template <typename T> struct InterfaceTraits {
    using HandleType = T*;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType p) noexcept { p->Release(); }
};

// One reference to an interface, released exactly once.
template <typename T> class CUniqueInterface : public CUniqueHandle<InterfaceTraits<T>> {
public:
    CUniqueInterface() noexcept = default;
    // Takes a reference of its own on p.
    static CUniqueInterface Share(T* p) noexcept
    {
        if (p)
            p->AddRef();
        return CUniqueInterface(p);
    }
    T* operator->() const noexcept { return this->Get(); }
    // For QueryInterface-style out-parameters.
    void** PutVoid() noexcept { return reinterpret_cast<void**>(this->Put()); }

private:
    explicit CUniqueInterface(T* p) noexcept : CUniqueHandle<InterfaceTraits<T>>(p) {}
};

struct CoTaskMemTextTraits {
    using HandleType = LPWSTR;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType p) noexcept { ::CoTaskMemFree(p); }
};
// A text handed out by the shell (IShellItem::GetDisplayName and the like).
using CUniqueCoTaskText = CUniqueHandle<CoTaskMemTextTraits>;

// The COM result of the exception being handled; call only inside a catch block.
inline HRESULT ResultOfCurrentException() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
