// Registers and unregisters generated scripts of 10,000 and 100,000 keys against the in-memory
// registry and prints keys per second; the larger script should take at most 12 times as long.
#include "MemoryRegistry.h"
#include "Registrar.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {
// Keys in groups of ten under one NoRemove parent, each with a value and a ForceRemove subkey.
std::wstring GenerateScript(unsigned keys)
{
    std::wstring script = L"HKCR\r\n{\r\n    NoRemove Bench\r\n    {\r\n";
    for (unsigned group = 0; group < keys / 10; ++group) {
        script += L"        NoRemove 'Group " + std::to_wstring(group) + L"'\r\n        {\r\n";
        for (unsigned i = 0; i < 4; ++i) {
            script += L"            Key" + std::to_wstring(i) + L" = s 'value " + std::to_wstring(i) +
                      L"'\r\n            {\r\n                val D = d '" + std::to_wstring(group) +
                      L"'\r\n                ForceRemove Sub = b '0a1B'\r\n            }\r\n";
        }
        script += L"        }\r\n";
    }
    return script + L"    }\r\n}\r\n";
}

double SecondsToRun(const std::wstring& script)
{
    CMemoryRegistry registry;
    const auto start = std::chrono::steady_clock::now();
    if (CRegistrar(registry).RegisterText(script.c_str(), true) != 0 ||
        CRegistrar(registry).RegisterText(script.c_str(), false) != 0)
        std::printf("script failed\n");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

int main()
{
    // Each group of ten keys: the group key, four keys and four subkeys, plus one in ten of the parent.
    const unsigned smallKeys = 10000;
    const std::wstring small = GenerateScript(smallKeys);
    const std::wstring large = GenerateScript(smallKeys * 10);
    SecondsToRun(small); // warm-up
    const double smallSeconds = SecondsToRun(small);
    const double largeSeconds = SecondsToRun(large);
    std::printf("registrar: %u keys registered and unregistered in %.3f s: %.0f keys/s\n", smallKeys, smallSeconds,
                smallKeys / smallSeconds);
    std::printf("registrar: %u keys in %.3f s: %.0f keys/s\n", smallKeys * 10, largeSeconds,
                smallKeys * 10 / largeSeconds);
    const double ratio = largeSeconds / smallSeconds;
    std::printf("registrar: 10x the script took %.2fx the time (target: at most 12x): %s\n", ratio,
                ratio <= 12.0 ? "PASS" : "FAIL");
    return ratio <= 12.0 ? 0 : 1;
}
