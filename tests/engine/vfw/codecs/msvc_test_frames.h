// Frames for the Microsoft Video 1 tests: synthetic pictures as input DIBs of
// each depth, and the quality of a 16-bit picture against its source.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/synthetic_clip.h"

namespace kelvora::test {

// `picture` as a packed DIB of `depth` bits. 8-bit frames use TestPalette()
// and map each channel to its 6x6x6 cube directly (the shared converter
// searches the palette per colour, which is slow for gradients under the
// sanitizers).
PackedDib MsvcInput(const Picture& picture, int depth);

// PSNR in dB of RGB555 pixels (bottom row first, as a decoder holds them;
// bit 15 ignored) against `source` (top row first); 99 when identical.
double Psnr555(const std::vector<std::uint16_t>& shown, const Picture& source);

// The same for palette indices, shown as `palette` colours (0x00RRGGBB).
double PsnrIndexed(const std::vector<std::uint16_t>& shown, const std::uint32_t* palette,
                   const Picture& source);

}  // namespace kelvora::test
