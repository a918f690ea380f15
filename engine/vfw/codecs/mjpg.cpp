// 'MJPG' Motion JPEG compressor: every frame a complete baseline JPEG picture
// (YCbCr 4:2:0, Huffman tables included), every frame a key frame. 24- and
// 32-bit frames are read in place, bottom-up rows handed to libjpeg top row
// first; 8- and 16-bit rows are widened to 32 bits a few rows at a time.
#include "engine/vfw/codecs/builtin.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "engine/vfw/codecs/mjpg_jpeg_writer.h"
#include "engine/vfw/dib.h"

namespace vfw {

namespace {

constexpr FOURCC kMjpg = mmioFOURCC('M', 'J', 'P', 'G');
// Frames whose worst-case picture would pass this are refused: the caller
// allocates the worst case, and it must fit a 32-bit process and a chunk.
constexpr std::uint64_t kMaxFrameBytes = std::uint64_t{1} << 30;
// One 4:2:0 MCU row: libjpeg consumes a batch in one go.
constexpr int kBatchRows = 16;

static_assert(std::endian::native == std::endian::little,
              "converted rows are stored as 32-bit B, G, R, x words");

#define KELVORA_STRINGIFY2(x) #x
#define KELVORA_STRINGIFY(x) KELVORA_STRINGIFY2(x)
#ifdef LIBJPEG_TURBO_VERSION
#define KELVORA_JPEG_VERSION " " KELVORA_STRINGIFY(LIBJPEG_TURBO_VERSION)
#else
#define KELVORA_JPEG_VERSION ""
#endif

constexpr const char kAboutText[] =
    "Motion JPEG (MJPG) 1.0\n"
    "Каждый кадр сохраняется как отдельное изображение JPEG (базовый профиль, "
    "цветность 4:2:0); качество задаётся ползунком качества.\n\n"
    "Сжатие JPEG: libjpeg-turbo" KELVORA_JPEG_VERSION
    " (лицензии IJG и BSD).\n"
    "This software is based in part on the work of the Independent JPEG Group.";

// dwQuality 0..10000 (or ICQUALITY_DEFAULT) to libjpeg's 1..100.
int JpegQuality(DWORD quality, DWORD defaultQuality) {
    if (quality == ICQUALITY_DEFAULT) {
        quality = defaultQuality;
    }
    quality = std::min<DWORD>(quality, ICQUALITY_HIGH);
    return 1 + static_cast<int>((quality * 99u + 5000u) / 10000u);
}

class MjpgCodec final : public Codec {
  protected:
    void GetInfo(ICINFO* info) const override {
        FillInfo(info, kMjpg, VIDCF_QUALITY, u"MJPG", u"Motion JPEG");
    }

    LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const override {
        if (!IsSupportedInput(in) ||
            JpegWriter::MaxPictureBytes(in->biWidth, in->biHeight) > kMaxFrameBytes) {
            return ICERR_BADFORMAT;
        }
        if (out == nullptr) {
            return ICERR_OK;
        }
        if (out->biCompression != kMjpg || out->biWidth != in->biWidth ||
            out->biHeight != in->biHeight || out->biBitCount != 24 || out->biPlanes != 1) {
            return ICERR_BADFORMAT;
        }
        return ICERR_OK;
    }

    LRESULT FormatSize(const BITMAPINFOHEADER*) const override { return sizeof(BITMAPINFOHEADER); }

    LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const override {
        *out = BITMAPINFOHEADER{};
        out->biSize = sizeof(BITMAPINFOHEADER);
        out->biWidth = in->biWidth;
        out->biHeight = in->biHeight;
        out->biPlanes = 1;
        out->biBitCount = 24;
        out->biCompression = kMjpg;
        out->biSizeImage = static_cast<DWORD>(DibRowBytes(in->biWidth, 24) * in->biHeight);
        return ICERR_OK;
    }

    LRESULT MaxFrameSize(const BITMAPINFOHEADER* in) const override {
        return static_cast<LRESULT>(JpegWriter::MaxPictureBytes(in->biWidth, in->biHeight));
    }

    LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER*) override {
        width_ = in->biWidth;
        height_ = in->biHeight;
        bitCount_ = in->biBitCount;
        stride_ = static_cast<size_t>(DibRowBytes(width_, bitCount_));
        capacity_ = static_cast<size_t>(JpegWriter::MaxPictureBytes(width_, height_));
        palette_.fill(0);
        if (bitCount_ == 8) {
            const RGBQUAD* colors = DibColors(in);
            const DWORD count = std::min<DWORD>(DibColorCount(*in), 256);
            for (DWORD i = 0; i < count; ++i) {
                palette_[i] = std::uint32_t{colors[i].rgbBlue} |
                              std::uint32_t{colors[i].rgbGreen} << 8 |
                              std::uint32_t{colors[i].rgbRed} << 16;
            }
        }
        try {
            converted_.assign(bitCount_ <= 16 ? static_cast<size_t>(width_) * kBatchRows : 0, 0);
        } catch (const std::bad_alloc&) {
            return ICERR_MEMORY;
        }
        return writer_.Open(width_, height_,
                            bitCount_ == 24 ? JpegWriter::Layout::kBgr : JpegWriter::Layout::kBgrx);
    }

    LRESULT Compress(const ICCOMPRESS& c, bool) override {
        const BITMAPINFOHEADER* in = c.lpbiInput;
        if (in != nullptr &&
            (in->biWidth != width_ || in->biHeight != height_ || in->biBitCount != bitCount_)) {
            return ICERR_BADFORMAT;
        }
        const auto* bits = static_cast<const std::uint8_t*>(c.lpInput);
        LRESULT r = writer_.Start(JpegQuality(c.dwQuality, DefaultQuality()),
                                  static_cast<std::uint8_t*>(c.lpOutput), capacity_);
        for (int y = 0; r == ICERR_OK && y < height_; y += kBatchRows) {
            const int count = std::min(kBatchRows, height_ - y);
            for (int i = 0; i < count; ++i) {
                // Picture row y + i is DIB row height - 1 - (y + i).
                const std::uint8_t* row = bits + static_cast<size_t>(height_ - 1 - y - i) * stride_;
                rows_[i] = bitCount_ >= 24 ? const_cast<std::uint8_t*>(row) : Convert(row, i);
            }
            r = writer_.WriteRows(rows_.data(), count);
        }
        size_t bytes = 0;
        if (r == ICERR_OK) {
            r = writer_.Finish(&bytes);
        }
        if (r != ICERR_OK) {
            return r;
        }
        c.lpbiOutput->biSizeImage = static_cast<DWORD>(bytes);
        if (c.lpdwFlags != nullptr) {
            *c.lpdwFlags = AVIIF_KEYFRAME;
        }
        return ICERR_OK;
    }

    void CompressEnd() override {
        writer_.Close();
        converted_ = {};
    }

    const char* AboutText() const override { return kAboutText; }

  private:
    // Widens one 8- or 16-bit row into slot `slot` of the batch as B, G, R, x.
    std::uint8_t* Convert(const std::uint8_t* row, int slot) {
        std::uint32_t* out = converted_.data() + static_cast<size_t>(slot) * width_;
        if (bitCount_ == 8) {
            ExpandIndices(row, out, width_, palette_.data());
        } else {
            Widen555(row, out, width_);
        }
        return reinterpret_cast<std::uint8_t*>(out);
    }

    // __restrict: the rows never overlap, which lets the compiler vectorise.
    static void ExpandIndices(const std::uint8_t* __restrict in, std::uint32_t* __restrict out,
                              int width, const std::uint32_t* __restrict palette) {
        for (int x = 0; x < width; ++x) {
            out[x] = palette[in[x]];
        }
    }

    // 0RRRRRGGGGGBBBBB words to B, G, R, x bytes, each 5-bit channel widened
    // by repeating its top bits below it, as decoders show RGB555.
    static void Widen555(const std::uint8_t* __restrict in, std::uint32_t* __restrict out,
                         int width) {
        for (int x = 0; x < width; ++x) {
            std::uint16_t v;
            std::memcpy(&v, in + 2 * x, 2);  // little-endian
            const std::uint32_t spread =
                (v & 0x7C00u) << 9 | (v & 0x03E0u) << 6 | (v & 0x001Fu) << 3;
            out[x] = spread | (spread >> 5 & 0x070707u);
        }
    }

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    size_t stride_ = 0;
    size_t capacity_ = 0;
    JpegWriter writer_;
    std::array<std::uint8_t*, kBatchRows> rows_{};
    std::vector<std::uint32_t> converted_;  // kBatchRows rows, 8 and 16 bits only
    std::array<std::uint32_t, 256> palette_{};
};

}  // namespace

std::unique_ptr<Codec> CreateMjpgCodec() {
    return std::make_unique<MjpgCodec>();
}

}  // namespace vfw
