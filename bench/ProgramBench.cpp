// The whole updater program on one download: kvupdate.exe started through the proxy settings (the
// caller sets http_proxy), timed from the moment its dialog has gone to the notification area (the
// worker starts right after) to the install prompt, window updates included; its peak working set
// is read before it is ended.
//   program_bench EXPECTED_BYTES
// Prints "program <bytes> <seconds> <MB/s> <peak working set bytes>".
#include <windows.h>
#include <psapi.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include "UpdaterDriver.h"

namespace {
// The icon is added just before the dialog hides and starts the worker; a dialog not yet shown
// looks hidden too, but has no icon.
bool IsInTray(const CUpdaterProcess& updater, HWND hDialog)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hDialog;
    data.uID = 201;
    return ::Shell_NotifyIconA(NIM_MODIFY, &data) && !updater.IsDialogVisible();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: program_bench EXPECTED_BYTES\n");
        return 2;
    }
    const double dBytes = std::strtod(argv[1], nullptr);
    CUniqueRegKey key; // the install prompt needs the product's key
    ::RegCreateKeyExA(HKEY_CURRENT_USER, ProductKeyPath(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);

    // The port comes through http_proxy, which the caller has set for this process already.
    CUpdaterProcess updater(0);
    HWND hDialog = updater.WaitForDialog();
    if (!hDialog || !WaitFor([&] { return IsInTray(updater, hDialog); }, 60000))
        return 1;
    auto start = std::chrono::steady_clock::now();
    if (!WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }, 600000))
        return 1;
    double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    CUniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, updater.GetId()));
    ::GetProcessMemoryInfo(process.Get(), &pmc, sizeof(pmc));
    updater.Kill();
    ::DeleteFileA(UpdateFilePath().c_str());
    std::printf("program %.0f %.3f %.1f %llu\n", dBytes, dSeconds, dBytes / dSeconds / 1e6,
                static_cast<unsigned long long>(pmc.PeakWorkingSetSize));
    return 0;
}
