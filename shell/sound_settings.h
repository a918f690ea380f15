// The sound keys of "Settings.ini", section "Options", written after the
// other keys: RecordAudio (1 records sound, anything else does not) and
// AudioDevice (the input device's name as the system lists it, kept in the
// ANSI code page like every value of the file; empty for the default
// device). Portable: the reads and writes come from the settings store.
#pragma once

#include <array>
#include <string>

#include "shell/settings_rules.h"

namespace kelvora {

inline constexpr std::array<const char*, 2> kSoundKeys = {"RecordAudio", "AudioDevice"};

struct SoundSettings {
    bool RecordAudio = false;
    std::string AudioDevice;  // ANSI; empty: the default device
};

// A missing key, or a value that is neither 0 nor 1, is off; a device name
// is taken as it stands (cut to kMaxSettingText), one of spaces only is the
// default device.
SoundSettings ReadSoundSettings(const SettingReader& read);

// Writes both keys in order; false at the first that fails.
[[nodiscard]] bool WriteSoundSettings(const SettingWriter& write, const SoundSettings& sound);

}  // namespace kelvora
