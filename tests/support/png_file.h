// Saves pictures as PNG files for people to look at (test screenshots).
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::test {

// Writes a width x height picture of 32-bit B, G, R, x pixels. `rows` points
// at the top row; `stride` is the distance in bytes between rows and may be
// negative for bottom-up pictures. Returns false when the file cannot be written.
bool SavePngBgrx(const std::string& path, int width, int height, const std::uint8_t* rows,
                 std::ptrdiff_t stride);

}  // namespace kelvora::test
