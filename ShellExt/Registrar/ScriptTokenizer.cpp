#include "ScriptTokenizer.h"

#include <cwctype>

namespace {
wchar_t FoldCase(wchar_t ch) noexcept
{
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(ch)));
}
} // namespace

void CScriptTokenizer::SkipWhiteSpace() noexcept
{
    while (IsWhiteSpace(*m_pchPos))
        ++m_pchPos;
}

HResult CScriptTokenizer::Next() noexcept
{
    m_cchToken = 0;
    m_szToken[0] = L'\0';
    SkipWhiteSpace();
    if (AtEnd())
        return kv::kDISP_E_EXCEPTION;

    const wchar_t* pch = m_pchPos;
    if (*pch == L'\'') {
        ++pch;
        for (;;) {
            if (*pch == L'\0')
                return kv::kDISP_E_EXCEPTION;
            if (*pch == L'\'') {
                if (pch[1] != L'\'') {
                    ++pch;
                    break;
                }
                ++pch; // a doubled quote stands for one
            }
            if (m_cchToken == kMaxTokenChars)
                return kv::kDISP_E_EXCEPTION;
            m_szToken[m_cchToken++] = *pch++;
        }
    } else {
        while (*pch != L'\0' && !IsWhiteSpace(*pch)) {
            if (m_cchToken == kMaxTokenChars)
                return kv::kDISP_E_EXCEPTION;
            m_szToken[m_cchToken++] = *pch++;
        }
    }
    m_szToken[m_cchToken] = L'\0';
    m_pchPos = pch;
    return kv::kS_OK;
}

bool CScriptTokenizer::Is(const wchar_t* pszWord) const noexcept
{
    std::size_t i = 0;
    for (; pszWord[i] != L'\0'; ++i) {
        if (i >= m_cchToken || m_szToken[i] != pszWord[i])
            return false;
    }
    return i == m_cchToken;
}

bool CScriptTokenizer::IsNoCase(const wchar_t* pszWord) const noexcept
{
    return EqualsNoCase(m_szToken, m_cchToken, pszWord);
}

bool CScriptTokenizer::EqualsNoCase(const wchar_t* a, std::size_t cchA, const wchar_t* b) noexcept
{
    std::size_t i = 0;
    for (; b[i] != L'\0'; ++i) {
        if (i >= cchA || FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return i == cchA;
}
