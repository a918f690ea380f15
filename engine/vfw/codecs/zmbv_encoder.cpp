#include "engine/vfw/codecs/zmbv_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "engine/vfw/dib.h"

namespace vfw::zmbv {

static_assert(std::endian::native == std::endian::little,
              "pixels are stored and written little-endian");

namespace {

constexpr std::uint8_t kFlagKey = 0x01;
constexpr std::uint8_t kVersionMajor = 0;
constexpr std::uint8_t kVersionMinor = 1;
constexpr std::uint8_t kCompressionZlib = 1;
constexpr std::size_t kKeyHeaderBytes = 7;
constexpr std::size_t kPaletteBytes = 768;

// Pixel format codes of the key-frame header.
constexpr std::uint8_t kFormatPal8 = 4;
constexpr std::uint8_t kFormatRgb555 = 5;
constexpr std::uint8_t kFormatBgr0 = 8;

std::size_t TableBytes(std::size_t blocks) {
    return (blocks * 2 + 3) & ~std::size_t{3};
}

std::uint64_t Blocks(std::int64_t width, std::int64_t height) {
    return static_cast<std::uint64_t>((width + kBlockSize - 1) / kBlockSize) *
           static_cast<std::uint64_t>((height + kBlockSize - 1) / kBlockSize);
}

// Pixel converters from DIB bytes: 8 bits as they are, 16 bits as 5-5-5
// without the unused top bit, 24 and 32 bits as B, G, R, 0.
struct From8 {
    static std::uint8_t At(const std::uint8_t* src, int x) { return src[x]; }
};
struct From16 {
    static std::uint16_t At(const std::uint8_t* src, int x) {
        std::uint16_t v;
        std::memcpy(&v, src + 2 * x, 2);
        return v & 0x7FFF;
    }
};
struct From24 {
    static std::uint32_t At(const std::uint8_t* src, int x) {
        return static_cast<std::uint32_t>(src[3 * x]) |
               static_cast<std::uint32_t>(src[3 * x + 1]) << 8 |
               static_cast<std::uint32_t>(src[3 * x + 2]) << 16;
    }
};
struct From32 {
    static std::uint32_t At(const std::uint8_t* src, int x) {
        std::uint32_t v;
        std::memcpy(&v, src + 4 * x, 4);
        return v & 0x00FFFFFF;
    }
};

// Converts one DIB row into `dst`.
template <typename From, typename T>
void ConvertRow(const std::uint8_t* src, T* dst, int width) {
    for (int x = 0; x < width; ++x) {
        dst[x] = From::At(src, x);
    }
}

// Converts one DIB row into `dst` and flags in `changed` each block whose
// piece of the row differs from `prev`.
template <typename From, typename T>
void ConvertRowAndCompare(const std::uint8_t* src, T* dst, const T* prev, int width,
                          std::uint8_t* changed) {
    for (int x0 = 0, bx = 0; x0 < width; x0 += kBlockSize, ++bx) {
        const int n = std::min(kBlockSize, width - x0);
        T diff = 0;
        for (int i = x0; i < x0 + n; ++i) {
            const T v = From::At(src, i);
            diff |= static_cast<T>(v ^ prev[i]);
            dst[i] = v;
        }
        changed[bx] |= diff != 0;
    }
}

// Geometry shared by the block helpers: the frame and one block in it.
struct BlockRef {
    int width, height;  // frame
    int x, y;           // block's top-left pixel
    int bw, bh;         // block size, clipped at the frame's edges
};

// Block (bx, by) of a frame of width x height pixels.
BlockRef BlockAt(int width, int height, int bx, int by) {
    return {width,
            height,
            bx * kBlockSize,
            by * kBlockSize,
            std::min(kBlockSize, width - bx * kBlockSize),
            std::min(kBlockSize, height - by * kBlockSize)};
}

// Pixels of the block in `cur` that differ from `prev` displaced by v (pixels
// outside the frame count as 0). Stops counting once `limit` is reached.
template <typename T>
int CountDiffs(const T* cur, const T* prev, const BlockRef& b, Vector v, int limit) {
    const int sx = b.x + v.dx;
    const bool inside = sx >= 0 && sx + b.bw <= b.width;
    int count = 0;
    for (int j = 0; j < b.bh && count < limit; ++j) {
        const T* c = cur + static_cast<std::size_t>(b.y + j) * b.width + b.x;
        const int sy = b.y + j + v.dy;
        if (sy < 0 || sy >= b.height) {
            for (int i = 0; i < b.bw; ++i) {
                count += c[i] != 0;
            }
            continue;
        }
        const T* p = prev + static_cast<std::size_t>(sy) * b.width;
        if (inside) {
            p += sx;
            for (int i = 0; i < b.bw; ++i) {
                count += c[i] != p[i];
            }
        } else {
            for (int i = 0; i < b.bw; ++i) {
                const int px = sx + i;
                const T q = (px >= 0 && px < b.width) ? p[px] : T{0};
                count += c[i] != q;
            }
        }
    }
    return count;
}

// Writes the block of `cur` XORed with `prev` displaced by v; returns the
// end of what was written.
template <typename T>
T* WriteXor(const T* cur, const T* prev, const BlockRef& b, Vector v, T* out) {
    const int sx = b.x + v.dx;
    for (int j = 0; j < b.bh; ++j) {
        const T* c = cur + static_cast<std::size_t>(b.y + j) * b.width + b.x;
        const int sy = b.y + j + v.dy;
        if (sy < 0 || sy >= b.height) {
            std::memcpy(out, c, sizeof(T) * static_cast<std::size_t>(b.bw));
        } else {
            const T* p = prev + static_cast<std::size_t>(sy) * b.width;
            for (int i = 0; i < b.bw; ++i) {
                const int px = sx + i;
                out[i] = c[i] ^ ((px >= 0 && px < b.width) ? p[px] : T{0});
            }
        }
        out += b.bw;
    }
    return out;
}

}  // namespace

int Encoder::OutputBitCount(int inputBits) {
    switch (inputBits) {
        case 8:
            return 8;
        case 16:
            return 16;
        default:
            return 32;
    }
}

std::uint64_t Encoder::MaxFrameBytes(const BITMAPINFOHEADER& in) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(in.biWidth) * static_cast<std::uint64_t>(in.biHeight);
    const std::uint64_t payload = kPaletteBytes + TableBytes(Blocks(in.biWidth, in.biHeight)) +
                                  pixels * static_cast<unsigned>(OutputBitCount(in.biBitCount) / 8);
    // Deflate's worst case (stored blocks) plus the zlib header and a flush
    // marker, with room to spare.
    return kKeyHeaderBytes + payload + payload / 8 + payload / 64 + 64;
}

