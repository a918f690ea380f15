// The user's hot keys as Settings.ini keeps them and as the menu shows them.
#include <gtest/gtest.h>

#include "shell/hot_keys.h"

namespace {

using namespace kelvora;

TEST(HotKeys, SettingRoundTripsThroughTheControlsWord) {
    const HotKey ctrlAltR{kModControl | kModAlt, 'R'};
    EXPECT_EQ(HotKeyToControl(ctrlAltR), 0x0652);  // HOTKEYF_CONTROL | HOTKEYF_ALT, 'R'
    EXPECT_EQ(HotKeyFromControl(0x0652), ctrlAltR);
    EXPECT_EQ(HotKeyFromSetting(HotKeySetting(ctrlAltR), kDefaultHotKeys[0]), ctrlAltR);
    EXPECT_EQ(HotKeySetting(kDefaultHotKeys[0]), "338");  // Shift+R
}

TEST(HotKeys, MissingOrUnusableSettingsKeepTheDefault) {
    const HotKey shiftX = kDefaultHotKeys[2];
    for (const char* text : {"", "abc", "0", "-5", "65536", "256"}) {  // 256: no key
        EXPECT_EQ(HotKeyFromSetting(std::string(text), shiftX), shiftX) << text;
    }
    EXPECT_EQ(HotKeyFromSetting(std::nullopt, shiftX), shiftX);
}

TEST(HotKeys, ShortcutTexts) {
    EXPECT_EQ(ShortcutText(kDefaultHotKeys[0]), L"Shift+R");
    EXPECT_EQ(ShortcutText({kModControl | kModAlt | kModShift, 0x71}), L"Ctrl+Alt+Shift+F2");
    EXPECT_EQ(ShortcutText({kModAlt, '7'}), L"Alt+7");
    EXPECT_EQ(ShortcutText({kModControl, 0xBA}), L"Ctrl+0xBA");
}

}  // namespace
