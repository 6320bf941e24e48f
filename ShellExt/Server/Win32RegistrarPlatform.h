#pragma once
// The registrar's platform on Windows: the registry API, resources read from a module file loaded
// as a data file, MultiByteToWideChar and VarUI4FromStr. Values pass through unchanged (the
// interface carries the Win32 numbers).
#include "RegistryPlatform.h"

class CWin32RegistrarPlatform : public IRegistrarPlatform {
public:
    long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                  std::uint32_t cbData) override;
    long DeleteValue(RegKey key, const wchar_t* name) override;
    long QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* cbData) override;
    long DeleteKey(RegKey parent, const wchar_t* name) override;
    long EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName) override;
    long CloseKey(RegKey key) override;

    HResult LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId, const wchar_t* resourceType,
                              std::string& bytes) override;
    HResult ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide, std::size_t cchWide,
                          std::size_t* pcchWritten) override;
    HResult ParseUI4(const wchar_t* text, std::uint32_t* value) override;

    // The code page of the script text, chosen once per process: the thread's ANSI code page on
    // NT releases after 4, else the default ANSI code page of the thread's locale (or the system's).
    static unsigned ScriptCodePage();
};
