#include "shell/hot_keys.h"

#include <cstdio>

#include "shell/settings_rules.h"

namespace kelvora {

namespace {

// The hot-key control's flags (HOTKEYF_SHIFT, _CONTROL, _ALT).
constexpr std::uint8_t kControlShift = 0x1;
constexpr std::uint8_t kControlCtrl = 0x2;
constexpr std::uint8_t kControlAlt = 0x4;

}  // namespace

HotKey HotKeyFromControl(std::uint16_t word) {
    const auto flags = static_cast<std::uint8_t>(word >> 8);
    HotKey k;
    k.key = static_cast<std::uint8_t>(word & 0xFF);
    k.modifiers = static_cast<std::uint8_t>(((flags & kControlShift) ? kModShift : 0) |
                                            ((flags & kControlCtrl) ? kModControl : 0) |
                                            ((flags & kControlAlt) ? kModAlt : 0));
    return k;
}

std::uint16_t HotKeyToControl(const HotKey& k) {
    const auto flags = static_cast<std::uint8_t>(((k.modifiers & kModShift) ? kControlShift : 0) |
                                                 ((k.modifiers & kModControl) ? kControlCtrl : 0) |
                                                 ((k.modifiers & kModAlt) ? kControlAlt : 0));
    return static_cast<std::uint16_t>(flags << 8 | k.key);
}

HotKey HotKeyFromSetting(const std::optional<std::string>& text, const HotKey& fallback) {
    if (!text) {
        return fallback;
    }
    const std::optional<std::int32_t> value = ParseSettingInt(*text);
    if (!value || *value <= 0 || *value > 0xFFFF) {
        return fallback;
    }
    const HotKey k = HotKeyFromControl(static_cast<std::uint16_t>(*value));
    return k.key != 0 && k.modifiers != 0 ? k : fallback;
}

std::vector<RefusedHotKey> ApplyHotKeySet(HotKeyRegistrar& system,
                                          std::array<HotKey, kHotKeyCount>& registered,
                                          const std::array<HotKey, kHotKeyCount>& wanted) {
    std::vector<RefusedHotKey> refused;
    std::array<HotKey, kHotKeyCount> target = registered;
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (wanted[i].key != 0 && wanted[i].modifiers != 0) {
            target[i] = wanted[i];
        }
    }
    const auto changed = [&](int i) { return !(target[i] == registered[i]); };
    const auto refuse = [&](int i, HotKeyRefusal reason) {
        refused.push_back({i, target[i], reason});
        target[i] = registered[i];
    };
    // One combination for two actions: those that changed keep their keys,
    // until no two actions share one (the registered set shares none).
    for (bool again = true; again;) {
        again = false;
        for (int i = 0; i < kHotKeyCount; ++i) {
            for (int j = i + 1; j < kHotKeyCount; ++j) {
                if (target[i] == target[j] && (changed(i) || changed(j))) {
                    for (int k : {i, j}) {
                        if (changed(k)) {
                            refuse(k, HotKeyRefusal::ChosenTwice);
                        }
                    }
                    again = true;
                }
            }
        }
    }
    bool changes[kHotKeyCount] = {};
    for (int i = 0; i < kHotKeyCount; ++i) {
        changes[i] = changed(i);
        if (changes[i]) {
            system.Unregister(i);
        }
    }
    std::vector<int> back;  // actions returning to their previous keys
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (changes[i] && !system.Register(i, target[i])) {
            refuse(i, HotKeyRefusal::HeldElsewhere);
            back.push_back(i);
        }
    }
    // A previous key that another action has just taken is given back.
    for (std::size_t b = 0; b < back.size(); ++b) {
        for (int j = 0; j < kHotKeyCount; ++j) {
            if (j != back[b] && changes[j] && changed(j) && target[j] == target[back[b]]) {
                system.Unregister(j);
                refuse(j, HotKeyRefusal::KeptByOther);
                back.push_back(j);
            }
        }
    }
    for (int i : back) {
        // Ours a moment ago; should another program take it meanwhile, the
        // action has no key until the next start.
        static_cast<void>(system.Register(i, target[i]));
    }
    registered = target;
    return refused;
}

std::wstring RefusalText(const RefusedHotKey& refused) {
    const std::wstring key = ShortcutText(refused.key);
    switch (refused.reason) {
        case HotKeyRefusal::HeldElsewhere:
            return L"Сочетание " + key + L" занято другой программой";
        case HotKeyRefusal::ChosenTwice:
            return L"Сочетание " + key + L" выбрано для двух действий";
        case HotKeyRefusal::KeptByOther:
        default:
            return L"Сочетание " + key + L" осталось за прежним действием";
    }
}

std::string HotKeySetting(const HotKey& hotKey) {
    return std::to_string(HotKeyToControl(hotKey));
}

std::wstring ShortcutText(const HotKey& k) {
    std::wstring text;
    if (k.modifiers & kModControl) {
        text += L"Ctrl+";
    }
    if (k.modifiers & kModAlt) {
        text += L"Alt+";
    }
    if (k.modifiers & kModShift) {
        text += L"Shift+";
    }
    const unsigned key = k.key;
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
        text += static_cast<wchar_t>(key);
    } else if (key >= 0x70 && key <= 0x87) {  // VK_F1 .. VK_F24
        text += L"F" + std::to_wstring(key - 0x70 + 1);
    } else if (key >= 0x60 && key <= 0x69) {  // VK_NUMPAD0 .. 9
        text += L"Num " + std::to_wstring(key - 0x60);
    } else {
        switch (key) {
            case 0x1B:
                text += L"Esc";
                break;
            case 0x20:
                text += L"Space";
                break;
            case 0x0D:
                text += L"Enter";
                break;
            case 0x2D:
                text += L"Ins";
                break;
            case 0x2E:
                text += L"Del";
                break;
            case 0x24:
                text += L"Home";
                break;
            case 0x23:
                text += L"End";
                break;
            case 0x21:
                text += L"PgUp";
                break;
            case 0x22:
                text += L"PgDn";
                break;
            case 0x2C:
                text += L"PrtSc";
                break;
            default: {
                wchar_t code[8];
                std::swprintf(code, 8, L"0x%02X", key);
                text += code;
            }
        }
    }
    return text;
}

}  // namespace kelvora
