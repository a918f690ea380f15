#include "shell/tray_state.h"

#include <cstdio>

#include "shell/settings_rules.h"

namespace kelvora {

std::uint8_t AreaModeFromSetting(const std::optional<std::string>& text) {
    if (!text) {
        return kAreaFullScreen;
    }
    const std::optional<std::int32_t> value = ParseSettingInt(*text);
    if (value && (*value == kAreaWindow || *value == kAreaRectangle || *value == kAreaFollowMouse ||
                  *value == kAreaFullScreen)) {
        return static_cast<std::uint8_t>(*value);
    }
    return kAreaFullScreen;
}

std::wstring RecordingTip(const std::string& recordTimeText) {
    unsigned h = 0, m = 0, s = 0;
    char rest = 0;
    if (std::sscanf(recordTimeText.c_str(), "%u:%u:%u%c", &h, &m, &s, &rest) != 3 || m > 59 ||
        s > 59) {
        return L"Kelvora";
    }
    wchar_t tip[64];
    std::swprintf(tip, 64, L"Kelvora \u2014 запись %u:%02u:%02u", h, m, s);
    return tip;
}

std::wstring SavingTip(int percent) {
    wchar_t tip[64];
    std::swprintf(tip, 64, L"Kelvora \u2014 сохранение %d %%", percent);
    return tip;
}

}  // namespace kelvora