Status Encoder::Begin(const BITMAPINFOHEADER& in, const Settings& settings) {
    End();
    if (!IsSupportedInput(&in)) {
        return Status::kBadFormat;
    }
    width_ = in.biWidth;
    height_ = in.biHeight;
    inBits_ = in.biBitCount;
    bpp_ = OutputBitCount(inBits_) / 8;
    format_ = bpp_ == 1 ? kFormatPal8 : bpp_ == 2 ? kFormatRgb555 : kFormatBgr0;
    rowBytes_ = static_cast<std::size_t>(DibRowBytes(width_, static_cast<unsigned>(inBits_)));
    blocksX_ = (width_ + kBlockSize - 1) / kBlockSize;
    blocksY_ = (height_ + kBlockSize - 1) / kBlockSize;
    const std::size_t blocks = static_cast<std::size_t>(blocksX_) * blocksY_;
    frameBytes_ = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) *
                  static_cast<std::size_t>(bpp_);
    tableBytes_ = TableBytes(blocks);
    settings_ = settings;
    settings_.level = std::clamp(settings.level, 1, 9);
    try {
        palette_ = std::make_unique<std::uint8_t[]>(kPaletteBytes);
        cur_ = std::make_unique_for_overwrite<unsigned char[]>(frameBytes_);
        prev_ = std::make_unique_for_overwrite<unsigned char[]>(frameBytes_);
        work_ = std::make_unique_for_overwrite<std::uint8_t[]>(tableBytes_ + frameBytes_);
        changed_ = std::make_unique<std::uint8_t[]>(blocks);
        vectors_ = std::make_unique<Vector[]>(blocks);
        lastVectors_ = std::make_unique<Vector[]>(blocks);
    } catch (const std::bad_alloc&) {
        End();
        return Status::kNoMemory;
    }
    if (bpp_ == 1) {
        const DWORD colors = DibColorCount(in);
        const RGBQUAD* table = DibColors(&in);
        for (DWORD i = 0; i < colors && i < 256; ++i) {
            palette_[3 * i] = table[i].rgbRed;
            palette_[3 * i + 1] = table[i].rgbGreen;
            palette_[3 * i + 2] = table[i].rgbBlue;
        }
    }
    if ((settings_.motionSearch && !motion_.Begin(width_, height_, bpp_)) ||
        !deflate_.Init(settings_.level)) {
        End();
        return Status::kNoMemory;
    }
    stats_ = FrameStats{};
    stats_.blocks = static_cast<int>(blocks);
    started_ = true;
    needKey_ = true;
    return Status::kOk;
}

