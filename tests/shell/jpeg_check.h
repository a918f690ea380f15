// Reading back the JPEG files the screenshot code writes, with libjpeg:
// the pixels, and the quantisation tables that tell the quality used.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::test {

using QuantTable = std::array<unsigned, 64>;  // natural (row-major) order

struct DecodedJpeg {
    bool ok = false;
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    std::vector<QuantTable> tables;  // the file's tables 0, 1, ...
    std::vector<std::uint8_t> bgrx;  // top row first, 4 bytes a pixel
};

// Decodes a JPEG file; ok is false when libjpeg cannot read it.
DecodedJpeg DecodeJpegFile(const std::string& path);

// The luminance and chrominance tables libjpeg's compressor uses at `quality`
// (its standard tables, scaled, steps limited to 255 for baseline).
std::vector<QuantTable> ExpectedQuantTables(int quality);

// PSNR in dB over B, G and R of two equally sized 32-bit pictures; 99 when equal.
double PsnrBgrx(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace kelvora::test
