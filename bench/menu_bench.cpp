// The extension object over a long Explorer life: 100,000 context-menu rounds in one process
// (create the object, Initialize with one file, QueryContextMenu on a real menu with a remembered
// first item, every item's help text, Release), with the process's handle, GDI and USER object
// counts and private bytes every 10,000 rounds, and the round's time against a bare loop of the
// platform calls the round must make. Then Initialize over growing selections of folders, which
// must grow linearly.
// Run by hand under wine: (cd build && ../scripts/winerun bench/menu_bench.exe)
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "BenchClock.h"
#include "DataObjectDouble.h"
#include "KorvaneShellExt.h"
#include "UniqueHandle.h"
#include "resource.h"

namespace fs = std::filesystem;

namespace {
const int kRounds = 100000;
const int kWarmUpRounds = 1000; // what the process may grow by before it must stay flat
const int kCheckpointRounds = 10000;
const int kBareEvery = 10; // one bare-loop iteration after every tenth round, so both see the same load
const int kItems = 4;      // one file and a remembered first item: the largest menu

double Percentile(std::vector<float> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(p * (samples.size() - 1))];
}

// ---- What the process holds ----

struct Counters {
    DWORD nHandles = 0;
    DWORD nGdi = 0;
    DWORD nUser = 0;
    SIZE_T cbPrivate = 0;
    // Read by other means, for platforms that do not keep the four above: the value the next
    // kernel handle gets (handle tables hand out the lowest free slot, so leaked handles push it
    // up), and the committed private pages found by walking the address space.
    ULONG_PTR nNextHandle = 0;
    SIZE_T cbCommitted = 0;
};

SIZE_T CommittedPrivateBytes()
{
    SIZE_T cb = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const BYTE* p = nullptr; ::VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi);
         p = static_cast<const BYTE*>(mbi.BaseAddress) + mbi.RegionSize)
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE)
            cb += mbi.RegionSize;
    return cb;
}

Counters ReadCounters()
{
    Counters c;
    {
        CUniqueKernelHandle probe(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        c.nNextHandle = reinterpret_cast<ULONG_PTR>(probe.Get());
    }
    c.cbCommitted = CommittedPrivateBytes();
    ::GetProcessHandleCount(::GetCurrentProcess(), &c.nHandles);
    c.nGdi = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    c.nUser = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                               sizeof(pmc)))
        c.cbPrivate = pmc.PrivateUsage;
    return c;
}

// Whether this platform keeps each counter: a counter that does not move when the process takes
// sixteen more of what it counts would not show a leak either.
struct CounterKept {
    bool bHandles, bGdi, bUser, bPrivate, bNextHandle, bCommitted;
};

CounterKept ProbeCounters()
{
    const int kProbe = 16;
    Counters before = ReadCounters();
    std::vector<CUniqueKernelHandle> events;
    std::vector<CUniqueGdiObject> brushes;
    std::vector<CUniqueMenu> menus;
    for (int i = 0; i < kProbe; ++i) {
        events.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        brushes.emplace_back(::CreateSolidBrush(RGB(i, i, i)));
        menus.emplace_back(::CreatePopupMenu());
    }
    const SIZE_T cbBlock = 16 << 20;
    void* pBlock = ::VirtualAlloc(nullptr, cbBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (pBlock)
        std::fill_n(static_cast<char*>(pBlock), cbBlock, 1);
    Counters after = ReadCounters();
    if (pBlock)
        ::VirtualFree(pBlock, 0, MEM_RELEASE);
    CounterKept kept;
    kept.bHandles = after.nHandles >= before.nHandles + kProbe;
    kept.bGdi = after.nGdi >= before.nGdi + kProbe;
    kept.bUser = after.nUser >= before.nUser + kProbe;
    kept.bPrivate = after.cbPrivate >= before.cbPrivate + cbBlock / 2;
    kept.bNextHandle = after.nNextHandle >= before.nNextHandle + kProbe * sizeof(DWORD);
    kept.bCommitted = after.cbCommitted >= before.cbCommitted + cbBlock / 2;
    std::printf("counters this platform keeps (each probed with 16 events, brushes, menus and 16 MiB):\n");
    auto show = [](const char* name, bool bKept, unsigned long long from, unsigned long long to) {
        std::printf("  %-14s %s (%llu -> %llu)\n", name,
                    bKept ? "kept" : "NOT kept: its figures below prove nothing here", from, to);
    };
    show("handles", kept.bHandles, before.nHandles, after.nHandles);
    show("GDI objects", kept.bGdi, before.nGdi, after.nGdi);
    show("USER objects", kept.bUser, before.nUser, after.nUser);
    show("private bytes", kept.bPrivate, before.cbPrivate, after.cbPrivate);
    show("next handle", kept.bNextHandle, before.nNextHandle, after.nNextHandle);
    show("committed", kept.bCommitted, before.cbCommitted, after.cbCommitted);
    return kept;
}

// ---- The round and its bare loop ----

// The time of each step of a round: create, Initialize, QueryContextMenu, help texts, Release.
struct RoundTimes {
    float steps[5];
};

RoundTimes MenuRound(IDataObject* pData)
{
    LARGE_INTEGER t[6];
    CUniqueMenu menu(::CreatePopupMenu()); // Explorer's menu, made before the round and kept after it
    ::QueryPerformanceCounter(&t[0]);
    IContextMenu* pMenu = nullptr;
    CKorvaneShellExt::CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&pMenu));
    ::QueryPerformanceCounter(&t[1]);
    IShellExtInit* pInit = nullptr;
    pMenu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&pInit));
    pInit->Initialize(nullptr, pData, nullptr);
    pInit->Release();
    ::QueryPerformanceCounter(&t[2]);
    HRESULT hr = pMenu->QueryContextMenu(menu.Get(), 0, 100, 199, CMF_NORMAL);
    ::QueryPerformanceCounter(&t[3]);
    for (UINT i = 0; i < HRESULT_CODE(hr); ++i) {
        wchar_t szHelp[256];
        pMenu->GetCommandString(i, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(szHelp), 256);
    }
    ::QueryPerformanceCounter(&t[4]);
    pMenu->Release();
    ::QueryPerformanceCounter(&t[5]);

    RoundTimes times;
    for (int i = 0; i < 5; ++i)
        times.steps[i] = static_cast<float>(Microseconds(t[i], t[i + 1]));
    return times;
}

