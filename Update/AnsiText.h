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
