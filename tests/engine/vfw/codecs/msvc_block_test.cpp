// Bit-level rules of single Microsoft Video 1 blocks: which code a block gets,
// the mask and colour flag bits, and fill colours kept out of the skip range.
#include "engine/vfw/codecs/msvc_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/engine/vfw/codecs/msvc_test_decoder.h"

namespace vfw::msvc {
namespace {

using kelvora::test::Rgb555To8;

// A block from 16 0xRRGGBB pixels in mask-bit order (bottom row first).
Block MakeBlock(const std::uint32_t (&px)[16]) {
    Block b;
    for (int i = 0; i < 16; ++i) {
        b.r[i] = static_cast<int>(px[i] >> 16 & 0xFF);
        b.g[i] = static_cast<int>(px[i] >> 8 & 0xFF);
        b.b[i] = static_cast<int>(px[i] & 0xFF);
    }
    b.Finish();
    return b;
}

// Decodes `code` as the only block of a 4x4 frame, checking that the words
// parse as the kind they claim to be.
std::vector<std::uint16_t> Decoded(const Code& code, kelvora::test::MsvcBlockKind* kind) {
    const std::vector<std::uint8_t> bytes(code.bytes, code.bytes + code.size);
    kelvora::test::MsvcDecoder d(4, 4);
    EXPECT_TRUE(d.Decode(bytes.data(), bytes.size())) << d.error;
    *kind = d.kinds.empty() ? kelvora::test::MsvcBlockKind::kSkip : d.kinds[0];
    return d.picture;
}

int ErrorOf(const Block& b, const std::vector<std::uint16_t>& shown) {
    int e = 0;
    for (int i = 0; i < 16; ++i) {
        int r, g, bl;
        Rgb555To8(shown[static_cast<size_t>(i)], &r, &g, &bl);
        e += (b.r[i] - r) * (b.r[i] - r) + (b.g[i] - g) * (b.g[i] - g) +
             (b.b[i] - bl) * (b.b[i] - bl);
    }
    return e;
}

constexpr std::uint32_t W = 0xFFFFFF, K = 0x000000, R = 0xFF0000, G = 0x00FF00, B = 0x0000FF,
                        Y = 0xFFFF00, C = 0x00FFFF, M = 0xFF00FF, D = 0x3A6EA5;

struct Case {
    const char* name;
    std::uint32_t px[16];
    int lambda;
    kelvora::test::MsvcBlockKind kind;
    bool exact;  // every source colour is an RGB555 colour the code can show
};

using Kind = kelvora::test::MsvcBlockKind;

// Rows in mask-bit order: bottom row first, left to right.
const Case kCases[] = {
    {"flat desktop", {D, D, D, D, D, D, D, D, D, D, D, D, D, D, D, D}, 0, Kind::kFill, false},
    {"text, top-right pixel dark",
     {W, K, K, K, W, W, K, K, W, K, K, K, W, K, K, K},
     0,
     Kind::kTwo,
     true},
    {"text, top-right pixel bright (bit 15 set before the swap)",
     {K, K, K, W, K, K, W, W, K, K, K, W, K, K, K, W},
     0,
     Kind::kTwo,
     true},
    {"four quadrants of two colours each",
     {R, G, B, Y, G, R, Y, B, C, M, W, K, M, C, K, W},
     0,
     Kind::kEight,
     true},
    {"eight colours, top-right pixel bright",
     {R, G, B, K, G, R, K, B, C, M, K, K, M, C, K, W},
     0,
     Kind::kEight,
     true},
    {"four quadrants, but a large lambda",
     {R, G, B, Y, G, R, Y, B, C, M, W, K, M, C, K, W},
     1000000,
     Kind::kFill,
     false},
    {"text under a moderate lambda stays 2-colour",
     {K, W, W, W, K, K, W, W, K, W, W, W, K, W, W, W},
     300,
     Kind::kTwo,
     true},
};

TEST(MsvcBlock, CodesFollowTheStreamRules) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Block b = MakeBlock(c.px);
        Code code;
        CodeBlock(b, c.lambda, &code);
        Kind kind;
        const std::vector<std::uint16_t> shown = Decoded(code, &kind);
        EXPECT_EQ(kind, c.kind);
        // The pixels the coder says a decoder shows are what a decoder shows,
        // and its error is their real error.
        EXPECT_EQ(std::vector<std::uint16_t>(code.px, code.px + 16), shown);
        EXPECT_EQ(code.error, ErrorOf(b, shown));
        if (c.exact) {
            EXPECT_EQ(code.error, 0);
        }
        switch (kind) {
            case Kind::kFill:
                ASSERT_EQ(code.size, 2);
                EXPECT_TRUE(code.word(0) & 0x8000);
                EXPECT_FALSE(code.word(0) >= 0x8400 && code.word(0) <= 0x87FF);
                break;
            case Kind::kTwo:
                ASSERT_EQ(code.size, 6);
                EXPECT_EQ(code.word(0) & 0x8000, 0) << "mask bit 15";
                EXPECT_EQ(code.word(1) & 0x8000, 0) << "colour A bit 15";
                EXPECT_EQ(code.word(2) & 0x8000, 0) << "colour B bit 15";
                break;
            case Kind::kEight:
                ASSERT_EQ(code.size, 18);
                EXPECT_EQ(code.word(0) & 0x8000, 0) << "mask bit 15";
                EXPECT_NE(code.word(1) & 0x8000, 0) << "colour A bit 15";
                for (int k = 2; k < 9; ++k) {
                    EXPECT_EQ(code.word(k) & 0x8000, 0) << "colour " << k;
                }
                break;
            case Kind::kSkip:
                ADD_FAILURE() << "a block code decoded as a skip";
                break;
        }
    }
}

