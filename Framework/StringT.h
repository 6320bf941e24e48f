#pragma once
// The framework's text class: a reference-counted, copy-on-write string of 8-bit (CStringA) or
// UTF-16 (CStringW) characters. Copies share one block until one of them is changed. Running out
// of memory throws std::bad_alloc; callers at COM, export and thread boundaries catch it.
#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>
#include "Module.h"

namespace StringDetail {
template <typename T>
struct Ops;

template <>
struct Ops<char> {
    static size_t Length(const char* s) { return std::strlen(s); }
    // The Microsoft-semantics formatters: the same on MSVC and mingw (%s is the format's own width).
    static int Count(const char* fmt, va_list args) { return _vscprintf(fmt, args); }
    static int Print(char* buf, size_t n, const char* fmt, va_list args) { return _vsnprintf(buf, n, fmt, args); }
    static int CompareNoCase(const char* a, const char* b) { return ::lstrcmpiA(a, b); }
    static int Load(HINSTANCE h, UINT id, char* buf, int n) { return ::LoadStringA(h, id, buf, n); }
};

template <>
struct Ops<wchar_t> {
    static size_t Length(const wchar_t* s) { return std::wcslen(s); }
    static int Count(const wchar_t* fmt, va_list args) { return _vscwprintf(fmt, args); }
    static int Print(wchar_t* buf, size_t n, const wchar_t* fmt, va_list args)
    {
        return _vsnwprintf(buf, n, fmt, args);
    }
    static int CompareNoCase(const wchar_t* a, const wchar_t* b) { return ::lstrcmpiW(a, b); }
    static int Load(HINSTANCE h, UINT id, wchar_t* buf, int n) { return ::LoadStringW(h, id, buf, n); }
};
} // namespace StringDetail

template <typename T>
class CStringT {
    using Ops = StringDetail::Ops<T>;

public:
    CStringT() noexcept = default;
    CStringT(const T* psz) { Assign(psz, psz ? static_cast<int>(Ops::Length(psz)) : 0); }
    CStringT(const T* pch, int nLength) { Assign(pch, nLength); }
    explicit CStringT(T ch, int nRepeat = 1)
    {
        if (nRepeat > 0) {
            T* p = Prepare(nRepeat);
            for (int i = 0; i < nRepeat; ++i)
                p[i] = ch;
            SetLength(nRepeat);
        }
    }
    CStringT(const CStringT& other) noexcept : m_pData(other.m_pData) { AddRef(); }
    CStringT(CStringT&& other) noexcept : m_pData(std::exchange(other.m_pData, nullptr)) {}
    ~CStringT() { Release(); }