// How the extension holds its picture, read from the menus of two live objects: one bitmap for the
// process, one per object, or none.
enum class Picture { Shared, PerObject, None };

Picture ObservePicture(IDataObject* pData)
{
    HBITMAP hBitmaps[2] = {};
    IContextMenu* pMenus[2] = {};
    CUniqueMenu menus[2];
    for (int i = 0; i < 2; ++i) {
        menus[i].Reset(::CreatePopupMenu());
        CKorvaneShellExt::CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&pMenus[i]));
        IShellExtInit* pInit = nullptr;
        pMenus[i]->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&pInit));
        pInit->Initialize(nullptr, pData, nullptr);
        pInit->Release();
        pMenus[i]->QueryContextMenu(menus[i].Get(), 0, 100, 199, CMF_NORMAL);
        MENUITEMINFOW mii = {sizeof(mii)};
        mii.fMask = MIIM_BITMAP;
        if (::GetMenuItemInfoW(menus[i].Get(), 0, TRUE, &mii))
            hBitmaps[i] = mii.hbmpItem;
    }
    for (IContextMenu* p : pMenus)
        p->Release();
    if (!hBitmaps[0] || !hBitmaps[1])
        return Picture::None;
    return hBitmaps[0] == hBitmaps[1] ? Picture::Shared : Picture::PerObject;
}

