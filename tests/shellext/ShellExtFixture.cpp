#include "ShellExtFixture.h"
#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include "UniqueHandle.h"

namespace fs = std::filesystem;

CTestableShellExt* NewShellExt()
{
    CTestableShellExt* p = new CTestableShellExt;
    p->AddRef();
    return p;
}

namespace reg {
namespace {
CUniqueRegKey OpenProductKey()
{
    CUniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    return key;
}
} // namespace

void DeleteProductKey()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, g_szProductKey);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, g_szProductKey);
}

bool ProductKeyExists()
{
    CUniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

void SetRaw(LPCWSTR name, DWORD type, const void* data, DWORD cb)
{
    CUniqueRegKey key = OpenProductKey();
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), cb));
}

void SetDword(LPCWSTR name, DWORD value)
{
    SetRaw(name, REG_DWORD, &value, sizeof(value));
}

void SetString(LPCWSTR name, const std::wstring& text)
{
    SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring GetString(LPCWSTR name)
{
    std::vector<wchar_t> buf(4096);
    DWORD cb = static_cast<DWORD>(buf.size() * sizeof(wchar_t) - sizeof(wchar_t));
    CUniqueRegKey key = OpenProductKey();
    if (::RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()), &cb) !=
        ERROR_SUCCESS)
        return L"<missing>";
    return std::wstring(buf.data());
}
} // namespace reg

std::vector<MenuItem> ReadMenu(HMENU hMenu)
{
    std::vector<MenuItem> items;
    int n = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < n; ++i) {
        wchar_t text[512] = {};
        ::GetMenuStringW(hMenu, i, text, 512, MF_BYPOSITION);
        MENUITEMINFOW mii = {};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_BITMAP | MIIM_ID;
        ::GetMenuItemInfoW(hMenu, i, TRUE, &mii);
        items.push_back({text, mii.wID, mii.hbmpItem});
    }
    return items;
}

void ShellExtTest::SetUp()
{
    reg::DeleteProductKey();
    reg::SetDword(L"ContextMenuEnabled", 1);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_scratch = fs::path(temp) / (L"kvshellext " + std::to_wstring(::GetCurrentProcessId()));
    fs::remove_all(m_scratch);
    fs::create_directories(m_scratch);
    m_recordFile = (m_scratch / L"record.txt").wstring();
    ::SetEnvironmentVariableW(L"KV_RECORD_FILE", m_recordFile.c_str());
}

void ShellExtTest::TearDown()
{
    reg::DeleteProductKey();
    std::error_code ec;
    fs::remove_all(m_scratch, ec);
}

std::wstring ShellExtTest::MakeFile(const std::wstring& name)
{
    fs::path p = m_scratch / name;
    std::ofstream(p) << "data";
    return p.wstring();
}

std::wstring ShellExtTest::MakeFolder(const std::wstring& name)
{
    fs::path p = m_scratch / name;
    fs::create_directories(p);
    return p.wstring();
}

std::wstring ShellExtTest::MakeDeepFile(size_t nLength, const std::wstring& name)
{
    std::wstring path = m_scratch.wstring();
    while (path.size() + 1 + name.size() < nLength) {
        path += L"\\" + std::wstring(std::min<size_t>(120, nLength - path.size()), L'd');
        ::CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
    }
    path += L"\\" + name;
    CUniqueFileHandle file(::CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << "making a file of " << path.size() << " characters";
    return path;
}

HRESULT ShellExtTest::InitializeWith(const std::vector<std::wstring>& names)
{
    CRef<CDataObjectDouble> data(new CDataObjectDouble(names));
    HRESULT hr = m_obj->Initialize(nullptr, data.Get(), nullptr);
    EXPECT_EQ(data->MediaHandedOut(), data->MediaReleased());
    return hr;
}

HRESULT ShellExtTest::BuildOn(HMENU hMenu, UINT uFlags)
{
    return m_obj->QueryContextMenu(hMenu, 0, kFirstId, kFirstId + 10, uFlags);
}

HRESULT ShellExtTest::Invoke(UINT_PTR nVerb)
{
    CMINVOKECOMMANDINFO ici = {};
    ici.cbSize = sizeof(ici);
    ici.lpVerb = reinterpret_cast<LPCSTR>(nVerb);
    ici.nShow = SW_SHOWNORMAL;
    return m_obj->InvokeCommand(&ici);
}

std::wstring ShellExtTest::HelpW(UINT_PTR nIndex, UINT uType)
{
    wchar_t buf[256];
    buf[0] = L'?';
    EXPECT_EQ(S_OK, m_obj->GetCommandString(nIndex, uType, nullptr, reinterpret_cast<CHAR*>(buf), 256));
    return buf;
}

std::wstring ShellExtTest::InstallRecorder(const std::wstring& folder, const std::wstring& name)
{
    // The build gives the recorder's host path; wine shows the host's root as drive Z:.
    std::wstring source = L"Z:" + fs::path(KV_RECORDER_EXE).wstring();
    for (wchar_t& ch : source)
        if (ch == L'/')
            ch = L'\\';
    fs::path dir = folder.empty() ? m_scratch : m_scratch / folder;
    fs::create_directories(dir);
    fs::path target = dir / name;
    EXPECT_TRUE(::CopyFileW(source.c_str(), target.c_str(), FALSE))
        << "copying " << fs::path(source).string();
    return target.wstring();
}

std::vector<std::string> ShellExtTest::WaitForRecords(size_t nLines)
{
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 150; ++attempt) {
        std::ifstream in(fs::path(m_recordFile), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string all = text.str();
        lines.clear();
        for (size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(all.substr(at, end - at));
        if (lines.size() >= nLines)
            return lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return lines;
}

std::string ShellExtTest::Utf8(const std::wstring& text)
{
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    out.resize(cb - 1);
    return out;
}
