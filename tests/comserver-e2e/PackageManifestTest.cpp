// The sparse package's manifest as the build writes it, read with the system's own XML reader
// (XmlLite) and held against what the DLL itself says: its version resource and the class keys a
// per-user registration writes.
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlwapi.h>
#include <xmllite.h>
#include <cwctype>
#include <map>
#include <string>
#include "PackageIdentity.h"
#include "ProductVersion.h"
#include "E2ESupport.h"
#include "UniqueHandle.h"

using namespace e2e;

namespace {
const wchar_t kFoundation[] = L"http://schemas.microsoft.com/appx/manifest/foundation/windows10";
const wchar_t kDesktop5[] = L"http://schemas.microsoft.com/appx/manifest/desktop/windows10/5";
const wchar_t kCom[] = L"http://schemas.microsoft.com/appx/manifest/com/windows10";

using Attributes = std::map<std::wstring, std::wstring>;
struct Manifest {
    HRESULT hrRead = E_FAIL; // S_FALSE once the reader reached the end of a well-formed document
    std::map<std::wstring, Attributes> elements; // "namespace|name" of each element's first occurrence
    const Attributes& Element(const wchar_t* pszNamespace, const wchar_t* pszName)
    {
        return elements[std::wstring(pszNamespace) + L"|" + pszName];
    }
};

template <typename T> struct CReleaser {
    T* p = nullptr;
    ~CReleaser()
    {
        if (p)
            p->Release();
    }
};

Manifest ReadManifest(const std::wstring& strPath)
{
    Manifest manifest;
    // The system's XML reader; mingw-w64 ships its header but no import library.
    using CreateXmlReaderFunc = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    CUniqueLibrary hXmlLite(::LoadLibraryW(L"xmllite.dll"));
    auto pfnCreate = hXmlLite ? reinterpret_cast<CreateXmlReaderFunc>(reinterpret_cast<void*>(
                                    ::GetProcAddress(hXmlLite.Get(), "CreateXmlReader")))
                              : nullptr;
    CReleaser<IStream> stream;
    CReleaser<IXmlReader> reader;
    if (!pfnCreate || FAILED(::SHCreateStreamOnFileW(strPath.c_str(), STGM_READ, &stream.p)) ||
        FAILED(pfnCreate(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader.p), nullptr)) ||
        FAILED(reader.p->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
        FAILED(reader.p->SetInput(stream.p)))
        return manifest;
    XmlNodeType type;
    while ((manifest.hrRead = reader.p->Read(&type)) == S_OK) {
        const wchar_t* pszName = nullptr;
        const wchar_t* pszNamespace = nullptr;
        const wchar_t* pszValue = nullptr;
        if (type != XmlNodeType_Element)
            continue;
        reader.p->GetLocalName(&pszName, nullptr);
        reader.p->GetNamespaceUri(&pszNamespace, nullptr);
        const std::wstring strElement = std::wstring(pszNamespace) + L"|" + pszName;
        Attributes attributes;
        for (HRESULT hr = reader.p->MoveToFirstAttribute(); hr == S_OK;
             hr = reader.p->MoveToNextAttribute()) {
            reader.p->GetLocalName(&pszName, nullptr);
            reader.p->GetValue(&pszValue, nullptr);
            attributes[pszName] = pszValue;
        }
        manifest.elements.emplace(strElement, attributes);
    }
    return manifest;
}

std::wstring FileVersionOf(const std::wstring& strFile)
{
    DWORD dwHandle = 0;
    std::string block(::GetFileVersionInfoSizeW(strFile.c_str(), &dwHandle), '\0');
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT cb = 0;
    if (block.empty() ||
        !::GetFileVersionInfoW(strFile.c_str(), 0, static_cast<DWORD>(block.size()), &block[0]) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &cb))
        return L"<none>";
    return std::to_wstring(HIWORD(pInfo->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(pInfo->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(pInfo->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(pInfo->dwFileVersionLS));
}

std::wstring Upper(std::wstring str)
{
    for (wchar_t& ch : str)
        ch = static_cast<wchar_t>(std::towupper(ch));
    return str;
}

TEST(PackageManifest, IsWellFormedAndNamesWhatTheDllRegisters)
{
    Manifest manifest = ReadManifest(FromBuildTree(KV_PACKAGE_MANIFEST));
    ASSERT_EQ(manifest.hrRead, S_FALSE) << "the manifest is not well-formed XML";

    const std::wstring strDll = StageDll(L"kvcomserver-package");
    ASSERT_FALSE(strDll.empty());
    const Attributes& identity = manifest.Element(kFoundation, L"Identity");
    EXPECT_EQ(identity.at(L"Version"), FileVersionOf(strDll));
    EXPECT_EQ(identity.at(L"Version"), L"" KV_PRODUCT_VERSION_TEXT);
    // Neutral, as packages with an external location are asked to be; Windows 11 only, where the
    // classic handler steps aside for it.
    EXPECT_EQ(identity.at(L"ProcessorArchitecture"), L"neutral");
    EXPECT_EQ(manifest.Element(kFoundation, L"TargetDeviceFamily").at(L"MinVersion"),
              L"10.0." + std::to_wstring(KV_PACKAGE_MIN_BUILD) + L".0");

    // The menu extension for every file type, and the COM server entry of the same class.
    EXPECT_EQ(manifest.Element(kDesktop5, L"ItemType").at(L"Type"), L"*");
    const std::wstring strClsid = Upper(manifest.Element(kDesktop5, L"Verb").at(L"Clsid"));
    EXPECT_EQ(strClsid, L"606485C3-F299-4A73-BD61-41773E2170D3");
    const Attributes& server = manifest.Element(kCom, L"Class");
    EXPECT_EQ(Upper(server.at(L"Id")), strClsid);

    // What a registration of the DLL writes for that class ("STA" is the manifest's word for the
    // registry's "Apartment").
    ASSERT_EQ(RunRegsvr32(strDll, false, L"/n /i:user"), 0u);
    const std::wstring strServerKey = L"Software\\Classes\\CLSID\\{" + strClsid + L"}\\InprocServer32";
    const std::wstring strRegistered = ReadText(HKEY_CURRENT_USER, strServerKey);
    const std::wstring strThreading = ReadText(HKEY_CURRENT_USER, strServerKey, L"ThreadingModel");
    ASSERT_EQ(RunRegsvr32(strDll, true, L"/n /i:user"), 0u);
    EXPECT_EQ(strRegistered, strDll);
    EXPECT_EQ(server.at(L"Path"), strRegistered.substr(strRegistered.find_last_of(L'\\') + 1));
    EXPECT_EQ(strThreading, L"Apartment");
    EXPECT_EQ(server.at(L"ThreadingModel"), L"STA");

    // The external location, a folder of its own, holds the server and every picture the
    // manifest names.
    const std::wstring strExternal = FromBuildTree(KV_EXTERNAL_LOCATION) + L"\\";
    const Attributes& visuals =
        manifest.Element(L"http://schemas.microsoft.com/appx/manifest/uap/windows10", L"VisualElements");
    for (const std::wstring& strFile :
         {server.at(L"Path"), visuals.at(L"Square150x150Logo"), visuals.at(L"Square44x44Logo"),
          std::wstring(L"Assets\\StoreLogo.png")}) {
        EXPECT_NE(::GetFileAttributesW((strExternal + strFile).c_str()), INVALID_FILE_ATTRIBUTES) << strFile;
    }
}
} // namespace
