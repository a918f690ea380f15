#include "shell/screenshot_rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kelvora {

namespace {

constexpr int kDefaultJpegQuality = 80;

std::optional<std::int64_t> ParseDecimal(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
        // Past any 32-bit value: stop before the 64-bit sum can overflow.
        if (value > std::int64_t{1} << 32) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<ScreenshotFormat> ScreenshotFormatFromSetting(const std::string& format) {
    if (format == "BMP") {
        return ScreenshotFormat::Bmp;
    }
    if (format == "JPG") {
        return ScreenshotFormat::Jpeg;
    }
    if (format == "PNG") {
        return ScreenshotFormat::Png;
    }
    return std::nullopt;
}

const char* ScreenshotExtension(ScreenshotFormat format) {
    switch (format) {
        case ScreenshotFormat::Bmp:
            return ".bmp";
        case ScreenshotFormat::Jpeg:
            return ".jpg";
        case ScreenshotFormat::Png:
            return ".png";
    }
    return "";
}

std::optional<int> JpegQualityFromSetting(const std::string& compress) {
    if (compress.empty()) {
        return kDefaultJpegQuality;
    }
    const std::optional<std::int64_t> value = ParseDecimal(compress);
    if (!value) {
        return std::nullopt;
    }
    // The lowest byte of the two's-complement value: -5 keeps 251.
    const int held = static_cast<int>(static_cast<std::uint64_t>(*value) & 0xFF);
    return std::clamp(held, 1, 100);
}

}  // namespace kelvora
