// libFuzzer target: arbitrary script text, with an optional replacement table in front of it
// ("name=value" lines, then a 0x01 byte), run through both walks of one registrar against an
// in-memory registry. Beyond the sanitizers' findings, a key left open is a fault.
#include "MemoryRegistry.h"
#include "Registrar.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    CMemoryRegistry registry;
    CRegistrar registrar(registry);
    registrar.AddReplacement(L"Module", L"C:\\Korvane\\it''s.dll");

    std::string script = input;
    const std::size_t separator = input.find('\x01');
    if (separator != std::string::npos) {
        script = input.substr(separator + 1);
        std::size_t start = 0;
        while (start < separator) {
            std::size_t end = input.find('\n', start);
            if (end == std::string::npos || end > separator)
                end = separator;
            const std::string line = input.substr(start, end - start);
            const std::size_t equals = line.find('=');
            if (equals != std::string::npos) {
                const std::wstring name(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(equals));
                const std::wstring value(line.begin() + static_cast<std::ptrdiff_t>(equals) + 1, line.end());
                registrar.AddReplacement(name.c_str(), value.c_str());
            }
            start = end + 1;
        }
    }

    // Through the resource path: the same decoding the extension's module uses.
    registry.AddResource(L"fuzz.dll", 102, L"REGISTRY", script);
    registrar.RegisterFromResource(L"fuzz.dll", 102, L"REGISTRY", true);
    registrar.RegisterFromResource(L"fuzz.dll", 102, L"REGISTRY", true);
    registrar.RegisterFromResource(L"fuzz.dll", 102, L"REGISTRY", false);
    if (registry.OpenHandleCount() != 0)
        std::abort();
    return 0;
}
