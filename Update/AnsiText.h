#pragma once
// The updater keeps its paths as ANSI text (the system code page); the platform's wide functions
// take them converted here.
#include <windows.h>
#include <string>

// The text in UTF-16; empty when it does not convert. May throw std::bad_alloc.
inline std::wstring AnsiToWide(LPCSTR lpszText)
{
    int cch = ::MultiByteToWideChar(CP_ACP, 0, lpszText, -1, nullptr, 0);
    if (cch <= 0)
        return {};
    std::wstring text(static_cast<size_t>(cch), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, lpszText, -1, &text[0], cch);
    text.resize(static_cast<size_t>(cch - 1));
    return text;
}

// The text in the system code page, characters it lacks replaced as the system replaces them. May
// throw std::bad_alloc.
inline std::string WideToAnsi(const std::wstring& strText)
{
    if (strText.empty())
        return {};
    int cb = ::WideCharToMultiByte(CP_ACP, 0, strText.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return {};
    std::string text(static_cast<size_t>(cb), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, strText.c_str(), -1, &text[0], cb, nullptr, nullptr);
    text.resize(static_cast<size_t>(cb - 1));
    return text;
}
