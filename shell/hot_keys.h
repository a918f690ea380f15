// The three global hot keys (record, stop, screenshot) as the user chooses
// them, portable so that their rules are tested on the host.
//
// "Settings.ini" keeps each one in section "Options" (keys HotKeyRecord,
// HotKeyStop, HotKeyShot) as the decimal word of the system's hot-key
// control: the virtual key in the low byte, HOTKEYF_ flags in the high one.
// A missing or unusable value means the default: Shift+R, Shift+S, Shift+X.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvora {

// RegisterHotKey's modifier flags.
inline constexpr std::uint8_t kModAlt = 0x1;
inline constexpr std::uint8_t kModControl = 0x2;
inline constexpr std::uint8_t kModShift = 0x4;

struct HotKey {
    std::uint8_t modifiers = 0;  // kMod... flags, as RegisterHotKey takes them
    std::uint8_t key = 0;        // virtual key
    bool operator==(const HotKey&) const = default;
};

// Record, stop, screenshot.
inline constexpr int kHotKeyCount = 3;
inline constexpr std::array<const char*, kHotKeyCount> kHotKeyNames = {"HotKeyRecord", "HotKeyStop",
                                                                       "HotKeyShot"};
inline constexpr std::array<HotKey, kHotKeyCount> kDefaultHotKeys = {
    HotKey{kModShift, 'R'}, HotKey{kModShift, 'S'}, HotKey{kModShift, 'X'}};

// The hot-key control's word (HKM_GETHOTKEY) and back.
HotKey HotKeyFromControl(std::uint16_t word);
std::uint16_t HotKeyToControl(const HotKey& hotKey);

// The key from its setting's text; `fallback` when the text is missing, not
// a number, or names no key.
HotKey HotKeyFromSetting(const std::optional<std::string>& text, const HotKey& fallback);
std::string HotKeySetting(const HotKey& hotKey);

// "Ctrl+Alt+R", as menus show shortcuts; keys without a plain name read as
// "0x1B"-style codes except the common ones (F1..F24, Esc, Space, ...).
std::wstring ShortcutText(const HotKey& hotKey);

}  // namespace kelvora