// The platform calls a round cannot do without, and nothing else: take the file from the
// selection, read the switch and the remembered item from the created key, load the item texts,
// insert them with their picture, load the help texts. The picture is loaded here as often as the
// extension loads it (with the system's loader, as a DIB section).
float BareRound(IDataObject* pData, HINSTANCE hModule, HBITMAP hShared, bool bLoadPicture)
{
    static const UINT kTextIds[kItems] = {IDS_COMPARE_TO_TEXT, IDS_COMPARE_TO_BINARY, IDS_COMPARE_OTHER_TEXT,
                                          IDS_COMPARE_OTHER_BINARY};
    CUniqueMenu menu(::CreatePopupMenu());
    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);

    FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (SUCCEEDED(pData->GetData(&fmt, &medium))) {
        HDROP hDrop = static_cast<HDROP>(medium.hGlobal);
        wchar_t szName[MAX_PATH];
        if (::DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0) > 0 &&
            ::DragQueryFileW(hDrop, 0, szName, MAX_PATH) > 0)
            ::GetFileAttributesW(szName);
        ::ReleaseStgMedium(&medium);
    }

    CUniqueRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                      nullptr);
    wchar_t szFirst[200];
    DWORD cb = sizeof(szFirst);
    ::RegQueryValueExW(key.Get(), L"FirstSelection", nullptr, nullptr, reinterpret_cast<BYTE*>(szFirst), &cb);
    DWORD dwEnabled = 0;
    cb = sizeof(dwEnabled);
    ::RegQueryValueExW(key.Get(), L"ContextMenuEnabled", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&dwEnabled), &cb);
    key.Reset();

    CUniqueGdiObject picture;
    if (bLoadPicture)
        picture.Reset(
            ::LoadImageW(hModule, MAKEINTRESOURCEW(IDB_MENU), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    HBITMAP hPicture = bLoadPicture ? static_cast<HBITMAP>(picture.Get()) : hShared;
    for (int i = 0; i < kItems; ++i) {
        wchar_t szText[256];
        ::LoadStringW(hModule, kTextIds[i], szText, 256);
        ::InsertMenuW(menu.Get(), i, MF_BYPOSITION | MF_STRING, 100 + i, szText);
    }
    for (int i = 0; i < kItems; ++i) {
        MENUITEMINFOW mii = {sizeof(mii)};
        mii.fMask = MIIM_BITMAP;
        mii.hbmpItem = hPicture;
        ::SetMenuItemInfoW(menu.Get(), i, TRUE, &mii);
    }
    for (int i = 0; i < kItems; ++i) {
        wchar_t szHelp[256];
        ::LoadStringW(hModule, kTextIds[i] + 1, szHelp, 256);
    }
    picture.Reset();

    ::QueryPerformanceCounter(&t1);
    return static_cast<float>(Microseconds(t0, t1));
}

void PrintCounters(int nRounds, const Counters& c)
{
    std::printf("  %7d  %8lu  %8lu  %8lu  %12llu  %11llu  %14llu\n", nRounds, c.nHandles, c.nGdi, c.nUser,
                static_cast<unsigned long long>(c.cbPrivate / 1024),
                static_cast<unsigned long long>(c.nNextHandle),
                static_cast<unsigned long long>(c.cbCommitted / 1024));
}

// How many more GDI objects the process may still make. The platform caps them per process
// (Windows at 10,000 by default), so what a leak takes shows as room lost, also where the count
// itself is not kept. The list is the caller's, made before the rounds, so that its own storage
// does not show as growth.
int GdiRoom(std::vector<HGDIOBJ>& objects)
{
    objects.clear();
    while (objects.size() < objects.capacity()) {
        HGDIOBJ h = ::CreateSolidBrush(RGB(1, 2, 3));
        if (!h)
            break;
        objects.push_back(h);
    }
    for (HGDIOBJ h : objects)
        ::DeleteObject(h);
    int nRoom = static_cast<int>(objects.size());
    objects.clear();
    return nRoom;
}

// Whether a menu still comes out whole: every item inserted with a picture that is a live bitmap.
// A platform that counts no GDI or USER objects still caps them (some ten thousand per process),
// so a leak of one object every few rounds would break this long before the last round.
bool MenuIsWhole(IDataObject* pData)
{
    CUniqueMenu menu(::CreatePopupMenu());
    IContextMenu* pMenu = nullptr;
    if (FAILED(CKorvaneShellExt::CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&pMenu))))
        return false;
    IShellExtInit* pInit = nullptr;
    pMenu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&pInit));
    pInit->Initialize(nullptr, pData, nullptr);
    pInit->Release();
    HRESULT hr = pMenu->QueryContextMenu(menu.Get(), 0, 100, 199, CMF_NORMAL);
    bool bWhole = HRESULT_CODE(hr) == kItems && ::GetMenuItemCount(menu.Get()) == kItems;
    for (int i = 0; bWhole && i < kItems; ++i) {
        MENUITEMINFOW mii = {sizeof(mii)};
        mii.fMask = MIIM_BITMAP;
        bWhole = ::GetMenuItemInfoW(menu.Get(), i, TRUE, &mii) && ::GetObjectType(mii.hbmpItem) == OBJ_BITMAP;
    }
    pMenu->Release();
    return bWhole;
}

// Median time of Initialize over a selection.
double InitializeTime(IDataObject* pData)
{
    std::vector<float> samples;
    CKorvaneShellExt* p = new CKorvaneShellExt;
    p->AddRef();
    for (int i = 0; i < 300; ++i) {
        LARGE_INTEGER t0, t1;
        ::QueryPerformanceCounter(&t0);
        p->Initialize(nullptr, pData, nullptr);
        ::QueryPerformanceCounter(&t1);
        samples.push_back(static_cast<float>(Microseconds(t0, t1)));
    }
    p->Release();
    return Percentile(samples, 0.5);
}

