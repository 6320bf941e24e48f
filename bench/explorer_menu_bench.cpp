// One whole opening of Windows 11's menu against the classic menu, for the same selection of 2,
// 1,000 and 10,000 items: the root's state, the enumeration, every sub-command's state and the
// shown titles, on a new root each time as a new menu gets one; the classic side is Initialize
// and QueryContextMenu on a new extension object. The selection is folders with two files at its
// end, so both must look at every item. The Windows 11 side is given items that answer from
// memory, as Explorer's answer from what their folder listed (wine's own shell items cost
// milliseconds each, which the last column shows for real items of the 2-item selection); the
// classic side asks the file system for each name.
// Run by hand under wine: (cd build && ../scripts/winerun bench/explorer_menu_bench.exe)
#include <windows.h>
#include <shlobj.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "BenchClock.h"
#include "DataObjectDouble.h"
#include "ExplorerCommandHost.h"
#include "KorvaneExplorerCommand.h"
#include "KorvaneShellExt.h"
#include "ShellItemDouble.h"
#include "ShellItemSelection.h"
#include "UniqueHandle.h"

namespace fs = std::filesystem;

namespace {
template <typename Round> double MedianMicroseconds(int nRounds, Round round)
{
    std::vector<double> samples;
    for (int i = 0; i < nRounds; ++i) {
        LARGE_INTEGER t0, t1;
        ::QueryPerformanceCounter(&t0);
        round();
        ::QueryPerformanceCounter(&t1);
        samples.push_back(Microseconds(t0, t1));
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

size_t OpenWindows11Menu(IShellItemArray* pSelection)
{
    CUniqueInterface<IExplorerCommand> pRoot;
    if (FAILED(CKorvaneExplorerCommand::CreateInstance(nullptr, IID_IExplorerCommand, pRoot.PutVoid())))
        return 0;
    return ShownSubCommands(pRoot.Get(), pSelection).size();
}

// What the items cost themselves: the platform calls one walk over the selection must make.
void BareItemWalk(IShellItemArray* pSelection)
{
    DWORD nItems = 0;
    pSelection->GetCount(&nItems);
    for (DWORD i = 0; i < nItems; ++i) {
        CUniqueInterface<IShellItem> pItem;
        SFGAOF nAttributes = 0;
        CUniqueCoTaskText strPath;
        if (SUCCEEDED(pSelection->GetItemAt(i, pItem.Put())) &&
            SUCCEEDED(pItem->GetAttributes(SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_STREAM, &nAttributes)) &&
            !(nAttributes & SFGAO_FOLDER))
            pItem->GetDisplayName(SIGDN_FILESYSPATH, strPath.Put());
    }
}

int OpenClassicMenu(IDataObject* pData, bool bInitialize, CKorvaneShellExt* pReused)
{
    CKorvaneShellExt* p = pReused;
    if (bInitialize) {
        p = new CKorvaneShellExt;
        p->AddRef();
        p->Initialize(nullptr, pData, nullptr);
    }
    CUniqueMenu hMenu(::CreatePopupMenu());
    const HRESULT hr = p->QueryContextMenu(hMenu.Get(), 0, 1, 100, CMF_NORMAL);
    if (bInitialize)
        p->Release();
    return HRESULT_CODE(hr);
}
} // namespace

int main()
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path scratch = fs::path(temp) / L"kvexplorermenubench";
    fs::create_directories(scratch);
    std::vector<std::wstring> paths;
    // A hundred folders of a hundred: no folder of unusual size (wine looks a name up by reading its folder).
    for (int i = 0; i < 9998; ++i) {
        fs::path dir = scratch / (L"g" + std::to_wstring(i / 100)) / (L"d" + std::to_wstring(i));
        fs::create_directories(dir);
        paths.push_back(dir.wstring());
    }
    for (const wchar_t* name : {L"a.txt", L"b.txt"}) {
        std::ofstream(scratch / L"g99" / name) << "text";
        paths.push_back((scratch / L"g99" / name).wstring());
    }

    CUniqueRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                      nullptr);
    DWORD dwOn = 1;
    ::RegSetValueExW(key.Get(), L"ContextMenuEnabled", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dwOn),
                     sizeof dwOn);

    std::printf("%8s  %22s  %22s  %22s  %26s\n", "items", "Windows 11 menu (us)", "classic Init+QCM (us)",
                "classic QCM alone (us)", "wine's shell items walk (us)");
    for (size_t n : {2u, 1000u, 10000u}) {
        const std::vector<std::wstring> selection(paths.end() - n, paths.end());
        std::vector<ItemInMemory> items;
        for (const std::wstring& path : selection)
            items.push_back({path, path.back() == L't' ? kFileItem : kFolderItem});
        CUniqueInterface<CShellItemArrayDouble> pInMemory = CShellItemArrayDouble::Make(items);
        CDataObjectDouble* pData = new CDataObjectDouble(selection);
        const int nRounds = n > 1000 ? 11 : 101;
        size_t nShown = 0;
        const double t11 = MedianMicroseconds(nRounds, [&] { nShown = OpenWindows11Menu(pInMemory.Get()); });
        int nItems = 0;
        const double tClassic =
            MedianMicroseconds(nRounds, [&] { nItems = OpenClassicMenu(pData, true, nullptr); });
        CKorvaneShellExt* pInitialized = new CKorvaneShellExt;
        pInitialized->AddRef();
        pInitialized->Initialize(nullptr, pData, nullptr);
        const double tQuery =
            MedianMicroseconds(nRounds, [&] { OpenClassicMenu(pData, false, pInitialized); });
        pInitialized->Release();
        pData->Release();
        double tWine = -1;
        if (n == 2) {
            CUniqueInterface<IShellItemArray> pArray = MakeShellItemArray(selection);
            if (pArray)
                tWine = MedianMicroseconds(5, [&] { BareItemWalk(pArray.Get()); });
        }
        std::printf("%8zu  %22.1f  %22.1f  %22.1f  %26.1f   (shown: %zu and %d items)\n", n, t11, tClassic,
                    tQuery, tWine, nShown, nItems);
    }
    ::RegDeleteValueW(key.Get(), L"ContextMenuEnabled");
    std::error_code ec;
    fs::remove_all(scratch, ec);
    ::CoUninitialize();
    return 0;
}