void Encoder::End() {
    started_ = false;
    deflate_.End();
    palette_.reset();
    cur_.reset();
    prev_.reset();
    work_.reset();
    changed_.reset();
    vectors_.reset();
    lastVectors_.reset();
}

template <typename T, typename From>
void Encoder::Load(const std::uint8_t* bits, bool compare) {
    T* cur = reinterpret_cast<T*>(cur_.get());
    const T* prev = reinterpret_cast<const T*>(prev_.get());
    if (compare) {
        std::memset(changed_.get(), 0, static_cast<std::size_t>(blocksX_) * blocksY_);
    }
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* src = bits + rowBytes_ * static_cast<std::size_t>(height_ - 1 - y);
        const std::size_t row = static_cast<std::size_t>(y) * width_;
        if (compare) {
            ConvertRowAndCompare<From>(
                src, cur + row, prev + row, width_,
                changed_.get() + static_cast<std::size_t>(y / kBlockSize) * blocksX_);
        } else {
            ConvertRow<From>(src, cur + row, width_);
        }
    }
}

template <typename T>
Vector Encoder::ChooseVector(const T* cur, const T* prev, int bx, int by, int* cost) const {
    const std::size_t i = static_cast<std::size_t>(by) * blocksX_ + bx;
    const BlockRef b = BlockAt(width_, height_, bx, by);
    // Candidates: the block's own hint, its neighbours' choices, its choice
    // in the last frame, then the frame-wide ones. Moved content usually
    // matches one of them exactly, which a first pass finds cheaply (a wrong
    // candidate fails on its first rows).
    Vector candidates[4 + MotionSearch::kMaxGlobal];
    int n = 0;
    const auto add = [&](Vector v) {
        if (v == Vector{}) {
            return;  // in place: known to differ
        }
        for (int k = 0; k < n; ++k) {
            if (candidates[k] == v) {
                return;
            }
        }
        candidates[n++] = v;
    };
    Vector hint;
    if (motion_.local(static_cast<int>(i), &hint)) {
        add(hint);
    }
    if (bx > 0) {
        add(vectors_[i - 1]);
    }
    if (by > 0) {
        add(vectors_[i - blocksX_]);
    }
    add(lastVectors_[i]);
    for (int k = 0; k < motion_.globalCount(); ++k) {
        add(motion_.global()[k]);
    }
    for (int k = 0; k < n; ++k) {
        if (CountDiffs(cur, prev, b, candidates[k], 1) == 0) {
            *cost = 0;
            return candidates[k];
        }
    }
    // No exact match: the fewest differing pixels, in place if no better.
    Vector best{};
    int bestCost = CountDiffs(cur, prev, b, best, b.bw * b.bh + 1);
    for (int k = 0; k < n && bestCost > 0; ++k) {
        const int c = CountDiffs(cur, prev, b, candidates[k], bestCost);
        if (c < bestCost) {
            bestCost = c;
            best = candidates[k];
        }
    }
    *cost = bestCost;
    return best;
}