    CStringT& operator=(const CStringT& other) noexcept
    {
        if (m_pData != other.m_pData) {
            Release();
            m_pData = other.m_pData;
            AddRef();
        }
        return *this;
    }
    CStringT& operator=(CStringT&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_pData = std::exchange(other.m_pData, nullptr);
        }
        return *this;
    }
    CStringT& operator=(const T* psz)
    {
        CStringT copy(psz); // psz may point into this string
        return *this = std::move(copy);
    }

    int GetLength() const noexcept { return m_pData ? m_pData->nLength : 0; }
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    void Empty() noexcept { Release(); }
    const T* GetString() const noexcept { return m_pData ? m_pData->Chars() : EmptyText(); }
    operator const T*() const noexcept { return GetString(); }
    T GetAt(int i) const noexcept { return GetString()[i]; }
    T operator[](int i) const noexcept { return GetString()[i]; }

    CStringT& operator+=(const CStringT& s) { return Append(s.GetString(), s.GetLength()); }
    CStringT& operator+=(const T* psz) { return Append(psz, psz ? static_cast<int>(Ops::Length(psz)) : 0); }
    CStringT& operator+=(T ch) { return Append(&ch, 1); }
    CStringT& Append(const T* pch, int nCount)
    {
        if (nCount <= 0)
            return *this;
        int nOld = GetLength();
        // Appending part of itself: the buffer may move, so find the source again by its offset.
        ptrdiff_t nOffset = -1;
        if (m_pData && pch >= m_pData->Chars() && pch < m_pData->Chars() + nOld)
            nOffset = pch - m_pData->Chars();
        T* p = GetBuffer(nOld + nCount);
        std::memcpy(p + nOld, nOffset >= 0 ? p + nOffset : pch, nCount * sizeof(T));
        SetLength(nOld + nCount);
        return *this;
    }

    friend CStringT operator+(const CStringT& a, const CStringT& b) { return CStringT(a) += b; }
    friend CStringT operator+(const CStringT& a, const T* b) { return CStringT(a) += b; }
    friend CStringT operator+(const T* a, const CStringT& b) { return CStringT(a) += b; }
    friend CStringT operator+(const CStringT& a, T b) { return CStringT(a) += b; }

    int Compare(const T* psz) const noexcept
    {
        const T* a = GetString();
        const T* b = psz ? psz : EmptyText();
        for (;; ++a, ++b) {
            if (*a != *b)
                return *a < *b ? -1 : 1;
            if (*a == 0)
                return 0;
        }
    }
    int CompareNoCase(const T* psz) const { return Ops::CompareNoCase(GetString(), psz ? psz : EmptyText()); }
    friend bool operator==(const CStringT& a, const CStringT& b) noexcept
    {
        return a.GetLength() == b.GetLength() && a.Compare(b) == 0;
    }
    friend bool operator==(const CStringT& a, const T* b) noexcept { return a.Compare(b) == 0; }
    friend bool operator!=(const CStringT& a, const CStringT& b) noexcept { return !(a == b); }
    friend bool operator!=(const CStringT& a, const T* b) noexcept { return !(a == b); }

    int Find(T ch, int nStart = 0) const noexcept
    {
        for (int i = nStart < 0 ? 0 : nStart; i < GetLength(); ++i)
            if (GetString()[i] == ch)
                return i;
        return -1;
    }
    int Find(const T* pszSub, int nStart = 0) const noexcept
    {
        int nSub = static_cast<int>(Ops::Length(pszSub));
        for (int i = nStart < 0 ? 0 : nStart; i + nSub <= GetLength(); ++i)
            if (std::memcmp(GetString() + i, pszSub, nSub * sizeof(T)) == 0)
                return i;
        return -1;
    }
    int ReverseFind(T ch) const noexcept
    {
        for (int i = GetLength() - 1; i >= 0; --i)
            if (GetString()[i] == ch)
                return i;
        return -1;
    }

    CStringT Mid(int nFirst, int nCount) const
    {
        int nLength = GetLength();
        nFirst = nFirst < 0 ? 0 : (nFirst > nLength ? nLength : nFirst);
        nCount = nCount < 0 ? 0 : (nCount > nLength - nFirst ? nLength - nFirst : nCount);
        if (nFirst == 0 && nCount == nLength)
            return *this;
        return CStringT(GetString() + nFirst, nCount);
    }
    CStringT Mid(int nFirst) const { return Mid(nFirst, GetLength()); }
    CStringT Left(int nCount) const { return Mid(0, nCount); }
    CStringT Right(int nCount) const
    {
        nCount = nCount < 0 ? 0 : (nCount > GetLength() ? GetLength() : nCount);
        return Mid(GetLength() - nCount, nCount);
    }

    // Replaces every occurrence of pszOld; returns how many were replaced.
    int Replace(const T* pszOld, const T* pszNew)
    {
        int nOld = pszOld ? static_cast<int>(Ops::Length(pszOld)) : 0;
        if (nOld == 0)
            return 0;
        CStringT result;
        int nReplaced = 0, nFrom = 0;
        for (int nAt; (nAt = Find(pszOld, nFrom)) >= 0; nFrom = nAt + nOld, ++nReplaced) {
            result.Append(GetString() + nFrom, nAt - nFrom);
            result += pszNew;
        }
        if (nReplaced) {
            result.Append(GetString() + nFrom, GetLength() - nFrom);
            *this = std::move(result);
        }
        return nReplaced;
    }

    void Format(const T* pszFormat, ...)
    {
        va_list args;
        va_start(args, pszFormat);
        FormatV(pszFormat, args);
        va_end(args);
    }
    void FormatV(const T* pszFormat, va_list args)
    {
        va_list counting;
        va_copy(counting, args);
        int n = Ops::Count(pszFormat, counting);
        va_end(counting);
        if (n <= 0) {
            Empty();
            return;
        }
        CStringT result;
        T* p = result.Prepare(n);
        Ops::Print(p, static_cast<size_t>(n) + 1, pszFormat, args);
        result.SetLength(n);
        *this = std::move(result);
    }

    // Loads a string-table entry from the current resource module; FALSE when there is none.
    BOOL LoadString(UINT nID)
    {
        HINSTANCE h = AfxGetResourceHandle();
        for (int nSize = 256;; nSize *= 2) {
            CStringT result;
            T* p = result.Prepare(nSize);
            int n = Ops::Load(h, nID, p, nSize + 1);
            if (n <= 0) {
                Empty();
                return FALSE;
            }
            if (n < nSize) {
                result.SetLength(n);
                *this = std::move(result);
                return TRUE;
            }
        }
    }

    // Direct access for platform calls that fill a buffer: at least nMinLength characters plus
    // the terminator; ReleaseBuffer then takes the length (or measures it).
    T* GetBuffer(int nMinLength = 0)
    {
        int nLength = GetLength();
        if (nMinLength < nLength)
            nMinLength = nLength;
        if (!m_pData || m_pData->refs.load() > 1 || m_pData->nCapacity < nMinLength) {
            int nCapacity = nMinLength;
            if (m_pData && m_pData->refs.load() == 1 && nCapacity < m_pData->nCapacity * 2)
                nCapacity = m_pData->nCapacity * 2; // growing in place: keep appends linear
            Data* p = Data::Allocate(nCapacity);
            if (nLength)
                std::memcpy(p->Chars(), m_pData->Chars(), nLength * sizeof(T));
            p->nLength = nLength;
            p->Chars()[nLength] = 0;
            Release();
            m_pData = p;
        }
        return m_pData->Chars();
    }
    T* GetBufferSetLength(int nLength)
    {
        T* p = GetBuffer(nLength);
        SetLength(nLength);
        return p;
    }
    void ReleaseBuffer(int nNewLength = -1)
    {
        if (!m_pData)
            return;
        if (nNewLength < 0)
            nNewLength = static_cast<int>(Ops::Length(m_pData->Chars()));
        SetLength(nNewLength > m_pData->nCapacity ? m_pData->nCapacity : nNewLength);
    }

