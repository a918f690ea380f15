// What the screenshot settings select, as plain text rules: the picture
// format from `Format` and the JPEG quality from `Compress`. Both answers may
// be "nothing", in which case the screenshot command saves nothing and says
// nothing.
#pragma once

#include <optional>
#include <string>

namespace kelvora {

enum class ScreenshotFormat { Bmp, Jpeg, Png };

// "BMP", "JPG" or "PNG", compared exactly (case matters); anything else,
// the empty text included, selects no format.
std::optional<ScreenshotFormat> ScreenshotFormatFromSetting(const std::string& format);

// ".bmp", ".jpg" or ".png".
const char* ScreenshotExtension(ScreenshotFormat format);

// The JPEG quality (1..100) that `compress` selects:
//   - empty text: 80;
//   - a decimal integer (an optional '+' or '-', then digits, nothing else,
//     no spaces) within the 32-bit signed range: its lowest byte, as the
//     quality is held in one byte (300 -> 44, -5 -> 251), then limited to
//     1..100 as the encoder does (0 -> 1, 251 -> 100);
//   - anything else (letters, spaces, a value beyond 32 bits): nothing.
std::optional<int> JpegQualityFromSetting(const std::string& compress);

}  // namespace kelvora
