#include "engine/vfw/codecs/msvc_block.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vfw::msvc {

namespace {

// The 5-bit level whose widened value is nearest to each 8-bit value.
constexpr std::array<std::uint8_t, 256> MakeNearestLevel() {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (int k = 1; k < 32; ++k) {
            const int d = Widen(k) - v, bd = Widen(best) - v;
            if (d * d < bd * bd) {
                best = k;
            }
        }
        t[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(best);
    }
    return t;
}
constexpr std::array<std::uint8_t, 256> kNearestLevel = MakeNearestLevel();

// 65536 / n, rounded: means of up to 16 pixels without dividing.
constexpr std::array<int, 17> MakeReciprocals() {
    std::array<int, 17> t{};
    for (int n = 1; n <= 16; ++n) {
        t[static_cast<std::size_t>(n)] = (65536 + n / 2) / n;
    }
    return t;
}
constexpr std::array<int, 17> kReciprocal = MakeReciprocals();

// Mask bit of each pixel. Masks are built as the OR of (bit & -condition), which
// vectorises, rather than by shifting each condition into place.
constexpr std::array<unsigned, 16> MakeBits() {
    std::array<unsigned, 16> t{};
    for (unsigned i = 0; i < 16; ++i) {
        t[i] = 1u << i;
    }
    return t;
}
constexpr std::array<unsigned, 16> kBit = MakeBits();

unsigned BitIf(int i, bool condition) {
    return kBit[static_cast<std::size_t>(i)] & (0u - static_cast<unsigned>(condition));
}

// Pixels of each quadrant, in the order of kQuadrantBits.
constexpr int kQuadrantPixels[4][4] = {
    {0, 1, 4, 5}, {2, 3, 6, 7}, {8, 9, 12, 13}, {10, 11, 14, 15}};

// A colour as written (RGB555) and as a decoder shows it (8-bit channels).
struct Colour {
    std::uint16_t word;
    int r, g, b;
};

Colour FromLevels(int r5, int g5, int b5) {
    return {static_cast<std::uint16_t>(r5 << 10 | g5 << 5 | b5), Widen(r5), Widen(g5), Widen(b5)};
}

// Sums over a group of pixels.
struct Sums {
    int n = 0;
    int r = 0, g = 0, b = 0;
    int sq = 0;  // of r^2 + g^2 + b^2
};

Sums Minus(const Sums& a, const Sums& b) {
    return {a.n - b.n, a.r - b.r, a.g - b.g, a.b - b.b, a.sq - b.sq};
}

// Sums over the pixels whose bits are set in `select`. Masks instead of
// branches or products, so that the loop vectorises.
Sums MaskedSums(const Block& b, unsigned select) {
    int n = 0, r = 0, g = 0, bl = 0, sq = 0;
    for (int i = 0; i < 16; ++i) {
        const int m = -static_cast<int>(select >> i & 1u);
        n -= m;
        r += b.r[i] & m;
        g += b.g[i] & m;
        bl += b.b[i] & m;
        sq += b.sq[i] & m;
    }
    return {n, r, g, bl, sq};
}

// Sums over the pixels of quadrant q whose bits are set in `select`.
Sums QuadrantSums(const Block& b, int q, unsigned select) {
    Sums s;
    for (int k = 0; k < 4; ++k) {
        const int i = kQuadrantPixels[q][k];
        const int m = -static_cast<int>(select >> i & 1u);
        s.n -= m;
        s.r += b.r[i] & m;
        s.g += b.g[i] & m;
        s.b += b.b[i] & m;
        s.sq += b.sq[i] & m;
    }
    return s;
}

int Mean8(int sum, int n) {
    return std::min(255, (sum * kReciprocal[static_cast<std::size_t>(n)] + 32768) >> 16);
}

// The RGB555 colour nearest to the group's mean (n > 0).
Colour MeanColour(const Sums& s) {
    return FromLevels(kNearestLevel[static_cast<std::size_t>(Mean8(s.r, s.n))],
                      kNearestLevel[static_cast<std::size_t>(Mean8(s.g, s.n))],
                      kNearestLevel[static_cast<std::size_t>(Mean8(s.b, s.n))]);
}

// Summed squared error of showing the group as colour c:
// sum |v - c|^2 = sum |v|^2 - 2 c . sum v + n |c|^2.
int GroupError(const Sums& s, const Colour& c) {
    return s.sq - 2 * (c.r * s.r + c.g * s.g + c.b * s.b) +
           s.n * (c.r * c.r + c.g * c.g + c.b * c.b);
}

int Distance(const Block& b, int i, const Colour& c) {
    const int dr = b.r[i] - c.r, dg = b.g[i] - c.g, db = b.b[i] - c.b;
    return dr * dr + dg * dg + db * db;
}

// Brightness for splitting a group in two.
int Luma(const Block& b, int i) {
    return b.r[i] + 2 * b.g[i] + b.b[i];
}

// Of the 16 pixels, those brighter than the mean; when all are equally bright
// (colours of equal luma), those above the mean of the channel that varies
// most. Zero when all 16 are equal.
unsigned SplitBlock(const Block& b, const Sums& all) {
    int luma[16];
    int total = 0;
    for (int i = 0; i < 16; ++i) {
        luma[i] = Luma(b, i);
        total += luma[i];
    }
    unsigned above = 0;
    for (int i = 0; i < 16; ++i) {
        above |= BitIf(i, luma[i] * 16 > total);
    }
    if (above != 0) {
        return above;
    }
    int qr = 0, qg = 0, qb = 0;
    for (int i = 0; i < 16; ++i) {
        qr += b.r[i] * b.r[i], qg += b.g[i] * b.g[i], qb += b.b[i] * b.b[i];
    }
    const int vr = 16 * qr - all.r * all.r, vg = 16 * qg - all.g * all.g,
              vb = 16 * qb - all.b * all.b;
    const int* key = vr >= vg && vr >= vb ? b.r : (vg >= vb ? b.g : b.b);
    const int keyTotal = vr >= vg && vr >= vb ? all.r : (vg >= vb ? all.g : all.b);
    for (int i = 0; i < 16; ++i) {
        above |= BitIf(i, key[i] * 16 > keyTotal);
    }
    return above;
}

// The same for the four pixels of quadrant q, as mask bits.
unsigned SplitQuadrant(const Block& b, int q) {
    const int* px = kQuadrantPixels[q];
    int luma[4];
    for (int k = 0; k < 4; ++k) {
        luma[k] = Luma(b, px[k]);
    }
    const int total = luma[0] + luma[1] + luma[2] + luma[3];
    unsigned above = 0;
    for (int k = 0; k < 4; ++k) {
        above |= BitIf(px[k], luma[k] * 4 > total);
    }
    if (above != 0) {
        return above;
    }
    for (const int* key : {b.r, b.g, b.b}) {
        const int t = key[px[0]] + key[px[1]] + key[px[2]] + key[px[3]];
        for (int k = 0; k < 4; ++k) {
            above |= BitIf(px[k], key[px[k]] * 4 > t);
        }
        if (above != 0) {
            break;
        }
    }
    return above;
}

}  // namespace

