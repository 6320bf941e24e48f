#ifndef KV_BENCH_CLOCK_H
#define KV_BENCH_CLOCK_H
// The benchmarks' one clock: the performance counter, in microseconds.
#include <windows.h>

inline double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

#endif
