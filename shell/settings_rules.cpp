#include "shell/settings_rules.h"

#include <limits>

namespace kelvora {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<std::int32_t> ParseSettingInt(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        for (char c : text.substr(2)) {
            const int d = HexDigit(c);
            if (d < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<std::uint64_t>(d);
            if (value > 0xFFFFFFFFu) {
                return std::nullopt;
            }
        }
        // 0xFFFFFFFF is -1: the digits are the value's 32-bit pattern.
        return static_cast<std::int32_t>(value);
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Accumulated in 64 bits; the limit is checked at every digit.
    const std::int64_t limit =
        negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                 : std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

void ReadSettings(const SettingReader& read, TSettings& settings, CameraSettings& camera) {
    auto readText = [&](const char* key, std::string& field) {
        if (std::optional<std::string> text = read(key)) {
            if (text->size() > kMaxSettingText) {
                text->resize(kMaxSettingText);
            }
            field = std::move(*text);
        }
    };
    auto readInt = [&](const char* key) -> std::optional<std::int32_t> {
        const std::optional<std::string> text = read(key);
        return text ? ParseSettingInt(*text) : std::nullopt;
    };
    readText("OutputDir", settings.OutputDir);
    readText("Format", settings.Format);
    readText("Compress", settings.Compress);
    const std::optional<std::int32_t> codec = readInt("Codec");
    const std::optional<std::int32_t> quality = readInt("VideoCompress");
    if (codec) {
        settings.Codec = *codec;
        camera.CodecIndex = *codec;
    }
    if (quality) {
        settings.VideoCompress = *quality;
        // Wraps like the 32-bit multiplication it stands for, instead of
        // overflowing: values beyond 0..100 come only from hand edits.
        camera.CompressionQuality =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(*quality) * 100u);
    }
}

std::array<std::string, 5> SettingsValues(const TSettings& settings) {
    return {settings.OutputDir, settings.Format, settings.Compress, std::to_string(settings.Codec),
            std::to_string(settings.VideoCompress)};
}

std::optional<std::size_t> WriteSettings(const SettingWriter& write, const TSettings& settings) {
    const std::array<std::string, 5> values = SettingsValues(settings);
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i) {
        if (!write(kSettingsKeys[i], values[i])) {
            return i;
        }
    }
    return std::nullopt;
}

std::wstring SettingsPath(const std::wstring& appDir) {
    return appDir + L"\\Settings.ini";
}

std::wstring UnableToWriteText(const std::wstring& path) {
    return L"Unable to write to " + path;
}

std::wstring AutorunCommand(const std::wstring& exePath) {
    return L"\"" + exePath + L"\"";
}

std::wstring AutorunProgram(const std::wstring& value) {
    if (!value.empty() && value.front() == L'"') {
        const std::size_t close = value.find(L'"', 1);
        return value.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return value;
}

}  // namespace kelvora
