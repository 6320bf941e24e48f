// The installer's signature check on a 10 MiB installer: what it adds to the end of a download
// (the updater's own signer, read once, and the installer) and to the click on Install (the
// installer alone). Run signed by the installer's publisher (bench/signature-bench.sh does that),
// so that the check is the updater's own.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <vector>
#include "PublisherSignature.h"

namespace {
struct CCost {
    double dWallMs;
    double dCpuMs;
};

ULONGLONG CpuTime100ns()
{
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    ::GetProcessTimes(::GetCurrentProcess(), &ftCreate, &ftExit, &ftKernel, &ftUser);
    auto toU64 = [](const FILETIME& ft) {
        return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    return toU64(ftKernel) + toU64(ftUser);
}

template <typename F> CCost Measure(F&& f)
{
    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    ULONGLONG ullCpu0 = CpuTime100ns();
    ::QueryPerformanceCounter(&t0);
    f();
    ::QueryPerformanceCounter(&t1);
    ULONGLONG ullCpu1 = CpuTime100ns();
    return {1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart),
            static_cast<double>(ullCpu1 - ullCpu0) / 10000.0};
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: signature_bench INSTALLER_10MIB SMALL_INSTALLER\n");
        return 2;
    }
    BOOL bAccepted = FALSE;
    CCost first = Measure([&] { bAccepted = IsSignedByUpdaterPublisher(argv[1]); });
    if (!bAccepted) {
        std::fprintf(stderr, "the 10 MiB installer was refused: is this program signed by its publisher?\n");
        return 1;
    }
    std::vector<CCost> again, small;
    for (int i = 0; i < 5; ++i) {
        again.push_back(Measure([&] { bAccepted &= IsSignedByUpdaterPublisher(argv[1]); }));
        small.push_back(Measure([&] { bAccepted &= IsSignedByUpdaterPublisher(argv[2]); }));
    }
    if (!bAccepted)
        return 1;
    auto median = [](std::vector<CCost> v) {
        std::sort(v.begin(), v.end(), [](const CCost& a, const CCost& b) { return a.dWallMs < b.dWallMs; });
        return v[v.size() / 2];
    };
    CCost a = median(again), s = median(small);
    std::printf("end of download (own signer + 10 MiB installer): %.0f ms wall, %.0f ms CPU\n", first.dWallMs,
                first.dCpuMs);
    std::printf("click on Install (10 MiB installer, median of 5):  %.0f ms wall, %.0f ms CPU\n", a.dWallMs,
                a.dCpuMs);
    std::printf("small installer (median of 5):                     %.0f ms wall, %.0f ms CPU\n", s.dWallMs,
                s.dCpuMs);
    std::printf("target: each check of a 10 MiB installer under 1000 ms CPU\n");
    return 0;
}
