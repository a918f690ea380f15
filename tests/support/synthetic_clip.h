// Deterministic screen-like pictures for compressor and recording tests: a
// desktop, windows with title bars and lines of text, flat panels, a text
// area that scrolls, a window that moves, a clock face that changes and a
// smooth gradient, as packed DIBs of any of the four depths.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/vfw/vfw.h"

namespace kelvora::test {

// 0x00RRGGBB pixels, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> px;

    std::uint32_t& at(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
    std::uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};

// Frame `index` of the clip. Consecutive frames differ as a screen does:
// text scrolls up one line every 4 frames, a window moves 3 pixels right and
// 1 down per frame, the clock changes every frame, the rest stays still.
Picture ScreenFrame(int width, int height, int index);

// A packed DIB: header, colour table, bottom-up rows padded to 4 bytes.
struct PackedDib {
    std::vector<std::uint8_t> bytes;

    const vfw::BITMAPINFOHEADER* header() const {
        return reinterpret_cast<const vfw::BITMAPINFOHEADER*>(bytes.data());
    }
    vfw::BITMAPINFOHEADER* header() {
        return reinterpret_cast<vfw::BITMAPINFOHEADER*>(bytes.data());
    }
    // Header plus colour table: what a stream's format holds.
    size_t formatSize() const;
    const std::uint8_t* bits() const { return bytes.data() + formatSize(); }
    size_t bitsSize() const { return bytes.size() - formatSize(); }
};

// The fixed 256-colour palette of 8-bit DIBs: a 6x6x6 colour cube and 40
// greys; pictures are mapped to the nearest entry.
const std::vector<vfw::RGBQUAD>& TestPalette();

// The picture at `bitCount` 8, 16 (RGB555), 24 or 32 bits, BI_RGB.
PackedDib ToDib(const Picture& picture, int bitCount);

// What a lossless decoder shows for `dib`: the palette colour for 8 bits,
// 5-bit channels widened by bit replication for 16 bits.
Picture FromDib(const PackedDib& dib);

// Top-down 32-bit B, G, R, A (A = 255) bytes, as ffmpeg's "bgra" output.
std::vector<std::uint8_t> ToBgra(const Picture& picture);

}  // namespace kelvora::test
