#pragma once
// What the extension object's tests share: the object held the way Explorer holds it, the
// product key in the real (wine) registry, a scratch folder of real files, and the recording
// program standing in for the comparison program.
#include <gtest/gtest.h>
#include <windows.h>
#include <filesystem>
#include <string>
#include <vector>
#include "DataObjectDouble.h"
#include "KorvaneShellExt.h"
#include "UniqueHandle.h"

// Holds one reference, as Explorer does between creation and the final Release.
template <typename T> class CRef {
public:
    explicit CRef(T* p = nullptr) : m_p(p) {}
    ~CRef()
    {
        if (m_p)
            m_p->Release();
    }
    CRef(const CRef&) = delete;
    CRef& operator=(const CRef&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    void Reset(T* p)
    {
        if (m_p)
            m_p->Release();
        m_p = p;
    }

private:
    T* m_p;
};

// Gives tests the members the object keeps to itself.
class CTestableShellExt : public CKorvaneShellExt {
public:
    using CKorvaneShellExt::m_nFileCount;
    using CKorvaneShellExt::m_nMenuState;
    using CKorvaneShellExt::m_strFile1;
    using CKorvaneShellExt::m_strFile2;
    using CKorvaneShellExt::m_strFirstSelection;
    using CKorvaneShellExt::SetStartCalls;
    using CKorvaneShellExt::StartCalls;
    HBITMAP Bitmap() const { return m_bmpMenu; }
};

CTestableShellExt* NewShellExt(); // with one reference taken

namespace reg {
void DeleteProductKey();
bool ProductKeyExists();
void SetDword(LPCWSTR name, DWORD value);
void SetString(LPCWSTR name, const std::wstring& text);
void SetRaw(LPCWSTR name, DWORD type, const void* data, DWORD cb);
std::wstring GetString(LPCWSTR name); // "<missing>" when the value is absent
} // namespace reg

struct MenuItem {
    std::wstring text;
    UINT id;
    HBITMAP bitmap;
};
std::vector<MenuItem> ReadMenu(HMENU hMenu);

// A fresh product key with the menu switched on, a scratch folder, and the object.
class ShellExtTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring MakeFile(const std::wstring& name); // full path of a new file in the scratch folder
    std::wstring MakeFolder(const std::wstring& name);
    // A new file in folders of the scratch area nested until its full path is at least nLength
    // characters; its full path, without the "\\?\" form it had to be made with.
    std::wstring MakeDeepFile(size_t nLength, const std::wstring& name = L"deep.txt");
    HRESULT InitializeWith(const std::vector<std::wstring>& names);
    // QueryContextMenu on a fresh menu holding one item of the host; returns the result.
    HRESULT BuildOn(HMENU hMenu, UINT uFlags = CMF_NORMAL);
    HRESULT Invoke(UINT_PTR nVerb);
    std::wstring HelpW(UINT_PTR nIndex, UINT uType = GCS_HELPTEXTW);

    // The recorder copied to a folder of the scratch area, under the given name; returns its path.
    std::wstring InstallRecorder(const std::wstring& folder, const std::wstring& name = L"korvane.exe");
    // The lines the recorder wrote, waiting up to a few seconds for nLines of them.
    std::vector<std::string> WaitForRecords(size_t nLines = 1);
    static std::string Utf8(const std::wstring& text);

    std::filesystem::path m_scratch;
    std::wstring m_recordFile;
    CRef<CTestableShellExt> m_obj{NewShellExt()};
    static const UINT kFirstId = 100;
};
