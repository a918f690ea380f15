// Conversions between the program's 8-bit strings (UTF-8 texts, ANSI file
// names) and the UTF-16 strings of the W functions.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "win32/code_page.h"

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

// `text` in `codePage` (the ANSI one unless told) by the rule of
// win32/code_page.h: nothing when a character has no form of its own there.
inline std::optional<std::string> ToCodePage(const std::wstring& text, UINT codePage = GetACP()) {
    return SpellInCodePage(
        text, codePage,
        [](unsigned cp, unsigned flags, std::wstring_view t,
           bool* usedDefault) -> std::optional<std::string> {
            BOOL used = FALSE;
            BOOL* const ask = usedDefault != nullptr ? &used : nullptr;
            const int size = static_cast<int>(t.size());
            const int n = WideCharToMultiByte(cp, flags, t.data(), size, nullptr, 0, nullptr, ask);
            if (n <= 0) {
                return std::nullopt;
            }
            std::string out(static_cast<size_t>(n), '\0');
            if (WideCharToMultiByte(cp, flags, t.data(), size, out.data(), n, nullptr, ask) != n) {
                return std::nullopt;
            }
            if (usedDefault != nullptr) {
                *usedDefault = used != FALSE;
            }
            return out;
        });
}

}  // namespace win32
