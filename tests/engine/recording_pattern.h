// The moving test pattern that the recording tests put on the screen and
// the host-side checks look for in the decoded frames.
#pragma once

#include <cstdint>

namespace recording_pattern {

// Size of the pattern window; multiples of 4, so no compressor resizes it.
inline constexpr int kWidth = 320;
inline constexpr int kHeight = 240;
inline constexpr int kBarWidth = 24;
// Colours shown exactly at every depth (in the 8-bit halftone palette too),
// as 0x00RRGGBB.
inline constexpr std::uint32_t kBackground = 0x000000;
inline constexpr std::uint32_t kBar = 0xFFFFFF;
inline constexpr std::uint32_t kBand = 0xFF0000;  // a still band along the bottom
inline constexpr int kBandTop = 200;

// Left edge of the bar at `ms` milliseconds of the pattern's clock: it
// sweeps right at 0.2 pixels per millisecond and starts again at the left.
inline int BarLeft(std::uint32_t ms) { return static_cast<int>((ms / 5) % (kWidth - kBarWidth)); }

}  // namespace recording_pattern