void Block::Finish() {
    for (int i = 0; i < 16; ++i) {
        sq[i] = r[i] * r[i] + g[i] * g[i] + b[i] * b[i];
    }
}

std::uint16_t NearestRgb555(int r, int g, int b) {
    return FromLevels(kNearestLevel[static_cast<std::size_t>(std::clamp(r, 0, 255))],
                      kNearestLevel[static_cast<std::size_t>(std::clamp(g, 0, 255))],
                      kNearestLevel[static_cast<std::size_t>(std::clamp(b, 0, 255))])
        .word;
}

namespace {

// A fill word of red level 1 would read as a skip (0x8400..0x87FF): such a
// fill takes red level 0 or 2, whichever is nearer the mean.
void Fill(const Sums& all, Code* code) {
    Colour c = MeanColour(all);
    if ((c.word >> 10) == 1) {
        c = FromLevels(Mean8(all.r, all.n) < Widen(1) ? 0 : 2, c.word >> 5 & 31, c.word & 31);
    }
    code->error = GroupError(all, c);
    code->size = 0;
    code->Word(static_cast<std::uint16_t>(c.word | kFillFlag));
    std::fill(code->px, code->px + 16, c.word);
}

// Colours for the pixels of `upper` and for the rest of `group`; returns the
// error of both.
int Pair(const Sums& group, const Sums& upper, Colour* a, Colour* c) {
    const Sums lower = Minus(group, upper);
    *a = MeanColour(upper);
    *c = MeanColour(lower);
    return GroupError(upper, *a) + GroupError(lower, *c);
}

void Two(const Block& b, const Sums& all, Code* code) {
    code->size = 0;
    code->error = INT_MAX;
    unsigned mask = SplitBlock(b, all);
    if (mask == 0) {
        return;
    }
    Colour a, c;
    int error = Pair(all, MaskedSums(b, mask), &a, &c);
    // One pass that moves each pixel to the nearer colour.
    unsigned moved = 0;
    for (int i = 0; i < 16; ++i) {
        moved |= BitIf(i, Distance(b, i, a) < Distance(b, i, c));
    }
    if (moved != mask && moved != 0 && moved != 0xFFFFu) {
        Colour a2, c2;
        const int error2 = Pair(all, MaskedSums(b, moved), &a2, &c2);
        if (error2 < error) {
            error = error2, mask = moved, a = a2, c = c2;
        }
    }
    // Bit 15 (the top-right pixel) set would turn the mask word into a fill or
    // skip: show that pixel with colour B instead.
    if (mask & 0x8000u) {
        mask = ~mask & 0xFFFFu;
        std::swap(a, c);
    }
    code->error = error;
    code->Word(static_cast<std::uint16_t>(mask));
    code->Word(a.word);
    code->Word(c.word);
    for (int i = 0; i < 16; ++i) {
        code->px[i] = (mask >> i & 1u) ? a.word : c.word;
    }
}

}  // namespace

