// Microsoft Video 1: coding of one 4x4 block, for the 16-bit (RGB555) and
// the 8-bit (palettised) stream. Picks among a fill, a 2-colour and an
// 8-colour code the one with the least error + lambda * bytes and produces its
// bytes and the pixels a decoder will show. Pure functions, no state; the
// frame loop is in msvc_encoder.cpp.
//
// Pixel i of a block is x = i & 3 on row i >> 2, rows counted upward from the
// block's bottom row: the order of the mask bits. A set mask bit shows colour
// A of a pair, a clear bit colour B.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

namespace vfw::msvc {

// Header words of the 16-bit stream.
inline constexpr std::uint16_t kSkipBase = 0x8400;  // skip n = 1..1023 blocks: kSkipBase + n
inline constexpr unsigned kMaxSkipRun = 1023;
inline constexpr std::uint16_t kFillFlag = 0x8000;         // fill word: colour | kFillFlag
inline constexpr std::uint16_t kEightColourFlag = 0x8000;  // on colour A of an 8-colour block
inline constexpr std::uint8_t kFillByte8 = 0x80;           // high byte of an 8-bit fill word

// Pixels of the four 2x2 quadrants as mask bits, in the order their colour
// pairs are written: bottom-left, bottom-right, top-left, top-right.
inline constexpr unsigned kQuadrantBits[4] = {0x0033u, 0x00CCu, 0x3300u, 0xCC00u};

// One block's source pixels as 8-bit channels, plus r^2 + g^2 + b^2 per pixel.
struct Block {
    int r[16];
    int g[16];
    int b[16];
    int sq[16];

    // Fills sq from r, g, b; call after setting the channels.
    void Finish();
};

// A coded block: its bytes (16-bit stream: 2 for a fill, 6 for 2 colours, 18
// for 8 colours; 8-bit stream: 2, 4 and 10), its error (summed squared
// channel differences) and the pixels a decoder will show, in mask-bit order:
// RGB555 colours, or palette indices in the 8-bit stream.
struct Code {
    int error = INT_MAX;
    int size = 0;
    std::uint8_t bytes[18] = {};
    std::uint16_t px[16] = {};

    long long cost(int lambda) const {
        return static_cast<long long>(error) + static_cast<long long>(lambda) * size;
    }
    void Byte(std::uint8_t v) { bytes[size++] = v; }
    void Word(std::uint16_t w) {
        Byte(static_cast<std::uint8_t>(w));
        Byte(static_cast<std::uint8_t>(w >> 8));
    }
    // The little-endian word at byte 2 * k.
    std::uint16_t word(int k) const {
        return static_cast<std::uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
    }
};

// The best code for `b`: least error + lambda * bytes (lambda >= 0; 0 means
// least error, ties going to the shorter code). Every code obeys the stream's
// rules: mask bit 15 clear in 2- and 8-colour blocks, bit 15 of colour A set
// only for 8 colours, no fill word in the skip range.
void CodeBlock(const Block& b, int lambda, Code* best);

// The single codes, for tests and for CodeBlock. A 2-colour code of a block
// with one colour has size 0 (a fill says the same).
void CodeFill(const Block& b, Code* code);
void CodeTwo(const Block& b, Code* code);
void CodeEight(const Block& b, Code* code);

// Error of showing `shown` (16 RGB555 pixels, rows `stride` apart, bottom
// row first) for `b`.
int KeepError(const Block& b, const std::uint16_t* shown, std::size_t stride);

// The 8-bit (palettised) stream. `index` holds the block's palette indices
// in mask-bit order and `b` their colours; `palette` has 256 colours as
// 0x00RRGGBB. Codes use only indices that occur in the block, so a block of
// two colours, or of two in each quadrant, is coded exactly. A fill word has
// the high byte 0x80, a 2-colour mask keeps bit 15 clear and an 8-colour mask
// has a high byte of at least 0x90.
void CodeBlock8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette, int lambda,
                Code* best);
void CodeFill8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette, Code* code);
void CodeTwo8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette, Code* code);
void CodeEight8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette,
                Code* code);
// Error of showing the palette indices `shown` (laid out as for KeepError).
int KeepError8(const Block& b, const std::uint16_t* shown, std::size_t stride,
               const std::uint32_t* palette);

// What a decoder shows for a 5-bit channel.
constexpr int Widen(int v5) {
    return v5 << 3 | v5 >> 2;
}

// RGB555 colour nearest to 8-bit r, g, b (0..255) as decoders show it.
std::uint16_t NearestRgb555(int r, int g, int b);

}  // namespace vfw::msvc