// A fill whose red level is 1 would be a skip word: red moves to the nearer of
// levels 0 and 2 (shown as 0 and 16), the other channels stay.
TEST(MsvcBlock, FillColoursAreNudgedOutOfTheSkipRange) {
    struct Nudge {
        int red;       // 8-bit red of a flat block (level 1 is shown as 8)
        int shownRed;  // red a decoder shows afterwards
    };
    for (const Nudge& n : {Nudge{6, 0}, Nudge{8, 16}, Nudge{11, 16}, Nudge{7, 0}}) {
        for (const int green : {0, 255, 0x88}) {
            SCOPED_TRACE("red " + std::to_string(n.red) + " green " + std::to_string(green));
            const std::uint32_t c = static_cast<std::uint32_t>(n.red) << 16 |
                                    static_cast<std::uint32_t>(green) << 8 | 0x40;
            std::uint32_t px[16];
            std::fill(px, px + 16, c);
            Code code;
            CodeBlock(MakeBlock(px), 0, &code);
            ASSERT_EQ(code.size, 2);
            EXPECT_FALSE(code.word(0) >= 0x8400 && code.word(0) <= 0x87FF) << code.word(0);
            Kind kind;
            const auto shown = Decoded(code, &kind);
            EXPECT_EQ(kind, Kind::kFill);
            int r, g, b;
            Rgb555To8(shown[0], &r, &g, &b);
            EXPECT_EQ(r, n.shownRed);
            EXPECT_EQ(g, Widen(NearestRgb555(0, green, 0) >> 5 & 31));
        }
    }
    // Other reds keep their nearest colour.
    std::uint32_t px[16];
    std::fill(px, px + 16, 0x180000u);
    Code code;
    CodeBlock(MakeBlock(px), 0, &code);
    EXPECT_EQ(code.word(0), 0x8000 | NearestRgb555(0x18, 0, 0));
}

// The single codes on their own: a 2-colour code of a one-colour block says
// nothing; every decoded pixel is within the 5-bit rounding of its colour.
TEST(MsvcBlock, SingleCodesAndRounding) {
    std::uint32_t flat[16];
    std::fill(flat, flat + 16, 0x123456u);
    Code two;
    CodeTwo(MakeBlock(flat), &two);
    EXPECT_EQ(two.size, 0);

    for (int v = 0; v < 256; ++v) {
        int r, g, b;
        Rgb555To8(NearestRgb555(v, 255 - v, v / 2), &r, &g, &b);
        EXPECT_LE(std::abs(r - v), 4) << v;
        EXPECT_LE(std::abs(g - (255 - v)), 4) << v;
        EXPECT_LE(std::abs(b - v / 2), 4) << v;
    }

    // Colours of equal brightness still split (by the channel that varies).
    // Channels of 132 and 0 show exactly at 5 bits.
    const std::uint32_t P = 0x848400, Q = 0x840084;  // r + 2g + b differ
    const std::uint32_t S = 0x840084, T = 0x008400;  // r + 2g + b equal: 264
    const Block eq = MakeBlock({S, S, T, T, S, S, T, T, S, S, T, T, S, S, T, T});
    CodeTwo(eq, &two);
    EXPECT_EQ(two.size, 6);
    EXPECT_EQ(two.error, 0);
    Code eight;
    CodeEight(MakeBlock({P, Q, P, Q, P, Q, P, Q, S, T, S, T, S, T, S, T}), &eight);
    EXPECT_EQ(eight.size, 18);
    EXPECT_EQ(eight.error, 0);
}