template <typename T>
std::size_t Encoder::BuildDelta() {
    const T* cur = reinterpret_cast<const T*>(cur_.get());
    const T* prev = reinterpret_cast<const T*>(prev_.get());
    std::uint8_t* table = work_.get();
    std::memset(table, 0, tableBytes_);
    T* out = reinterpret_cast<T*>(work_.get() + tableBytes_);
    T* const start = out;
    if (settings_.motionSearch) {
        motion_.Analyse(prev, cur, changed_.get());
    }
    for (int by = 0; by < blocksY_; ++by) {
        for (int bx = 0; bx < blocksX_; ++bx) {
            const std::size_t i = static_cast<std::size_t>(by) * blocksX_ + bx;
            if (changed_[i] == 0) {
                vectors_[i] = Vector{};
                ++stats_.unchanged;
                continue;
            }
            int cost = 1;  // differs in place, known from Load
            Vector v{};
            if (settings_.motionSearch) {
                v = ChooseVector(cur, prev, bx, by, &cost);
            }
            vectors_[i] = v;
            // dx, dy doubled; bit 0 of the first byte flags XOR data.
            table[2 * i] = static_cast<std::uint8_t>(v.dx * 2 | (cost != 0 ? 1 : 0));
            table[2 * i + 1] = static_cast<std::uint8_t>(v.dy * 2);
            stats_.moved += !(v == Vector{});
            if (cost != 0) {
                ++stats_.xored;
                out = WriteXor(cur, prev, BlockAt(width_, height_, bx, by), v, out);
            }
        }
    }
    return tableBytes_ + static_cast<std::size_t>(out - start) * sizeof(T);
}

Status Encoder::Encode(const std::uint8_t* bits, bool wantKey, std::uint8_t* out,
                       std::size_t capacity, std::size_t* size, bool* key) {
    if (!started_) {
        return Status::kNotStarted;
    }
    const bool keyFrame = wantKey || needKey_;
    // Until this frame is complete, the decoder's picture is unknown: a
    // failure below makes the next frame a key frame.
    needKey_ = true;
    if (capacity < kKeyHeaderBytes) {
        return Status::kOutputTooSmall;
    }
    stats_ = FrameStats{.key = keyFrame, .blocks = blocksX_ * blocksY_};
    switch (inBits_) {
        case 8:
            Load<std::uint8_t, From8>(bits, !keyFrame);
            break;
        case 16:
            Load<std::uint16_t, From16>(bits, !keyFrame);
            break;
        case 24:
            Load<std::uint32_t, From24>(bits, !keyFrame);
            break;
        default:
            Load<std::uint32_t, From32>(bits, !keyFrame);
            break;
    }
    std::size_t written = 0;
    bool ok = true;
    if (keyFrame) {
        out[0] = kFlagKey;
        out[1] = kVersionMajor;
        out[2] = kVersionMinor;
        out[3] = kCompressionZlib;
        out[4] = format_;
        out[5] = kBlockSize;
        out[6] = kBlockSize;
        written = kKeyHeaderBytes;
        ok = deflate_.Reset();
        if (ok && bpp_ == 1) {
            ok = deflate_.Compress(palette_.get(), kPaletteBytes, false, out, capacity, &written);
            stats_.payload += kPaletteBytes;
        }
        ok = ok && deflate_.Compress(cur_.get(), frameBytes_, true, out, capacity, &written);
        stats_.payload += frameBytes_;
        std::fill_n(vectors_.get(), stats_.blocks, Vector{});
    } else {
        out[0] = 0;
        written = 1;
        std::size_t payload = 0;
        switch (bpp_) {
            case 1:
                payload = BuildDelta<std::uint8_t>();
                break;
            case 2:
                payload = BuildDelta<std::uint16_t>();
                break;
            default:
                payload = BuildDelta<std::uint32_t>();
                break;
        }
        stats_.payload = payload;
        ok = deflate_.Compress(work_.get(), payload, true, out, capacity, &written);
    }
    if (!ok) {
        return written >= capacity ? Status::kOutputTooSmall : Status::kZlibError;
    }
    std::swap(cur_, prev_);
    std::swap(vectors_, lastVectors_);
    needKey_ = false;
    *size = written;
    *key = keyFrame;
    return Status::kOk;
}

}  // namespace vfw::zmbv
