// Layout arithmetic of the window layer, portable so that it is tested on the
// host: dialog units are pixels at 96 DPI, scaled to the system DPI the way
// MulDiv does it (rounded half away from zero).
#pragma once

#include <cstdint>

namespace kelvora {

// A rectangle in 96-DPI units: left, top, width, height.
struct Rect96 {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// `value` * `dpi` / 96, rounded half away from zero (MulDiv's rounding).
constexpr int ScaleToDpi(int value, int dpi) {
    const std::int64_t p = static_cast<std::int64_t>(value) * dpi;
    const std::int64_t r = p >= 0 ? (p + 48) / 96 : -((-p + 48) / 96);
    return static_cast<int>(r);
}

// Each edge is scaled on its own, so that neighbouring controls that touch at
// 96 DPI still touch at any DPI.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};
constexpr PixelRect ScaleRect(const Rect96& r, int dpi) {
    return {ScaleToDpi(r.x, dpi), ScaleToDpi(r.y, dpi), ScaleToDpi(r.x + r.w, dpi),
            ScaleToDpi(r.y + r.h, dpi)};
}

// The height of a font of `points` at `dpi`, as a LOGFONT's lfHeight (negative:
// character height without the internal leading).
constexpr int FontHeight(int points, int dpi) {
    return -static_cast<int>((static_cast<std::int64_t>(points) * dpi + 36) / 72);
}

}  // namespace kelvora