private:
    struct Data {
        std::atomic<long> refs;
        int nLength;
        int nCapacity;
        T* Chars() noexcept { return reinterpret_cast<T*>(this + 1); }

        static Data* Allocate(int nCapacity)
        {
            if (nCapacity < 0 || static_cast<size_t>(nCapacity) > (SIZE_MAX - sizeof(Data)) / sizeof(T) - 1)
                throw std::bad_alloc();
            void* p = ::operator new(sizeof(Data) + (static_cast<size_t>(nCapacity) + 1) * sizeof(T));
            Data* d = new (p) Data;
            d->refs = 1;
            d->nLength = 0;
            d->nCapacity = nCapacity;
            d->Chars()[0] = 0;
            return d;
        }
    };

    static const T* EmptyText() noexcept
    {
        static const T empty[1] = {0};
        return empty;
    }
    void AddRef() noexcept
    {
        if (m_pData)
            m_pData->refs.fetch_add(1);
    }
    void Release() noexcept
    {
        Data* p = std::exchange(m_pData, nullptr);
        if (p && p->refs.fetch_sub(1) == 1) {
            p->~Data();
            ::operator delete(p);
        }
    }
    // An unshared block of at least nLength characters; the old contents are dropped.
    T* Prepare(int nLength)
    {
        Release();
        m_pData = Data::Allocate(nLength);
        return m_pData->Chars();
    }
    void Assign(const T* pch, int nLength)
    {
        if (!pch || nLength <= 0)
            return;
        std::memcpy(Prepare(nLength), pch, nLength * sizeof(T));
        SetLength(nLength);
    }
    void SetLength(int nLength) noexcept
    {
        m_pData->nLength = nLength;
        m_pData->Chars()[nLength] = 0;
    }

    Data* m_pData = nullptr;
};

using CStringA = CStringT<char>;
using CStringW = CStringT<wchar_t>;
#ifdef UNICODE
using CString = CStringW;
#else
using CString = CStringA;
#endif
