// The built-in 'ZMBV' compressor: lossless zlib motion blocks
// (zmbv_encoder.h) behind the compressor-manager messages. Input of 8, 16,
// 24 and 32 bits is written as 8-bit palettised, RGB555 or 32-bit frames.
// The configuration dialog picks the zlib level, kept for all instances.
#include "engine/vfw/codecs/builtin.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "engine/vfw/codecs/zmbv_encoder.h"
#include "engine/vfw/dib.h"

namespace vfw {

namespace {

constexpr FOURCC kFourcc = mmioFOURCC('Z', 'M', 'B', 'V');

struct Level {
    const char* label;
    int zlibLevel;
};
// Speed against size. On 1920x1080 screen content, one core: level 1 runs at
// about 90 frames/s, level 4 at about 70 with a fifth less data, level 6 at
// about 50 with a quarter less; higher levels cost far more time than they
// save. Level 1 is the default: recording keeps pace with the capture clock.
constexpr Level kLevels[] = {
    {"Максимальная скорость", 1},
    {"Баланс скорости и размера", 4},
    {"Минимальный размер", 6},
};
constexpr int kLevelCount = static_cast<int>(sizeof(kLevels) / sizeof(kLevels[0]));
constexpr int kDefaultLevel = 0;

// The choice of the configuration dialog, shared by every instance; a
// session takes it when it begins.
std::atomic<int> g_level{kDefaultLevel};

// True when `out` is the format this compressor makes of `in`.
bool IsOutputFor(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return out->biSize >= sizeof(BITMAPINFOHEADER) && out->biCompression == kFourcc &&
           out->biWidth == in->biWidth && out->biHeight == in->biHeight && out->biPlanes == 1 &&
           out->biBitCount == zmbv::Encoder::OutputBitCount(in->biBitCount);
}

LRESULT ToIcErr(zmbv::Status s) {
    switch (s) {
        case zmbv::Status::kOk:
            return ICERR_OK;
        case zmbv::Status::kBadFormat:
            return ICERR_BADFORMAT;
        case zmbv::Status::kNoMemory:
            return ICERR_MEMORY;
        case zmbv::Status::kNotStarted:
            return ICERR_BADPARAM;
        case zmbv::Status::kOutputTooSmall:
            return ICERR_BADSIZE;
        case zmbv::Status::kZlibError:
            break;
    }
    return ICERR_INTERNAL;
}

class ZmbvCodec final : public Codec {
  protected:
    void GetInfo(ICINFO* info) const override {
        FillInfo(info, kFourcc, VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC, u"ZMBV",
                 u"Zip Motion Blocks Video (lossless)");
    }

    LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const override {
        if (!IsSupportedInput(in) || (out != nullptr && !IsOutputFor(in, out))) {
            return ICERR_BADFORMAT;
        }
        return MaxFrameSize(in) > 0 ? ICERR_OK : ICERR_BADFORMAT;
    }

    LRESULT FormatSize(const BITMAPINFOHEADER* in) const override {
        return static_cast<LRESULT>(sizeof(BITMAPINFOHEADER) +
                                    (in->biBitCount == 8 ? 256 * sizeof(RGBQUAD) : 0));
    }

    LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const override {
        const int bits = zmbv::Encoder::OutputBitCount(in->biBitCount);
        *out = BITMAPINFOHEADER{};
        out->biSize = sizeof(BITMAPINFOHEADER);
        out->biWidth = in->biWidth;
        out->biHeight = in->biHeight;
        out->biPlanes = 1;
        out->biBitCount = static_cast<WORD>(bits);
        out->biCompression = kFourcc;
        // The size of a frame at the output depth, for readers that want one.
        out->biSizeImage = static_cast<DWORD>(static_cast<std::uint64_t>(in->biWidth) *
                                              static_cast<std::uint64_t>(in->biHeight) *
                                              static_cast<unsigned>(bits / 8));
        if (bits == 8) {
            // Readers find the palette in the stream format too.
            out->biClrUsed = 256;
            auto* table = reinterpret_cast<RGBQUAD*>(reinterpret_cast<std::uint8_t*>(out) +
                                                     sizeof(BITMAPINFOHEADER));
            std::memset(table, 0, 256 * sizeof(RGBQUAD));
            const DWORD colors = DibColorCount(*in);
            std::memcpy(table, DibColors(in), colors * sizeof(RGBQUAD));
        }
        return ICERR_OK;
    }

    LRESULT MaxFrameSize(const BITMAPINFOHEADER* in) const override {
        const std::uint64_t bytes = zmbv::Encoder::MaxFrameBytes(*in);
        if (bytes > static_cast<std::uint64_t>(std::numeric_limits<LRESULT>::max())) {
            return 0;  // cannot be described to the caller
        }
        return static_cast<LRESULT>(bytes);
    }

    LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override {
        (void)out;  // checked by CompressQuery
        zmbv::Settings settings;
        settings.level = kLevels[g_level.load()].zlibLevel;
        const zmbv::Status s = encoder_.Begin(*in, settings);
        if (s != zmbv::Status::kOk) {
            return ToIcErr(s);
        }
        width_ = in->biWidth;
        height_ = in->biHeight;
        bits_ = in->biBitCount;
        capacity_ = static_cast<std::size_t>(zmbv::Encoder::MaxFrameBytes(*in));
        return ICERR_OK;
    }

    LRESULT Compress(const ICCOMPRESS& c, bool keyFrame) override {
        // Lossless: quality changes nothing, but it must be a valid one.
        if (c.dwQuality > ICQUALITY_HIGH && c.dwQuality != ICQUALITY_DEFAULT) {
            return ICERR_BADPARAM;
        }
        const BITMAPINFOHEADER* in = c.lpbiInput;
        if (in != nullptr &&
            (in->biWidth != width_ || in->biHeight != height_ || in->biBitCount != bits_)) {
            return ICERR_BADFORMAT;  // not the format the session began with
        }
        std::size_t size = 0;
        bool key = false;
        const zmbv::Status s =
            encoder_.Encode(static_cast<const std::uint8_t*>(c.lpInput), keyFrame,
                            static_cast<std::uint8_t*>(c.lpOutput), capacity_, &size, &key);
        if (s != zmbv::Status::kOk) {
            return ToIcErr(s);
        }
        c.lpbiOutput->biSizeImage = static_cast<DWORD>(size);
        if (c.lpdwFlags != nullptr) {
            *c.lpdwFlags = key ? AVIIF_KEYFRAME : 0;
        }
        return ICERR_OK;
    }

    void CompressEnd() override { encoder_.End(); }

    const char* AboutText() const override {
        return "ZMBV (Zip Motion Blocks Video), версия 1.0\n"
               "Сжатие без потерь: блоки 16×16 со сдвигами и zlib.\n"
               "Встроенный кодек Kelvora. Использует zlib "
               "(© Jean-loup Gailly и Mark Adler, лицензия zlib).";
    }

    int SettingCount() const override { return kLevelCount; }
    const char* SettingLabel(int index) const override {
        return index >= 0 && index < kLevelCount ? kLevels[index].label : nullptr;
    }
    int Setting() const override { return g_level.load(); }
    void SetSetting(int index) override {
        if (index >= 0 && index < kLevelCount) {
            g_level.store(index);
        }
    }

  private:
    zmbv::Encoder encoder_;
    LONG width_ = 0;
    LONG height_ = 0;
    WORD bits_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

std::unique_ptr<Codec> CreateZmbvCodec() {
    return std::make_unique<ZmbvCodec>();
}

}  // namespace vfw
