// The recording area kept in Settings.ini and the tray tip while recording.
#include <gtest/gtest.h>

#include "shell/tray_state.h"

namespace {

using kelvora::AreaModeFromSetting;

TEST(TrayState, AreaModeDefaultsToTheWholeScreen) {
    EXPECT_EQ(AreaModeFromSetting(std::nullopt), 4);
    const std::pair<const char*, int> kept[] = {{"0", 0}, {"1", 1}, {"2", 2}, {"4", 4}, {"0x1", 1}};
    for (const auto& [text, mode] : kept) {
        EXPECT_EQ(AreaModeFromSetting(std::string(text)), mode) << text;
    }
    // Mode 3 (a fixed rectangle) and anything else are not offered.
    for (const char* text : {"3", "5", "-1", "", "abc", "256"}) {
        EXPECT_EQ(AreaModeFromSetting(std::string(text)), 4) << text;
    }
}

TEST(TrayState, TipsShowTheRecordingTimeAndTheSave) {
    EXPECT_EQ(kelvora::RecordingTip("0:1:23"), L"Kelvora \u2014 запись 0:01:23");
    EXPECT_EQ(kelvora::RecordingTip("12:59:5"), L"Kelvora \u2014 запись 12:59:05");
    EXPECT_EQ(kelvora::RecordingTip("0:60:0"), L"Kelvora");
    EXPECT_EQ(kelvora::RecordingTip("1:2"), L"Kelvora");
    EXPECT_EQ(kelvora::SavingTip(45), L"Kelvora \u2014 сохранение 45 %");
}

}  // namespace
