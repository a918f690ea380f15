// A small Microsoft Video 1 decoder for the tests (16-bit and 8-bit streams),
// written from the format's description independently of the encoder: it
// applies one frame's words to a picture and records what each block was
// coded as, so that tests can check both the pixels and the bit-level choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::test {

enum class MsvcBlockKind { kSkip, kFill, kTwo, kEight };

struct MsvcDecoder {
    int width = 0;
    int height = 0;
    bool palettised = false;  // the 8-bit stream: pixels are palette indices
    // RGB555 pixels (or palette indices), bottom row first, as a decoder holds
    // them between frames.
    std::vector<std::uint16_t> picture;
    // Of the last frame: per block (bottom block row first) how it was coded,
    // the skip words' counts, and whether the 0x0000 end word followed.
    std::vector<MsvcBlockKind> kinds;
    std::vector<unsigned> skipRuns;
    bool endWord = false;
    std::string error;  // why the last Decode failed

    MsvcDecoder(int w, int h, bool eightBit = false)
        : width(w), height(h), palettised(eightBit), picture(static_cast<std::size_t>(w) * h, 0) {}

    // Applies one frame. Fails (with `error`) on a truncated frame, a skip
    // past the last block, or bytes after the end word.
    bool Decode(const std::uint8_t* data, std::size_t size);

    std::uint16_t at(int x, int yFromBottom) const {
        return picture[static_cast<std::size_t>(yFromBottom) * width + x];
    }
};

// 8-bit channels of an RGB555 value as a decoder widens them.
inline void Rgb555To8(std::uint16_t v, int* r, int* g, int* b) {
    const auto widen = [](int c) { return c << 3 | c >> 2; };
    *r = widen(v >> 10 & 31);
    *g = widen(v >> 5 & 31);
    *b = widen(v & 31);
}

}  // namespace kelvora::test
