#pragma once
// Shared by the registrar tests of both builds: runs scripts against a fresh in-memory registry
// and checks after every case that the registrar closed each key it opened.
#include "MemoryRegistry.h"
#include "Registrar.h"

#include <gtest/gtest.h>

#include <string>

class MemoryRegistrarTest : public ::testing::Test {
protected:
    static constexpr kv::RegRoot HKCR = kv::RegRoot::ClassesRoot;

    HResult Run(const std::wstring& script, bool bRegister = true)
    {
        CRegistrar registrar(m_registry);
        registrar.AddReplacement(L"MODULE", L"C:\\Program Files\\Korvane\\KorvaneShellExt.dll");
        return registrar.RegisterText(script.c_str(), bRegister);
    }
    void TearDown() override { EXPECT_EQ(0u, m_registry.OpenHandleCount()) << "a key was left open"; }

    CMemoryRegistry m_registry;
};

// Checks an HRESULT and prints both in hex when they differ.
#define EXPECT_HR(expected, actual) EXPECT_EQ(static_cast<std::uint32_t>(expected), static_cast<std::uint32_t>(actual))
#define ASSERT_HR(expected, actual) ASSERT_EQ(static_cast<std::uint32_t>(expected), static_cast<std::uint32_t>(actual))
