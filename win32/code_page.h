// Spelling a UTF-16 text in a Windows code page: the one rule for every
// 8-bit name and setting the program keeps (the options dialog's folder, the
// engine's file names). Portable: the system's conversion is handed in, so
// that host tests drive the rule with any code page, the UTF-8 one included,
// which Wine cannot be made to use.
//
// The rule: the UTF-8 code page (65001, Windows' "Use Unicode UTF-8 for
// worldwide language support") spells every well-formed text, and its
// conversion takes neither the no-best-fit flag nor a used-default answer
// (WideCharToMultiByte fails with ERROR_INVALID_FLAGS when given them).
// Every other code page spells a text only when each character has its own
// form there: no best-fit letter (a name the user would not recognise) and
// no default character (a '?' in its place).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace win32 {

inline constexpr unsigned kUtf8CodePage = 65001;        // CP_UTF8
inline constexpr unsigned kErrorOnInvalidChars = 0x80;  // WC_ERR_INVALID_CHARS
inline constexpr unsigned kNoBestFitChars = 0x400;      // WC_NO_BEST_FIT_CHARS

// The system's conversion (WideCharToMultiByte) of `text` with `flags`;
// `usedDefault` null when the call is not to be asked whether it used the
// default character. The bytes, or nothing when the call fails.
using MultiByteConversion = std::function<std::optional<std::string>(
    unsigned codePage, unsigned flags, std::wstring_view text, bool* usedDefault)>;

// `text` in `codePage` by the rule above; nothing when it cannot be spelled.
inline std::optional<std::string> SpellInCodePage(std::wstring_view text, unsigned codePage,
                                                  const MultiByteConversion& convert) {
    if (text.empty()) {
        return std::string();
    }
    if (codePage == kUtf8CodePage) {
        // Fails only on a lone surrogate, which names no character.
        return convert(codePage, kErrorOnInvalidChars, text, nullptr);
    }
    bool usedDefault = false;
    std::optional<std::string> spelled = convert(codePage, kNoBestFitChars, text, &usedDefault);
    if (!spelled || usedDefault) {
        return std::nullopt;
    }
    return spelled;
}

}  // namespace win32
