#pragma once
// Owns one key opened through IRegistryPlatform and closes it exactly once. Not copyable: a copy
// would close twice. Predefined root keys are never put in one (they are not closed).
#include "RegistryPlatform.h"

#include <utility>

class CPlatformKey {
public:
    explicit CPlatformKey(IRegistryPlatform& platform) noexcept : m_platform(platform) {}
    CPlatformKey(const CPlatformKey&) = delete;
    CPlatformKey& operator=(const CPlatformKey&) = delete;
    ~CPlatformKey() { Close(); }

    RegKey Get() const noexcept { return m_hKey; }
    bool IsOpen() const noexcept { return m_hKey != nullptr; }
    // For the out-parameter of OpenKey/CreateKey; closes what was held first.
    RegKey* Put() noexcept
    {
        Close();
        return &m_hKey;
    }
    // Closes now and answers the platform's result (0 when nothing was open).
    long Close() noexcept
    {
        RegKey hKey = std::exchange(m_hKey, nullptr);
        return hKey != nullptr ? m_platform.CloseKey(hKey) : kv::kErrorSuccess;
    }

private:
    IRegistryPlatform& m_platform;
    RegKey m_hKey = nullptr;
};