void CodeFill(const Block& b, Code* code) {
    Fill(MaskedSums(b, 0xFFFFu), code);
}

void CodeTwo(const Block& b, Code* code) {
    Two(b, MaskedSums(b, 0xFFFFu), code);
}

void CodeEight(const Block& b, Code* code) {
    unsigned mask = 0;
    int error = 0;
    Colour pair[4][2];
    for (int q = 0; q < 4; ++q) {
        const Sums group = QuadrantSums(b, q, kQuadrantBits[q]);
        const unsigned upper = SplitQuadrant(b, q);
        if (upper == 0) {
            pair[q][0] = pair[q][1] = MeanColour(group);
            error += GroupError(group, pair[q][0]);
            continue;
        }
        error += Pair(group, QuadrantSums(b, q, upper), &pair[q][0], &pair[q][1]);
        mask |= upper;
    }
    // Bit 15 must stay clear (see Two); it belongs to the top-right quadrant.
    if (mask & 0x8000u) {
        mask ^= kQuadrantBits[3];
        std::swap(pair[3][0], pair[3][1]);
    }
    code->error = error;
    code->size = 0;
    code->Word(static_cast<std::uint16_t>(mask));
    for (int q = 0; q < 4; ++q) {
        code->Word(q == 0 ? static_cast<std::uint16_t>(pair[q][0].word | kEightColourFlag)
                          : pair[q][0].word);
        code->Word(pair[q][1].word);
    }
    for (int i = 0; i < 16; ++i) {
        const int q = (i >> 3) * 2 + ((i & 3) >> 1);
        code->px[i] = (mask >> i & 1u) ? pair[q][0].word : pair[q][1].word;
    }
}

