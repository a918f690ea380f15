// Microsoft Video 1 encoder: turns bottom-up BI_RGB frames of 8, 16, 24 or 32
// bits into the stream of 4x4 blocks (block codes from msvc_block.h, skip runs
// between them), at 16 bits (RGB555) or, for 8-bit input, palettised with the
// input's palette. Portable, no message interface: the 'MSVC' codec
// (msvc.cpp) drives it.
//
// Protocol: Begin(size, depth, palette) allocates every buffer; Encode() per
// frame writes into a caller's buffer of MaxFrameBytes() and allocates
// nothing; End() (or the destructor) frees. A delta frame is measured against
// the decoder's current picture (the encoder's own reconstruction), so coding
// errors never accumulate across frames. A source block equal to the previous
// frame's is skipped in a delta frame and, in a key frame, gets the code that
// made the decoder's block again, without any coding work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/vfw/codecs/msvc_block.h"
#include "engine/vfw/vfw.h"

namespace vfw::msvc {

// How much error one byte of output is worth. Errors are summed squared 8-bit
// channel differences over a block's 16 pixels (48 samples). Each block takes
// the code (skip, fill, 2 or 8 colours) with the least error + lambda * bytes,
// so the thresholds between codes follow from lambda: in the 16-bit stream a
// fill within 4 * lambda of the source needs no 2-colour try, and a code
// costing within 18 * lambda needs no 8-colour try (2 and 10 in the 8-bit
// stream). Skips are held to a quarter of lambda a byte: a delta block within
// lambda / 2 of the decoder's picture is skipped at once.
struct Limits {
    int lambda = 0;  // 0: least error, ties to the shorter code
};

// Limits for quality 0..10000 (10000 = best; larger values count as 10000).
Limits LimitsForQuality(DWORD quality);

class Encoder {
  public:
    // Largest frame for a width x height picture: 18 bytes a block (10 in the
    // 8-bit stream) plus the closing word.
    static std::size_t MaxFrameBytes(int width, int height);

    // Prepares for frames of width x height pixels (positive multiples of 4)
    // at bitCount 8, 16, 24 or 32; for 8 bits `palette` holds paletteSize
    // (<= 256) entries, copied here (missing entries are black). `palettised`
    // (8-bit input only) writes the 8-bit stream of palette indices instead
    // of RGB555. Returns false on bad arguments or when memory runs out
    // (nothing is kept then).
    [[nodiscard]] bool Begin(int width, int height, int bitCount, const RGBQUAD* palette,
                             int paletteSize, bool palettised = false);
    void End();
    bool begun() const { return width_ != 0; }
    // True until the first frame after Begin: the next frame will be a key frame.
    bool needsKeyFrame() const { return !havePrevious_; }

    // Encodes one frame of packed bottom-up rows (padded to 4 bytes) into
    // `out` (MaxFrameBytes() bytes) and returns the bytes written. The first
    // frame after Begin is always a key frame, whatever `keyFrame` says;
    // returns 0 when not begun.
    std::size_t Encode(const std::uint8_t* bits, const Limits& limits, bool keyFrame,
                       std::uint8_t* out);

    // The decoder's picture after the last frame: RGB555 (or palette indices
    // when palettised), bottom row first, width() pixels a row.
    const std::uint16_t* picture() const { return picture_.data(); }
    int width() const { return width_; }
    int height() const { return height_; }

  private:
    template <int Bytes, bool Palettised>
    std::size_t EncodeFrame(const std::uint8_t* bits, const Limits& limits, bool keyFrame,
                            std::uint8_t* out);

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    bool palettised_ = false;
    std::size_t stride_ = 0;
    bool havePrevious_ = false;
    std::uint32_t palette_[256] = {};  // 0x00RRGGBB for 8-bit input
    // The last code written for a block: what made the decoder's block.
    struct ShownCode {
        std::uint8_t size;
        std::uint8_t bytes[18];
    };

    std::vector<std::uint8_t> previous_;  // last source frame, for the unchanged-block test
    std::vector<std::uint16_t> picture_;  // what a decoder shows now
    std::vector<ShownCode> shownCodes_;   // per block, bottom block row first
};

}  // namespace vfw::msvc
