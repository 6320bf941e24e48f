#pragma once
// Doubles for the COM module's platform seams: a scripted platform (module file name, files, the
// shell's notification) and a type-library service that record what they are asked, plus a
// registry that logs its writes into the same record so the order of registration steps can be
// checked.
#include <algorithm>
#include <string>
#include <vector>
#include "MemoryRegistry.h"
#include "ServerPlatform.h"

using EventLog = std::vector<std::wstring>;

class CFakeServerPlatform : public IServerPlatform {
public:
    std::wstring strModule = L"C:\\Program Files\\Korvane\\KorvaneShellExt.dll";
    bool bFailName = false;       // GetModuleFileName answers 0 with dwLastError
    DWORD dwLastError = 0;
    HMODULE hMain = reinterpret_cast<HMODULE>(0x400000);

    DWORD GetModuleFileName(HMODULE, wchar_t* lpszName, DWORD cchSize) override;
    DWORD GetLastError() override { return dwLastError; }
    HMODULE GetMainModule() override { return hMain; }
    DWORD dwOtherView = KEY_WOW64_32KEY; // as a 64-bit build on 64-bit Windows
    DWORD OtherBitnessView() override { return dwOtherView; }
    std::vector<std::wstring> missingFiles; // every other file exists
    bool FileExists(const wchar_t* lpszPath) override
    {
        return std::find(missingFiles.begin(), missingFiles.end(), lpszPath) == missingFiles.end();
    }
    EventLog* pLog = nullptr; // receives "notify assocchanged"
    void NotifyAssociationsChanged() override
    {
        if (pLog)
            pLog->push_back(L"notify assocchanged");
    }
};

class CRecordingTypeLibs : public ITypeLibService {
public:
    explicit CRecordingTypeLibs(EventLog& log) : m_log(log) {}
    std::vector<std::wstring> loadable; // paths that load; others fail with hrLoad
    HRESULT hrLoad = TYPE_E_CANTLOADLIBRARY;
    HRESULT hrRegister = S_OK;
    HRESULT hrUnregister = S_OK;
    bool bRegistered = false; // set by a successful Register, cleared by Unregister
    std::vector<GUID> interfaces; // what GetRegisteredInterfaces answers

    HRESULT Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib) override;

private:
    EventLog& m_log;
};

// CMemoryRegistry with every change logged as "set NAME", "delvalue NAME" or "delkey NAME". A key
// opened with KEY_WOW64_32KEY is looked up where 64-bit Windows keeps the 32-bit view of the
// classes, the "Wow6432Node" key below the classes root.
class CLoggingRegistry : public CMemoryRegistry {
public:
    explicit CLoggingRegistry(EventLog& log) : m_log(log) {}
    static std::wstring ThirtyTwoBitView(std::wstring path)
    {
        const std::wstring strUser = L"Software\\Classes\\";
        const size_t nAt = path.compare(0, strUser.size(), strUser) == 0 ? strUser.size() : 0;
        return path.insert(nAt, L"Wow6432Node\\");
    }
    long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override
    {
        if ((access & KEY_WOW64_32KEY) == 0)
            return CMemoryRegistry::OpenKey(parent, name, access, result);
        return CMemoryRegistry::OpenKey(parent, ThirtyTwoBitView(name).c_str(), access & ~KEY_WOW64_32KEY, result);
    }
    long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data, std::uint32_t cb) override
    {
        m_log.push_back(L"set " + std::wstring(name ? name : L""));
        return CMemoryRegistry::SetValue(key, name, type, data, cb);
    }
    long DeleteValue(RegKey key, const wchar_t* name) override
    {
        m_log.push_back(L"delvalue " + std::wstring(name ? name : L""));
        return CMemoryRegistry::DeleteValue(key, name);
    }
    long DeleteKey(RegKey parent, const wchar_t* name) override
    {
        m_log.push_back(L"delkey " + std::wstring(name));
        return CMemoryRegistry::DeleteKey(parent, name);
    }

private:
    EventLog& m_log;
};