void CodeBlock(const Block& b, int lambda, Code* best) {
    const Sums all = MaskedSums(b, 0xFFFFu);
    Fill(all, best);
    // A flat block, or a fill nearer than a pair's 4 extra bytes are worth,
    // needs no pair.
    bool flat = true;
    for (int i = 1; i < 16; ++i) {
        flat &= b.r[i] == b.r[0] && b.g[i] == b.g[0] && b.b[i] == b.b[0];
    }
    if (flat || best->error <= 4 * lambda) {
        return;
    }
    Code two;
    Two(b, all, &two);
    if (two.size != 0 && two.cost(lambda) < best->cost(lambda)) {
        *best = two;
    }
    // Eight colours cost 18 bytes: no better when the best so far costs less.
    if (best->cost(lambda) <= 18LL * lambda) {
        return;
    }
    Code eight;
    CodeEight(b, &eight);
    if (eight.cost(lambda) < best->cost(lambda)) {
        *best = eight;
    }
}

int KeepError(const Block& b, const std::uint16_t* shown, std::size_t stride) {
    int v[16];
    for (int k = 0; k < 4; ++k) {
        for (int x = 0; x < 4; ++x) {
            v[k * 4 + x] =
                shown[static_cast<std::size_t>(k) * stride + static_cast<std::size_t>(x)];
        }
    }
    int error = 0;
    for (int i = 0; i < 16; ++i) {
        const int dr = b.r[i] - Widen(v[i] >> 10 & 31), dg = b.g[i] - Widen(v[i] >> 5 & 31),
                  db = b.b[i] - Widen(v[i] & 31);
        error += dr * dr + dg * dg + db * db;
    }
    return error;
}

// ---- 8-bit stream ----

namespace {

int Distance8(const Block& b, int i, std::uint32_t c) {
    const int dr = b.r[i] - static_cast<int>(c >> 16 & 0xFF),
              dg = b.g[i] - static_cast<int>(c >> 8 & 0xFF),
              db = b.b[i] - static_cast<int>(c & 0xFF);
    return dr * dr + dg * dg + db * db;
}

// Of the pixels in `select` (not empty), the index of the one nearest to
// their mean colour.
std::uint8_t NearestPresent(const Block& b, const std::uint8_t* index, unsigned select) {
    const Sums s = MaskedSums(b, select);
    const int mr = Mean8(s.r, s.n), mg = Mean8(s.g, s.n), mb = Mean8(s.b, s.n);
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < 16; ++i) {
        const int dr = b.r[i] - mr, dg = b.g[i] - mg, db = b.b[i] - mb;
        const int d = dr * dr + dg * dg + db * db;
        if ((select >> i & 1u) != 0 && d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return index[best];
}

// Splits the pixels of `select` between indices a (set bits) and c by the
// nearer colour; adds their error to *error.
unsigned Assign8(const Block& b, unsigned select, std::uint32_t a, std::uint32_t c, int* error) {
    unsigned bits = 0;
    for (int i = 0; i < 16; ++i) {
        if ((select >> i & 1u) == 0) {
            continue;
        }
        const int da = Distance8(b, i, a), dc = Distance8(b, i, c);
        bits |= BitIf(i, da < dc);
        *error += std::min(da, dc);
    }
    return bits;
}

}  // namespace

void CodeFill8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette,
               Code* code) {
    const std::uint8_t fill = NearestPresent(b, index, 0xFFFFu);
    code->error = 0;
    for (int i = 0; i < 16; ++i) {
        code->error += Distance8(b, i, palette[fill]);
    }
    code->size = 0;
    code->Byte(fill);
    code->Byte(kFillByte8);
    std::fill(code->px, code->px + 16, fill);
}

