#pragma once
// A data object standing in for Explorer's selection: serves a CF_HDROP list of wide names, or
// raw bytes for malformed lists, or fails. Counts the media it hands out and gets back, so tests
// can tell that every medium was released.
#include <windows.h>
#include <objidl.h>
#include <string>
#include <vector>

class CDataObjectDouble final : public IDataObject {
public:
    enum class Mode { Serve, FailGetData, NullBlock };

    explicit CDataObjectDouble(const std::vector<std::wstring>& names);
    static CDataObjectDouble* FromBytes(const std::vector<BYTE>& block);
    // The CF_HDROP block for a list of names: a DROPFILES header and the double-terminated list.
    static std::vector<BYTE> MakeDropBlock(const std::vector<std::wstring>& names);

    void SetMode(Mode mode) { m_mode = mode; }
    LONG MediaHandedOut() const { return m_nHandedOut; }
    LONG MediaReleased() const { return m_nReleased; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetData(FORMATETC* pFormat, STGMEDIUM* pMedium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* pFormat) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut) override;
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC** ppEnum) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    CDataObjectDouble() = default;
    class CMediumOwner;

    LONG m_cRef = 1;
    Mode m_mode = Mode::Serve;
    std::vector<BYTE> m_block;
    LONG m_nHandedOut = 0;
    LONG m_nReleased = 0;
};
