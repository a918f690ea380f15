// The code-page rule against a conversion that behaves as Windows documents
// WideCharToMultiByte: the UTF-8 code page refuses the no-best-fit flag and
// a used-default answer (ERROR_INVALID_FLAGS), which Wine accepts, so only a
// stand-in shows the refusal; Windows-1251 spells Cyrillic, Windows-1252 does
// not. Texts are code points (wchar_t is 32-bit on the host).
#include "win32/code_page.h"

#include <gtest/gtest.h>

namespace {

using win32::SpellInCodePage;

std::optional<std::string> WindowsConversion(unsigned codePage, unsigned flags,
                                             std::wstring_view text, bool* usedDefault) {
    std::string out;
    if (codePage == win32::kUtf8CodePage) {
        if ((flags & ~win32::kErrorOnInvalidChars) != 0 || usedDefault != nullptr) {
            return std::nullopt;  // ERROR_INVALID_FLAGS
        }
        for (wchar_t c : text) {  // ASCII and Cyrillic are all the test spells
            const auto u = static_cast<unsigned>(c);
            out += u < 0x80 ? std::string(1, static_cast<char>(u))
                            : std::string{static_cast<char>(0xC0 | u >> 6),
                                          static_cast<char>(0x80 | (u & 0x3F))};
        }
        return out;
    }
    bool defaulted = false;
    for (wchar_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (codePage == 1251 && c >= 0x410 && c <= 0x44F) {
            out += static_cast<char>(c - 0x410 + 0xC0);
        } else {
            out += '?';
            defaulted = true;
        }
    }
    if (usedDefault != nullptr) {
        *usedDefault = defaulted;
    }
    return out;
}

TEST(CodePage, UtfEightSpellsEveryFolderAndAnsiPagesOnlyTheirOwnLetters) {
    const std::wstring video = L"C:\\Видео";  // В и д е о
    EXPECT_EQ(SpellInCodePage(video, 65001, WindowsConversion),
              std::optional<std::string>("C:\\\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE"));
    EXPECT_EQ(SpellInCodePage(video, 1251, WindowsConversion),
              std::optional<std::string>("C:\\\xC2\xE8\xE4\xE5\xEE"));
    EXPECT_EQ(SpellInCodePage(video, 1252, WindowsConversion), std::nullopt);
    EXPECT_EQ(SpellInCodePage(L"", 1252, WindowsConversion), std::optional<std::string>(""));
}

}  // namespace
