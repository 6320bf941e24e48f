// The extension object's cost in Explorer's hands: one context-menu round (create the object,
// Initialize with two files, QueryContextMenu on a fresh menu, one help text, Release), and
// Initialize over growing selections of folders, which must grow linearly.
// Run by hand under wine: scripts/winerun build/bench/menu_bench.exe
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "DataObjectDouble.h"
#include "KorvaneShellExt.h"
#include "UniqueHandle.h"

namespace fs = std::filesystem;

namespace {
double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    return (to.QuadPart - from.QuadPart) * 1e6 / frequency.QuadPart;
}

double Percentile(std::vector<double> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(p * (samples.size() - 1))];
}

// One round, with the time of each step: create, Initialize, QueryContextMenu, help text, Release.
struct RoundTimes {
    double steps[5];
    double Total() const { return steps[0] + steps[1] + steps[2] + steps[3] + steps[4]; }
};

RoundTimes MenuRound(IDataObject* pData)
{
    RoundTimes times;
    LARGE_INTEGER t[6];
    ::QueryPerformanceCounter(&t[0]);
    CKorvaneShellExt* p = new CKorvaneShellExt;
    p->AddRef();
    ::QueryPerformanceCounter(&t[1]);
    p->Initialize(nullptr, pData, nullptr);
    ::QueryPerformanceCounter(&t[2]);
    CUniqueMenu menu(::CreatePopupMenu());
    p->QueryContextMenu(menu.Get(), 0, 1, 100, CMF_NORMAL);
    ::QueryPerformanceCounter(&t[3]);
    wchar_t help[256];
    p->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(help), 256);
    ::QueryPerformanceCounter(&t[4]);
    p->Release();
    ::QueryPerformanceCounter(&t[5]); // the menu is Explorer's: destroyed after the count

    for (int i = 0; i < 5; ++i)
        times.steps[i] = Microseconds(t[i], t[i + 1]);
    return times;
}

// Median time of Initialize over a selection.
double InitializeTime(IDataObject* pData)
{
    std::vector<double> samples;
    CKorvaneShellExt* p = new CKorvaneShellExt;
    p->AddRef();
    for (int i = 0; i < 300; ++i) {
        LARGE_INTEGER t0, t1;
        ::QueryPerformanceCounter(&t0);
        p->Initialize(nullptr, pData, nullptr);
        ::QueryPerformanceCounter(&t1);
        samples.push_back(Microseconds(t0, t1));
    }
    p->Release();
    return Percentile(samples, 0.5);
}
} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    fs::path scratch = fs::path(temp) / L"kvmenubench";
    fs::create_directories(scratch);
    std::ofstream(scratch / L"a.txt") << "a";
    std::ofstream(scratch / L"b.txt") << "b";

    CUniqueRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    DWORD dwOld = 0, cbOld = sizeof(dwOld);
    bool bHadSwitch = ::RegQueryValueExW(key.Get(), L"ContextMenuEnabled", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&dwOld), &cbOld) == ERROR_SUCCESS;
    DWORD dwOn = 1;
    ::RegSetValueExW(key.Get(), L"ContextMenuEnabled", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dwOn), sizeof(dwOn));

    CDataObjectDouble* pPair = new CDataObjectDouble({(scratch / L"a.txt").wstring(), (scratch / L"b.txt").wstring()});
    for (int i = 0; i < 200; ++i)
        MenuRound(pPair);
    std::vector<double> rounds, steps[5];
    for (int i = 0; i < 5000; ++i) {
        RoundTimes times = MenuRound(pPair);
        rounds.push_back(times.Total());
        for (int j = 0; j < 5; ++j)
            steps[j].push_back(times.steps[j]);
    }
    pPair->Release();
    std::printf("menu round (%zu rounds): median %.1f us, p99 %.1f us (target: median < 200 us)\n", rounds.size(),
                Percentile(rounds, 0.5), Percentile(rounds, 0.99));
    std::printf("  medians: create %.1f, Initialize %.1f, QueryContextMenu %.1f, help text %.1f, Release %.1f us\n",
                Percentile(steps[0], 0.5), Percentile(steps[1], 0.5), Percentile(steps[2], 0.5),
                Percentile(steps[3], 0.5), Percentile(steps[4], 0.5));

    std::vector<std::wstring> folders;
    for (int i = 0; i < 16; ++i) {
        fs::path dir = scratch / (L"dir" + std::to_wstring(i));
        fs::create_directories(dir);
        folders.push_back(dir.wstring());
    }
    double perItem1 = 0;
    for (size_t n : {1u, 2u, 4u, 8u, 16u}) {
        CDataObjectDouble* pData = new CDataObjectDouble(std::vector<std::wstring>(folders.begin(), folders.begin() + n));
        double t = InitializeTime(pData);
        pData->Release();
        if (n == 1)
            perItem1 = t;
        std::printf("Initialize over %2zu folders: median %.1f us, %.1f us per folder (%.2f x the 1-folder time)\n",
                    n, t, t / n, t / n / perItem1);
    }

    if (bHadSwitch)
        ::RegSetValueExW(key.Get(), L"ContextMenuEnabled", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dwOld), sizeof(dwOld));
    else
        ::RegDeleteValueW(key.Get(), L"ContextMenuEnabled");
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
