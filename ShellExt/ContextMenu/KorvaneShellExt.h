#pragma once
// The context-menu extension object: Explorer creates one per context menu, hands it the
// selection, lets it add its compare items, asks for their help texts and has it carry out the
// chosen command by starting the comparison program.
#include <windows.h>
#include <shlobj.h>
#include "CompareMenu.h"
#include "StringT.h"
#include "ShellExt_h.h"

// The classic menu's front end: it translates Explorer's calls into those of the shared core.
class CKorvaneShellExt : public IKorvaneShellExt,
                         public IShellExtInit,
                         public IContextMenu,
                         public CCompareMenu {
public:
    // pUnkOuter: the controlling outer object when aggregated, else null.
    explicit CKorvaneShellExt(IUnknown* pUnkOuter = nullptr);
    virtual ~CKorvaneShellExt();
    CKorvaneShellExt(const CKorvaneShellExt&) = delete;
    CKorvaneShellExt& operator=(const CKorvaneShellExt&) = delete;

    // ---- IUnknown: every interface delegates to the controlling unknown, which is the outer
    // ---- object when aggregated and the object's own inner unknown otherwise.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // The class's instance creator: a plain object without an outer object, an aggregated one with.
    static HRESULT CreateInstance(void* pUnkOuter, REFIID riid, void** ppv);
    // ---- end of IUnknown

    // IDispatch (IKorvaneShellExt has no members of its own), served from the type library
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pDataObj, HKEY hkeyProgID) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName,
                                  UINT cchMax) override;

    // Inserts the items of m_nMenuState from nPosition on, as many as have an id up to
    // nLastCmdId; returns how many were inserted.
    int BuildMenu(HMENU hMenu, UINT nPosition, UINT nFirstCmdId, UINT nLastCmdId);
    // The help text of a command index in the current menu state, or an empty text.
    CStringW GetHelpText(UINT_PTR nCmdIndex) const;

protected:
    HRESULT DoInitialize(IDataObject* pDataObj);
    HRESULT DoQueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags);
    // The items' picture at the calling thread's menu DPI, made once per size per process; null if
    // it cannot be made (the items then have none).
    static HBITMAP SharedMenuBitmap();
    // Copies a command string into the caller's buffer as GetCommandString's uType asks: UTF-16
    // or the thread's ANSI code page, cut to cchMax characters with the terminator.
    static HRESULT CopyCommandString(const CStringW& strText, UINT uType, CHAR* pszName, UINT cchMax);

    HBITMAP m_bmpMenu; // the picture of the last menu built, owned by the module (SharedMenuBitmap)
    // Whether the last QueryContextMenu read the product key and chose the items; without it a
    // verb is looked up in the state the selection calls for now.
    bool m_bMenuRead = false;

private:
    // The object's own, non-delegating unknown: what an aggregating outer object holds.
    class CInnerUnknown : public IUnknown {
    public:
        explicit CInnerUnknown(CKorvaneShellExt& owner) noexcept : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CKorvaneShellExt& m_owner;
    };
    // Walks the interface table (IUnknown answers the primary interface).
    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    ULONG m_cRef;
    IUnknown* m_pUnkOuter;
    CInnerUnknown m_inner;
};
