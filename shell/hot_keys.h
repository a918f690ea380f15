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
#include <vector>

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
// a number, names no key, or has no modifier (a bare key would be taken from
// every program).
HotKey HotKeyFromSetting(const std::optional<std::string>& text, const HotKey& fallback);
std::string HotKeySetting(const HotKey& hotKey);

// The system's table of global hot keys as the program's three ids use it.
class HotKeyRegistrar {
  public:
    virtual ~HotKeyRegistrar() = default;
    // Registers `key` for action `index` (0 record, 1 stop, 2 screenshot);
    // false when the combination is registered already, by anyone.
    virtual bool Register(int index, const HotKey& key) = 0;
    virtual void Unregister(int index) = 0;
};

// Why a wanted key was not taken. The action keeps its previous key.
enum class HotKeyRefusal {
    HeldElsewhere,  // another program holds the combination
    ChosenTwice,    // the same combination was chosen for two actions
    KeptByOther,    // another action kept it, its own new key being refused
};

struct RefusedHotKey {
    int index;
    HotKey key;  // the combination wanted
    HotKeyRefusal reason;
};

// Registers `wanted` in place of `registered` (by action) as one set: every
// key that changes is released before any is registered, so that actions may
// trade keys. A key that cannot be had leaves its action with the previous
// one (and an action whose new key is that previous key gives it back). A
// wanted key of 0, or one without a modifier, keeps the action's key without
// a word. On return `registered` holds the keys in force.
std::vector<RefusedHotKey> ApplyHotKeySet(HotKeyRegistrar& system,
                                          std::array<HotKey, kHotKeyCount>& registered,
                                          const std::array<HotKey, kHotKeyCount>& wanted);

// The refusal as the options dialog's status bar says it.
std::wstring RefusalText(const RefusedHotKey& refused);

// "Ctrl+Alt+R", as menus show shortcuts; keys without a plain name read as
// "0x1B"-style codes except the common ones (F1..F24, Esc, Space, ...).
std::wstring ShortcutText(const HotKey& hotKey);

}  // namespace kelvora
