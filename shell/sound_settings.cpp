#include "shell/sound_settings.h"

#include <algorithm>

namespace kelvora {

SoundSettings ReadSoundSettings(const SettingReader& read) {
    SoundSettings sound;
    if (const std::optional<std::string> on = read(kSoundKeys[0])) {
        sound.RecordAudio = ParseSettingInt(*on) == 1;
    }
    if (std::optional<std::string> device = read(kSoundKeys[1])) {
        if (device->find_first_not_of(' ') != std::string::npos) {
            device->resize(std::min(device->size(), kMaxSettingText));
            sound.AudioDevice = std::move(*device);
        }
    }
    return sound;
}

bool WriteSoundSettings(const SettingWriter& write, const SoundSettings& sound) {
    return write(kSoundKeys[0], sound.RecordAudio ? "1" : "0") &&
           write(kSoundKeys[1], sound.AudioDevice);
}

}  // namespace kelvora
