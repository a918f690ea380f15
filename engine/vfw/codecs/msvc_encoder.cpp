#include "engine/vfw/codecs/msvc_encoder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <exception>

#include "engine/vfw/dib.h"

namespace vfw::msvc {

namespace {

// The block's pixels; for 8-bit input also their palette indices.
template <int Bytes>
void LoadBlock(const std::uint8_t* p, std::size_t stride, const std::uint32_t* palette, Block* b,
               std::uint8_t* index) {
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t* s = p + static_cast<std::size_t>(i >> 2) * stride + (i & 3) * Bytes;
        if constexpr (Bytes == 1) {
            index[i] = *s;
            const std::uint32_t c = palette[*s];
            b->r[i] = static_cast<int>(c >> 16 & 0xFF);
            b->g[i] = static_cast<int>(c >> 8 & 0xFF);
            b->b[i] = static_cast<int>(c & 0xFF);
        } else if constexpr (Bytes == 2) {
            const int v = s[0] | s[1] << 8;
            b->r[i] = Widen(v >> 10 & 31);
            b->g[i] = Widen(v >> 5 & 31);
            b->b[i] = Widen(v & 31);
        } else {
            b->b[i] = s[0];
            b->g[i] = s[1];
            b->r[i] = s[2];
        }
    }
    b->Finish();
}

template <int Bytes>
bool SameBlock(const std::uint8_t* a, const std::uint8_t* b, std::size_t stride) {
    for (int k = 0; k < 4; ++k) {
        if (std::memcmp(a + k * stride, b + k * stride, 4 * Bytes) != 0) {
            return false;
        }
    }
    return true;
}

template <int Bytes>
void CopyBlock(std::uint8_t* to, const std::uint8_t* from, std::size_t stride) {
    for (int k = 0; k < 4; ++k) {
        std::memcpy(to + k * stride, from + k * stride, 4 * Bytes);
    }
}

// Little-endian words and codes into the output.
struct Writer {
    std::uint8_t* p;

    void Bytes(const std::uint8_t* from, int n) {
        std::memcpy(p, from, static_cast<std::size_t>(n));
        p += n;
    }
    void Word(std::uint16_t w) {
        p[0] = static_cast<std::uint8_t>(w);
        p[1] = static_cast<std::uint8_t>(w >> 8);
        p += 2;
    }
    void Skips(unsigned* pending) {
        while (*pending > 0) {
            const unsigned n = std::min(*pending, kMaxSkipRun);
            Word(static_cast<std::uint16_t>(kSkipBase + n));
            *pending -= n;
        }
    }
};

// Lambda at quality 0; it falls with the square of the distance from 10000.
constexpr long long kLambdaAtZero = 30000;

}  // namespace

Limits LimitsForQuality(DWORD quality) {
    const long long d = 10000 - std::min<DWORD>(quality, 10000);
    Limits limits;
    limits.lambda = static_cast<int>(kLambdaAtZero * d * d / 100000000);
    return limits;
}

std::size_t Encoder::MaxFrameBytes(int width, int height) {
    const std::size_t blocks = static_cast<std::size_t>(std::max(width, 0) / 4) *
                               static_cast<std::size_t>(std::max(height, 0) / 4);
    return blocks * 18 + 2;
}

bool Encoder::Begin(int width, int height, int bitCount, const RGBQUAD* palette, int paletteSize,
                    bool palettised) {
    End();
    if (width <= 0 || height <= 0 || width % 4 != 0 || height % 4 != 0 ||
        (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) ||
        (palettised && bitCount != 8) || paletteSize < 0 || paletteSize > 256 ||
        (paletteSize > 0 && palette == nullptr)) {
        return false;
    }
    const std::size_t stride = DibRowBytes(width, static_cast<unsigned>(bitCount));
    try {
        previous_.resize(stride * static_cast<std::size_t>(height));
        picture_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        shownCodes_.resize(static_cast<std::size_t>(width / 4) *
                           static_cast<std::size_t>(height / 4));
    } catch (const std::exception&) {  // bad_alloc, or length_error in a 32-bit process
        End();
        return false;
    }
    std::fill(std::begin(palette_), std::end(palette_), 0u);
    if (bitCount == 8) {
        for (int i = 0; i < paletteSize; ++i) {
            palette_[i] = static_cast<std::uint32_t>(palette[i].rgbRed) << 16 |
                          static_cast<std::uint32_t>(palette[i].rgbGreen) << 8 | palette[i].rgbBlue;
        }
    }
    width_ = width;
    height_ = height;
    bitCount_ = bitCount;
    palettised_ = palettised;
    stride_ = stride;
    havePrevious_ = false;
    return true;
}

