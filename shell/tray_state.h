// Portable rules of two choices the tray adds to the program: the recording
// area kept in "Settings.ini" (key RegionType of section Options: the
// camera's region mode), and the tray tip while a recording runs or is
// being saved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvora {

// The key of the recording area in section "Options".
inline constexpr const char* kAreaKey = "RegionType";
// Region modes offered in the tray menu.
inline constexpr std::uint8_t kAreaWindow = 0;
inline constexpr std::uint8_t kAreaRectangle = 1;
inline constexpr std::uint8_t kAreaFollowMouse = 2;
inline constexpr std::uint8_t kAreaFullScreen = 4;

// The mode stored as text (missing: nullopt); anything but 0, 1, 2 or 4 is
// the whole screen, as is a missing key.
std::uint8_t AreaModeFromSetting(const std::optional<std::string>& text);

// "Kelvora — запись 0:01:23" from the camera's elapsed-time text "h:m:s"
// (plain numbers); "Kelvora" when the text does not read as a time.
std::wstring RecordingTip(const std::string& recordTimeText);
// "Kelvora — сохранение 45 %".
std::wstring SavingTip(int percent);

}  // namespace kelvora