// A product key value set for the run and put back as it was afterwards.
class CValueForRun {
public:
    CValueForRun(HKEY hKey, LPCWSTR lpszName, DWORD dwType, const void* pData, DWORD cbData)
        : m_hKey(hKey), m_strName(lpszName)
    {
        DWORD cbOld = 0;
        m_bHad = ::RegQueryValueExW(hKey, lpszName, nullptr, &m_dwOldType, nullptr, &cbOld) == ERROR_SUCCESS;
        m_old.resize(cbOld);
        if (m_bHad)
            ::RegQueryValueExW(hKey, lpszName, nullptr, nullptr, m_old.data(), &cbOld);
        ::RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(pData), cbData);
    }
    ~CValueForRun()
    {
        if (m_bHad)
            ::RegSetValueExW(m_hKey, m_strName.c_str(), 0, m_dwOldType, m_old.data(),
                             static_cast<DWORD>(m_old.size()));
        else
            ::RegDeleteValueW(m_hKey, m_strName.c_str());
    }
    CValueForRun(const CValueForRun&) = delete;
    CValueForRun& operator=(const CValueForRun&) = delete;

private:
    HKEY m_hKey;
    std::wstring m_strName;
    bool m_bHad = false;
    DWORD m_dwOldType = 0;
    std::vector<BYTE> m_old;
};

