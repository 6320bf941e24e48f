#pragma once
// Reads the tokens of a registry script: white space separates them, a token that starts with a
// single quote runs to the closing quote (two quotes inside stand for one), any other token runs to
// the next white space. Each token is copied into a fixed buffer that a token can never overrun.
#include "RegistryPlatform.h"

#include <cstddef>

class CScriptTokenizer {
public:
    static constexpr std::size_t kTokenBufferChars = 4096;
    static constexpr std::size_t kMaxTokenChars = kTokenBufferChars - 2;

    // The text must stay alive and NUL-terminated while it is read.
    void Start(const wchar_t* text) noexcept { m_pchPos = text; }
    const wchar_t* Position() const noexcept { return m_pchPos; }
    void SetPosition(const wchar_t* pch) noexcept { m_pchPos = pch; }

    void SkipWhiteSpace() noexcept;
    bool AtEnd() const noexcept { return *m_pchPos == L'\0'; }

    // Reads the next token. At the end of the text, at the end of the text inside a quoted token,
    // or for a token longer than kMaxTokenChars: DISP_E_EXCEPTION.
    HResult Next() noexcept;

    const wchar_t* Token() const noexcept { return m_szToken; }
    std::size_t Length() const noexcept { return m_cchToken; }
    bool BeginsWith(wchar_t ch) const noexcept { return m_szToken[0] == ch; }
    bool Is(const wchar_t* pszWord) const noexcept;   // exactly, letter case included
    bool IsNoCase(const wchar_t* pszWord) const noexcept;

    static bool IsWhiteSpace(wchar_t ch) noexcept
    {
        return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n';
    }
    // Compares letters without regard to case (the language's names and keywords are plain ASCII).
    static bool EqualsNoCase(const wchar_t* a, std::size_t cchA, const wchar_t* b) noexcept;

private:
    const wchar_t* m_pchPos = L"";
    wchar_t m_szToken[kTokenBufferChars] = {};
    std::size_t m_cchToken = 0;
};