void Encoder::End() {
    std::vector<std::uint8_t>().swap(previous_);
    std::vector<std::uint16_t>().swap(picture_);
    std::vector<ShownCode>().swap(shownCodes_);
    width_ = height_ = bitCount_ = 0;
    palettised_ = false;
    stride_ = 0;
    havePrevious_ = false;
}

std::size_t Encoder::Encode(const std::uint8_t* bits, const Limits& limits, bool keyFrame,
                            std::uint8_t* out) {
    switch (bitCount_) {
        case 8:
            return palettised_ ? EncodeFrame<1, true>(bits, limits, keyFrame, out)
                               : EncodeFrame<1, false>(bits, limits, keyFrame, out);
        case 16:
            return EncodeFrame<2, false>(bits, limits, keyFrame, out);
        case 24:
            return EncodeFrame<3, false>(bits, limits, keyFrame, out);
        case 32:
            return EncodeFrame<4, false>(bits, limits, keyFrame, out);
        default:
            return 0;
    }
}

template <int Bytes, bool Palettised>
std::size_t Encoder::EncodeFrame(const std::uint8_t* bits, const Limits& limits, bool keyFrame,
                                 std::uint8_t* out) {
    const bool key = keyFrame || !havePrevious_;
    const std::size_t width = static_cast<std::size_t>(width_);
    Writer w{out};
    unsigned skips = 0;
    ShownCode* shown = shownCodes_.data();
    for (int y = 0; y < height_; y += 4) {
        const std::uint8_t* src = bits + static_cast<std::size_t>(y) * stride_;
        std::uint8_t* prev = previous_.data() + static_cast<std::size_t>(y) * stride_;
        std::uint16_t* pic = picture_.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width_; x += 4, ++shown) {
            const std::size_t at = static_cast<std::size_t>(x) * Bytes;
            const bool unchanged = havePrevious_ && SameBlock<Bytes>(src + at, prev + at, stride_);
            if (unchanged) {
                // The decoder's block still stands for this source: a delta
                // frame skips it, a key frame repeats the code that made it.
                if (key) {
                    w.Bytes(shown->bytes, shown->size);
                } else {
                    ++skips;
                }
                continue;
            }
            CopyBlock<Bytes>(prev + at, src + at, stride_);
            Block b;
            std::uint8_t index[16];
            LoadBlock<Bytes>(src + at, stride_, palette_, &b, index);
            // A skip costs no bytes, but its error stays on screen for as
            // long as the block keeps still: it wins only while a code would
            // lower the error by less than a quarter of its bytes' worth.
            long long keep = LLONG_MAX;
            if (!key) {
                keep = Palettised ? KeepError8(b, pic + x, width, palette_)
                                  : KeepError(b, pic + x, width);
            }
            const long long skipWorth = limits.lambda / 4;  // per byte
            if (keep <= 2 * skipWorth) {
                ++skips;
                continue;
            }
            Code code;
            if constexpr (Palettised) {
                CodeBlock8(b, index, palette_, limits.lambda, &code);
            } else {
                CodeBlock(b, limits.lambda, &code);
            }
            if (keep <= code.error + skipWorth * code.size) {
                ++skips;
                continue;
            }
            w.Skips(&skips);
            w.Bytes(code.bytes, code.size);
            shown->size = static_cast<std::uint8_t>(code.size);
            std::memcpy(shown->bytes, code.bytes, sizeof shown->bytes);
            for (int i = 0; i < 16; ++i) {
                pic[static_cast<std::size_t>(i >> 2) * width + x + (i & 3)] = code.px[i];
            }
        }
    }
    w.Skips(&skips);
    w.Word(0);  // customary end word; decoders stop by counting blocks
    havePrevious_ = true;
    return static_cast<std::size_t>(w.p - out);
}

}  // namespace vfw::msvc