void CodeTwo8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette, Code* code) {
    code->size = 0;
    code->error = INT_MAX;
    const unsigned upper = SplitBlock(b, MaskedSums(b, 0xFFFFu));
    if (upper == 0) {
        return;
    }
    std::uint8_t a = NearestPresent(b, index, upper);
    std::uint8_t c = NearestPresent(b, index, ~upper & 0xFFFFu);
    if (palette[a] == palette[c]) {
        return;  // one colour after all: a fill says the same
    }
    int error = 0;
    unsigned mask = Assign8(b, 0xFFFFu, palette[a], palette[c], &error);
    // Bit 15 set would make the word a fill or skip (see Two).
    if (mask & 0x8000u) {
        mask = ~mask & 0xFFFFu;
        std::swap(a, c);
    }
    code->error = error;
    code->Word(static_cast<std::uint16_t>(mask));
    code->Byte(a);
    code->Byte(c);
    for (int i = 0; i < 16; ++i) {
        code->px[i] = (mask >> i & 1u) ? a : c;
    }
}

void CodeEight8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette,
                Code* code) {
    unsigned mask = 0;
    int error = 0;
    std::uint8_t pair[4][2];
    for (int q = 0; q < 4; ++q) {
        const unsigned all = kQuadrantBits[q];
        const unsigned upper = SplitQuadrant(b, q);
        if (upper == 0) {
            pair[q][0] = pair[q][1] = NearestPresent(b, index, all);
        } else {
            pair[q][0] = NearestPresent(b, index, upper);
            pair[q][1] = NearestPresent(b, index, all & ~upper);
        }
        mask |= Assign8(b, all, palette[pair[q][0]], palette[pair[q][1]], &error);
    }
    // The mask's high byte must be 0x90 or more to mark eight colours: bit 15
    // (top-right quadrant) set, and one of bits 12-14 set, which a swap of
    // the top-left pair (bits 12, 13) gives when they are all clear.
    if ((mask & 0x8000u) == 0) {
        mask ^= kQuadrantBits[3];
        std::swap(pair[3][0], pair[3][1]);
    }
    if ((mask & 0x7000u) == 0) {
        mask ^= kQuadrantBits[2];
        std::swap(pair[2][0], pair[2][1]);
    }
    code->error = error;
    code->size = 0;
    code->Word(static_cast<std::uint16_t>(mask));
    for (int q = 0; q < 4; ++q) {
        code->Byte(pair[q][0]);
        code->Byte(pair[q][1]);
    }
    for (int i = 0; i < 16; ++i) {
        const int q = (i >> 3) * 2 + ((i & 3) >> 1);
        code->px[i] = (mask >> i & 1u) ? pair[q][0] : pair[q][1];
    }
}

void CodeBlock8(const Block& b, const std::uint8_t* index, const std::uint32_t* palette, int lambda,
                Code* best) {
    CodeFill8(b, index, palette, best);
    // A pair costs 2 bytes more than a fill, eight colours 10 bytes in all.
    if (best->error <= 2 * lambda) {
        return;
    }
    Code two;
    CodeTwo8(b, index, palette, &two);
    if (two.size != 0 && two.cost(lambda) < best->cost(lambda)) {
        *best = two;
    }
    if (best->cost(lambda) <= 10LL * lambda) {
        return;
    }
    Code eight;
    CodeEight8(b, index, palette, &eight);
    if (eight.cost(lambda) < best->cost(lambda)) {
        *best = eight;
    }
}

int KeepError8(const Block& b, const std::uint16_t* shown, std::size_t stride,
               const std::uint32_t* palette) {
    int error = 0;
    for (int i = 0; i < 16; ++i) {
        const std::uint16_t v = shown[static_cast<std::size_t>(i >> 2) * stride + (i & 3)];
        error += Distance8(b, i, palette[v & 0xFF]);
    }
    return error;
}

}  // namespace vfw::msvc