void LongLife(IDataObject* pData)
{
    CounterKept kept = ProbeCounters();
    Picture picture = ObservePicture(pData);
    HINSTANCE hModule = ::GetModuleHandleW(nullptr);
    CUniqueGdiObject shared;
    if (picture == Picture::Shared)
        shared.Reset(
            ::LoadImageW(hModule, MAKEINTRESOURCEW(IDB_MENU), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    std::printf("the extension's picture: %s\n", picture == Picture::Shared      ? "one for the process"
                                                 : picture == Picture::PerObject ? "one per object"
                                                                                 : "none");

    // The samples are reserved first, so their storage is not taken for growth of the rounds.
    std::vector<float> rounds, bare, steps[5];
    std::vector<HGDIOBJ> gdiProbe;
    gdiProbe.reserve(200000);
    rounds.reserve(kRounds);
    bare.reserve(kRounds / kBareEvery);
    for (std::vector<float>& s : steps)
        s.reserve(kRounds);

    std::printf("\n%d menu rounds (one file, a remembered first item: %d items):\n", kRounds, kItems);
    std::printf("  %7s  %8s  %8s  %8s  %12s  %11s  %14s\n", "rounds", "handles", "GDI", "USER", "private KiB",
                "next handle", "committed KiB");
    Counters atWarmUp;
    int nGdiRoomAtWarmUp = 0;
    for (int n = 1; n <= kRounds; ++n) {
        RoundTimes times = MenuRound(pData);
        float total = 0;
        for (int j = 0; j < 5; ++j) {
            steps[j].push_back(times.steps[j]);
            total += times.steps[j];
        }
        rounds.push_back(total);
        if (n % kBareEvery == 0)
            bare.push_back(
                BareRound(pData, hModule, static_cast<HBITMAP>(shared.Get()), picture == Picture::PerObject));
        if (n == kWarmUpRounds) {
            atWarmUp = ReadCounters();
            nGdiRoomAtWarmUp = GdiRoom(gdiProbe);
            PrintCounters(n, atWarmUp);
        } else if (n % kCheckpointRounds == 0) {
            PrintCounters(n, ReadCounters());
        }
    }
    Counters atEnd = ReadCounters();
    bool bWhole = MenuIsWhole(pData);
    int nGdiRoomAtEnd = GdiRoom(gdiProbe);

    // Flat: no growth that scales with the rounds. A leak of one object per round would add 99,000,
    // of three bytes per round about 290 KiB.
    const long long kObjectSlack = 16, kByteSlack = 256 * 1024;
    long long dHandles = static_cast<long long>(atEnd.nHandles) - atWarmUp.nHandles;
    long long dGdi = static_cast<long long>(atEnd.nGdi) - atWarmUp.nGdi;
    long long dUser = static_cast<long long>(atEnd.nUser) - atWarmUp.nUser;
    long long dPrivate = static_cast<long long>(atEnd.cbPrivate) - static_cast<long long>(atWarmUp.cbPrivate);
    long long dNextHandle =
        static_cast<long long>(atEnd.nNextHandle) - static_cast<long long>(atWarmUp.nNextHandle);
    long long dCommitted =
        static_cast<long long>(atEnd.cbCommitted) - static_cast<long long>(atWarmUp.cbCommitted);
    bool bFlat = dHandles <= kObjectSlack && dGdi <= kObjectSlack && dUser <= kObjectSlack &&
                 dPrivate <= kByteSlack &&
                 dNextHandle <= kObjectSlack * static_cast<long long>(sizeof(DWORD)) &&
                 dCommitted <= kByteSlack && nGdiRoomAtWarmUp - nGdiRoomAtEnd <= kObjectSlack;
    auto note = [](bool bKept) { return bKept ? "" : " (not kept here)"; };
    std::printf(
        "growth after the first %d rounds: handles %+lld%s, GDI %+lld%s, USER %+lld%s, private %+lld KiB%s,\n"
        "  next handle %+lld%s, committed %+lld KiB%s\n",
        kWarmUpRounds, dHandles, note(kept.bHandles), dGdi, note(kept.bGdi), dUser, note(kept.bUser),
        dPrivate / 1024, note(kept.bPrivate), dNextHandle, note(kept.bNextHandle), dCommitted / 1024,
        note(kept.bCommitted));
    std::printf(
        "  %s among the counters kept (target: all flat after the first %d rounds; slack %lld objects, %lld "
        "KiB)\n",
        bFlat ? "flat" : "NOT FLAT", kWarmUpRounds, kObjectSlack, kByteSlack / 1024);
    std::printf(
        "  room for new GDI objects (made until the platform refuses): %d after %d rounds, %d after %d\n",
        nGdiRoomAtWarmUp, kWarmUpRounds, nGdiRoomAtEnd, kRounds);
    std::printf(
        "  after the last round a menu still comes out whole (%d items, each with a live picture): %s\n",
        kItems, bWhole ? "yes" : "NO");

    double medianRound = Percentile(rounds, 0.5), medianBare = Percentile(bare, 0.5);
    std::printf("\nmenu round: median %.1f us, p99 %.1f us\n", medianRound, Percentile(rounds, 0.99));
    std::printf(
        "  medians: create %.1f, Initialize %.1f, QueryContextMenu %.1f, help texts %.1f, Release %.1f us\n",
        Percentile(steps[0], 0.5), Percentile(steps[1], 0.5), Percentile(steps[2], 0.5),
        Percentile(steps[3], 0.5), Percentile(steps[4], 0.5));
    std::printf(
        "bare loop of the round's platform calls (%zu iterations between the rounds: GetData, 2 "
        "DragQueryFileW, GetFileAttributesW, key create, 2 value reads, %d text loads and insertions, %d "
        "pictures set, %d help-text loads%s): median %.1f us\n",
        bare.size(), kItems, kItems, kItems, picture == Picture::PerObject ? ", the picture loaded" : "",
        medianBare);
    std::printf("ratio round / bare loop: %.2f (target: 1.25 or less)\n", medianRound / medianBare);
}
} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    fs::path scratch = fs::path(temp) / L"kvmenubench";
    fs::create_directories(scratch);
    std::ofstream(scratch / L"old.txt") << "old";
    std::ofstream(scratch / L"new.txt") << "new";

    CUniqueRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    {
        DWORD dwOn = 1;
        CValueForRun enabled(key.Get(), L"ContextMenuEnabled", REG_DWORD, &dwOn, sizeof(dwOn));
        std::wstring strFirst = (scratch / L"old.txt").wstring();
        CValueForRun first(key.Get(), L"FirstSelection", REG_SZ, strFirst.c_str(),
                           static_cast<DWORD>((strFirst.size() + 1) * sizeof(wchar_t)));

        CDataObjectDouble* pSingle = new CDataObjectDouble({(scratch / L"new.txt").wstring()});
        LongLife(pSingle);
        pSingle->Release();

        std::printf("\n");
        std::vector<std::wstring> folders;
        for (int i = 0; i < 16; ++i) {
            fs::path dir = scratch / (L"dir" + std::to_wstring(i));
            fs::create_directories(dir);
            folders.push_back(dir.wstring());
        }
        double perItem1 = 0;
        for (size_t n : {1u, 2u, 4u, 8u, 16u}) {
            CDataObjectDouble* pData =
                new CDataObjectDouble(std::vector<std::wstring>(folders.begin(), folders.begin() + n));
            double t = InitializeTime(pData);
            pData->Release();
            if (n == 1)
                perItem1 = t;
            std::printf("Initialize over %2zu folders: median %.1f us, %.1f us per folder (%.2f x the "
                        "1-folder time)\n",
                        n, t, t / n, t / n / perItem1);
        }
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
