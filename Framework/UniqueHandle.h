#pragma once
// One small owner for every kind of platform handle: it closes what it holds exactly once, in its
// destructor or on Reset, and cannot be copied (a copy would close twice). Early returns are then
// safe by construction.
#include <windows.h>
#include <utility>

template <typename Traits>
class CUniqueHandle {
public:
    using HandleType = typename Traits::HandleType;

    CUniqueHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit CUniqueHandle(HandleType h) noexcept : m_h(h) {}
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(other.Detach()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    ~CUniqueHandle() { Reset(); }

    HandleType Get() const noexcept { return m_h; }
    bool IsValid() const noexcept { return m_h != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // For out-parameters of platform calls; closes what was held first.
    HandleType* Put() noexcept
    {
        Reset();
        return &m_h;
    }
    HandleType Detach() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    void Reset(HandleType h = Traits::Invalid()) noexcept
    {
        HandleType old = std::exchange(m_h, h);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    HandleType m_h;
};

struct KernelHandleTraits {
    using HandleType = HANDLE;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using HandleType = HANDLE;
    static HandleType Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HandleType h) noexcept { ::CloseHandle(h); }
};
struct RegKeyTraits {
    using HandleType = HKEY;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::RegCloseKey(h); }
};
struct GdiObjectTraits {
    using HandleType = HGDIOBJ;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::DeleteObject(h); }
};
struct MenuTraits {
    using HandleType = HMENU;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::DestroyMenu(h); }
};
struct IconTraits {
    using HandleType = HICON;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::DestroyIcon(h); }
};
struct LibraryTraits {
    using HandleType = HMODULE;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::FreeLibrary(h); }
};

using CUniqueKernelHandle = CUniqueHandle<KernelHandleTraits>;
using CUniqueFileHandle = CUniqueHandle<FileHandleTraits>;
using CUniqueRegKey = CUniqueHandle<RegKeyTraits>;
using CUniqueGdiObject = CUniqueHandle<GdiObjectTraits>;
using CUniqueMenu = CUniqueHandle<MenuTraits>;
using CUniqueLibrary = CUniqueHandle<LibraryTraits>;
using CUniqueIcon = CUniqueHandle<IconTraits>;
