// Test-side look at a JPEG picture: its markers and, decoded by libjpeg,
// its pixels. Errors are reported, never fatal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::test {

struct JpegFacts {
    bool ok = false;
    std::string error;
    int width = 0;
    int height = 0;
    int components = 0;
    int hSampling[3] = {};  // per component
    int vSampling[3] = {};
    bool baseline = false;  // SOF0 frame
    int huffmanSegments = 0;
    int quantSegments = 0;
    bool endsWithEoi = false;
    long warnings = 0;               // libjpeg's complaints about the data (corrupt, short)
    std::vector<std::uint8_t> bgrx;  // decoded, top row first
};

// Inspects and decodes one picture.
JpegFacts ReadJpeg(const std::uint8_t* data, size_t size);

}  // namespace kelvora::test
