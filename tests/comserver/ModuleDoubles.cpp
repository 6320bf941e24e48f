#include "ModuleDoubles.h"
#include <algorithm>
#include <cwchar>

DWORD CFakeServerPlatform::GetModuleFileName(HMODULE, wchar_t* lpszName, DWORD cchSize)
{
    if (bFailName)
        return 0;
    // As the system does: a name that does not fit is cut and the full buffer size answered.
    DWORD cch = static_cast<DWORD>(std::min<size_t>(strModule.size(), cchSize - 1));
    std::wmemcpy(lpszName, strModule.c_str(), cch);
    lpszName[cch] = L'\0';
    return strModule.size() >= cchSize ? cchSize : cch;
}

namespace {
class CRecordedLib : public ILoadedTypeLib {
public:
    CRecordedLib(EventLog& log, CRecordingTypeLibs& owner) : m_log(log), m_owner(owner) {}
    HRESULT Register(const wchar_t* lpszPath, const wchar_t* lpszHelpDir, bool bPerUser) override
    {
        m_log.push_back(L"typelib register " + std::wstring(lpszPath) + L" help " + lpszHelpDir +
                        (bPerUser ? L" for user" : L""));
        m_owner.bRegistered = m_owner.bRegistered || SUCCEEDED(m_owner.hrRegister);
        return m_owner.hrRegister;
    }
    HRESULT Unregister(bool bPerUser) override
    {
        m_log.push_back(bPerUser ? L"typelib unregister for user" : L"typelib unregister");
        m_owner.bRegistered = false;
        return m_owner.hrUnregister;
    }
    bool IsRegistered() override { return m_owner.bRegistered; }
    HRESULT GetRegisteredInterfaces(std::vector<GUID>* pIids) override
    {
        *pIids = m_owner.interfaces;
        return S_OK;
    }

private:
    EventLog& m_log;
    CRecordingTypeLibs& m_owner;
};
} // namespace

HRESULT CRecordingTypeLibs::Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib)
{
    m_log.push_back(L"typelib load " + std::wstring(lpszPath));
    if (std::find(loadable.begin(), loadable.end(), lpszPath) == loadable.end())
        return hrLoad;
    ppLib->reset(new CRecordedLib(m_log, *this));
    return S_OK;
}
