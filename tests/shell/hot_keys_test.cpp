// The user's hot keys as Settings.ini keeps them, as the menu shows them and
// as the system registers them.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

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
    // 256: no key; 65 and 27: a bare A and Esc, which every program would lose.
    for (const char* text : {"", "abc", "0", "-5", "65536", "256", "65", "27"}) {
        EXPECT_EQ(HotKeyFromSetting(std::string(text), shiftX), shiftX) << text;
    }
    EXPECT_EQ(HotKeyFromSetting(std::nullopt, shiftX), shiftX);
    EXPECT_EQ(HotKeyFromSetting(std::string("65"), kDefaultHotKeys[0]), (HotKey{kModShift, 'R'}));
}

// The system's table: combinations held by other programs, and ours by action.
struct SystemTable : HotKeyRegistrar {
    std::vector<HotKey> others;
    std::array<std::optional<HotKey>, kHotKeyCount> ours;
    bool Taken(const HotKey& key) const {
        for (const HotKey& k : others) {
            if (k == key) {
                return true;
            }
        }
        for (const auto& k : ours) {
            if (k && *k == key) {
                return true;
            }
        }
        return false;
    }
    bool Register(int index, const HotKey& key) override {
        if (ours[index] || Taken(key)) {
            return false;
        }
        ours[index] = key;
        return true;
    }
    void Unregister(int index) override { ours[index].reset(); }
};

TEST(HotKeys, TheSetIsRegisteredAsOneAndOnlyAnotherProgramIsBlamedForItsKeys) {
    const HotKey shiftR = kDefaultHotKeys[0], shiftS = kDefaultHotKeys[1],
                 shiftX = kDefaultHotKeys[2];
    const HotKey ctrlQ{kModControl, 'Q'}, ctrlW{kModControl, 'W'};
    SystemTable system;
    system.others = {ctrlQ};
    std::array<HotKey, kHotKeyCount> keys = kDefaultHotKeys;
    for (int i = 0; i < kHotKeyCount; ++i) {
        ASSERT_TRUE(system.Register(i, keys[i]));
    }
    const auto texts = [](const std::vector<RefusedHotKey>& refused) {
        std::vector<std::wstring> out;
        for (const RefusedHotKey& r : refused) {
            out.push_back(RefusalText(r));
        }
        return out;
    };
    const auto inForce = [&] {
        return std::array<HotKey, kHotKeyCount>{*system.ours[0], *system.ours[1], *system.ours[2]};
    };

    // Record and stop trade keys; an empty field and a bare key change nothing.
    EXPECT_TRUE(ApplyHotKeySet(system, keys, {shiftS, shiftR, HotKey{0, 'X'}}).empty());
    EXPECT_EQ(keys, (std::array<HotKey, kHotKeyCount>{shiftS, shiftR, shiftX}));
    EXPECT_EQ(inForce(), keys);
    EXPECT_TRUE(ApplyHotKeySet(system, keys, {HotKey{}, HotKey{}, HotKey{}}).empty());
    EXPECT_EQ(inForce(), keys);

    // One key for two actions; a key another program holds, which also keeps
    // the screenshot's Shift+X where the stop wanted it.
    EXPECT_EQ(texts(ApplyHotKeySet(system, keys, {shiftS, shiftX, shiftX})),
              std::vector<std::wstring>{L"Сочетание Shift+X выбрано для двух действий"});
    EXPECT_EQ(keys, (std::array<HotKey, kHotKeyCount>{shiftS, shiftR, shiftX}));
    EXPECT_EQ(texts(ApplyHotKeySet(system, keys, {ctrlW, shiftX, ctrlQ})),
              (std::vector<std::wstring>{L"Сочетание Ctrl+Q занято другой программой",
                                         L"Сочетание Shift+X осталось за прежним действием"}));
    EXPECT_EQ(keys, (std::array<HotKey, kHotKeyCount>{ctrlW, shiftR, shiftX}));
    EXPECT_EQ(inForce(), keys);
}

TEST(HotKeys, ShortcutTexts) {
    EXPECT_EQ(ShortcutText(kDefaultHotKeys[0]), L"Shift+R");
    EXPECT_EQ(ShortcutText({kModControl | kModAlt | kModShift, 0x71}), L"Ctrl+Alt+Shift+F2");
    EXPECT_EQ(ShortcutText({kModAlt, '7'}), L"Alt+7");
    EXPECT_EQ(ShortcutText({kModControl, 0xBA}), L"Ctrl+0xBA");
}

}  // namespace
