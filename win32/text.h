// Conversions between the program's 8-bit strings (UTF-8 texts, ANSI file
// names) and the UTF-16 strings of the W functions.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// `text` in `codePage` (UTF-8 unless told) as UTF-16.
inline std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
    if (text.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    }
    return out;
}

// UTF-16 `text` in `codePage` (UTF-8 unless told).
inline std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    }
    return out;
}

}  // namespace win32
