#pragma once
// Serves IDispatch from a registered type library: the type information of one interface, loaded on
// first use under the module's lock and kept until the module may be unloaded (its termination
// callbacks, run by DllCanUnloadNow).
#include <windows.h>
#include <oaidl.h>

class CTypeInfoHolder {
public:
    CTypeInfoHolder(const GUID& libid, const IID& iid, WORD wMajor, WORD wMinor) noexcept
        : m_libid(libid), m_iid(iid), m_wMajor(wMajor), m_wMinor(wMinor)
    {
    }
    CTypeInfoHolder(const CTypeInfoHolder&) = delete;
    CTypeInfoHolder& operator=(const CTypeInfoHolder&) = delete;

    HRESULT GetTypeInfoCount(UINT* pctinfo);
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
    HRESULT Invoke(IDispatch* pThis, DISPID dispIdMember, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

private:
    // The type information with a reference of the caller's own.
    HRESULT AcquireTypeInfo(LCID lcid, ITypeInfo** ppInfo);
    static void Cleanup(DWORD_PTR dw);

    const GUID& m_libid;
    const IID& m_iid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* m_pInfo = nullptr; // guarded by the module's lock
};