// ---- The 8-bit stream ----

// A palette of primaries first, then greys.
struct TestPalette8 {
    std::uint32_t colour[256];
    TestPalette8() {
        const std::uint32_t first[8] = {K, W, R, G, B, Y, C, M};
        for (int i = 0; i < 256; ++i) {
            colour[i] = i < 8 ? first[i] : static_cast<std::uint32_t>(i) * 0x010101u;
        }
    }
};

Block MakeBlock8(const std::uint8_t (&index)[16], const TestPalette8& pal) {
    std::uint32_t px[16];
    for (int i = 0; i < 16; ++i) {
        px[i] = pal.colour[index[i]];
    }
    return MakeBlock(px);
}

struct Case8 {
    const char* name;
    std::uint8_t index[16];
    int lambda;
    Kind kind;
    bool exact;
};

// Indices: 0 black, 1 white, 2 red, 3 green, 4 blue, 5 yellow, 6 cyan,
// 7 magenta, then greys.
const Case8 kCases8[] = {
    {"flat", {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6}, 0, Kind::kFill, true},
    {"flat grey past the primaries",
     {200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200},
     0,
     Kind::kFill,
     true},
    {"two colours, top-right dark",
     {1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0},
     0,
     Kind::kTwo,
     true},
    {"two colours, top-right bright",
     {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1},
     0,
     Kind::kTwo,
     true},
    {"two per quadrant, top-right pixel dark",
     {2, 3, 4, 5, 3, 2, 5, 4, 6, 7, 1, 1, 7, 6, 1, 0},
     0,
     Kind::kEight,
     true},
    {"two per quadrant, top row dark but the top-right pixel",
     {2, 3, 4, 5, 3, 2, 5, 4, 1, 1, 0, 0, 0, 0, 0, 1},
     0,
     Kind::kEight,
     true},
    {"two per quadrant under a large lambda",
     {2, 3, 4, 5, 3, 2, 5, 4, 6, 7, 1, 1, 7, 6, 1, 0},
     1000000,
     Kind::kFill,
     false},
};

TEST(MsvcBlock, PalettisedCodesFollowTheStreamRules) {
    const TestPalette8 pal;
    for (const Case8& c : kCases8) {
        SCOPED_TRACE(c.name);
        const Block b = MakeBlock8(c.index, pal);
        Code code;
        CodeBlock8(b, c.index, pal.colour, c.lambda, &code);
        kelvora::test::MsvcDecoder d(4, 4, true);
        ASSERT_TRUE(d.Decode(code.bytes, static_cast<size_t>(code.size))) << d.error;
        ASSERT_EQ(d.kinds.size(), 1u);
        EXPECT_EQ(d.kinds[0], c.kind);
        EXPECT_EQ(std::vector<std::uint16_t>(code.px, code.px + 16), d.picture);
        int error = 0;
        for (int i = 0; i < 16; ++i) {
            const std::uint32_t s = pal.colour[c.index[i]],
                                t = pal.colour[d.picture[static_cast<size_t>(i)]];
            for (int shift : {0, 8, 16}) {
                const int diff =
                    static_cast<int>(s >> shift & 0xFF) - static_cast<int>(t >> shift & 0xFF);
                error += diff * diff;
            }
        }
        EXPECT_EQ(code.error, error);
        if (c.exact) {
            EXPECT_EQ(error, 0);
        }
        // Only indices of the block's own pixels are used.
        for (const std::uint16_t v : d.picture) {
            EXPECT_NE(std::find(std::begin(c.index), std::end(c.index), v), std::end(c.index));
        }
        const int high = code.bytes[1];
        switch (c.kind) {
            case Kind::kFill:
                EXPECT_EQ(code.size, 2);
                EXPECT_TRUE((high >= 0x80 && high <= 0x83) || (high >= 0x88 && high <= 0x8F));
                break;
            case Kind::kTwo:
                EXPECT_EQ(code.size, 4);
                EXPECT_LT(high, 0x80);
                break;
            case Kind::kEight:
                EXPECT_EQ(code.size, 10);
                EXPECT_GE(high, 0x90);
                break;
            case Kind::kSkip:
                break;
        }
    }
}

}  // namespace
}  // namespace vfw::msvc
