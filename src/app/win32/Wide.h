// The window's texts are UTF-8 like everything below it; Windows takes
// UTF-16. These convert at each call, and turn the program's line breaks
// (a bare "\r", or "\r\n") into the "\r\n" that edit controls and message
// boxes need.
#pragma once

#include "platform/text.h"

#include <windows.h>

#include <string>

namespace qv::win {

inline std::wstring W(const std::string &utf8) { return Utf8ToUtf16(utf8); }

inline std::string U8(const std::wstring &wide) { return Utf16ToUtf8(wide); }

inline std::wstring DisplayLines(const std::string &utf8)
{
    std::wstring in = W(utf8);
    std::wstring out;
    out.reserve(in.size() + 8);
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\r') {
            out += L"\r\n";
            if (i + 1 < in.size() && in[i + 1] == L'\n')
                ++i;
        } else if (in[i] == L'\n') {
            out += L"\r\n";
        } else {
            out += in[i];
        }
    }
    return out;
}

// A window's text.
inline std::string WindowText(HWND hwnd)
{
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), n + 1)));
    return U8(text);
}

}  // namespace qv::win
