// The 'MSVC' compressor: Microsoft Video 1 behind the compressor message
// interface. 16-, 24- and 32-bit input is written at 16 bits (RGB555); 8-bit
// input is written palettised with its own palette (or at 16 bits when the
// caller asks for that output format). The coding itself is in
// msvc_encoder.cpp; this file checks formats, answers the format questions
// and keeps the encoder for one compression run.
#include <cstring>
#include <memory>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/codecs/codec.h"
#include "engine/vfw/codecs/msvc_encoder.h"
#include "engine/vfw/dib.h"

namespace vfw {

namespace {

constexpr FOURCC kMsvc = mmioFOURCC('M', 'S', 'V', 'C');

// Names also read back as the stream name of a recording.
constexpr char16_t kName[] = u"MS Video Codec";
constexpr char16_t kDescription[] = u"Microsoft Video 1";

// Output formats this codec writes: Microsoft Video 1 of the input's size at
// 16 bits, or at 8 bits for 8-bit input.
bool IsOwnOutput(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    const bool depth = out->biBitCount == 16 || (out->biBitCount == 8 && in->biBitCount == 8);
    return out->biSize >= sizeof(BITMAPINFOHEADER) && out->biCompression == kMsvc && depth &&
           out->biPlanes == 1 && out->biWidth == in->biWidth && out->biHeight == in->biHeight;
}

constexpr DWORD kPaletteSize = 256;

class MsvcCodec final : public Codec {
  protected:
    void GetInfo(ICINFO* info) const override {
        FillInfo(info, kMsvc, VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC, kName,
                 kDescription);
    }

    LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const override {
        // Blocks are 4x4: other sizes are refused, and callers rely on that
        // refusal to round their frame size.
        if (!IsSupportedInput(in) || in->biWidth % 4 != 0 || in->biHeight % 4 != 0) {
            return ICERR_BADFORMAT;
        }
        if (out != nullptr && !IsOwnOutput(in, out)) {
            return ICERR_BADFORMAT;
        }
        return ICERR_OK;
    }

    LRESULT FormatSize(const BITMAPINFOHEADER* in) const override {
        const DWORD colours = in->biBitCount == 8 ? kPaletteSize : 0;
        return static_cast<LRESULT>(sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD));
    }

    // 8-bit input keeps its palette (padded with black to 256 entries).
    LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const override {
        *out = BITMAPINFOHEADER{};
        out->biSize = sizeof(BITMAPINFOHEADER);
        out->biWidth = in->biWidth;
        out->biHeight = in->biHeight;
        out->biPlanes = 1;
        out->biBitCount = in->biBitCount == 8 ? 8 : 16;
        out->biCompression = kMsvc;
        out->biSizeImage = static_cast<DWORD>(MaxFrameSize(in));
        out->biXPelsPerMeter = in->biXPelsPerMeter;
        out->biYPelsPerMeter = in->biYPelsPerMeter;
        if (in->biBitCount == 8) {
            out->biClrUsed = kPaletteSize;
            auto* palette = reinterpret_cast<RGBQUAD*>(out + 1);
            std::memset(palette, 0, kPaletteSize * sizeof(RGBQUAD));
            std::memcpy(palette, DibColors(in), DibColorCount(*in) * sizeof(RGBQUAD));
        }
        return ICERR_OK;
    }

    LRESULT MaxFrameSize(const BITMAPINFOHEADER* in) const override {
        return static_cast<LRESULT>(msvc::Encoder::MaxFrameBytes(in->biWidth, in->biHeight));
    }

    LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) override {
        const int colours = in->biBitCount == 8 ? static_cast<int>(DibColorCount(*in)) : 0;
        if (!encoder_.Begin(in->biWidth, in->biHeight, in->biBitCount, DibColors(in), colours,
                            out->biBitCount == 8)) {
            return ICERR_MEMORY;
        }
        input_ = *in;
        return ICERR_OK;
    }

    LRESULT Compress(const ICCOMPRESS& c, bool keyFrame) override {
        // A frame must have the format the run began with.
        const BITMAPINFOHEADER* in = c.lpbiInput;
        if (in != nullptr &&
            (in->biWidth != input_.biWidth || in->biHeight != input_.biHeight ||
             in->biBitCount != input_.biBitCount || in->biCompression != input_.biCompression)) {
            return ICERR_BADFORMAT;
        }
        DWORD quality = c.dwQuality == ICQUALITY_DEFAULT ? DefaultQuality() : c.dwQuality;
        if (quality > ICQUALITY_HIGH) {
            quality = ICQUALITY_HIGH;
        }
        if (quality != quality_) {
            quality_ = quality;
            limits_ = msvc::LimitsForQuality(quality);
        }
        const bool key = keyFrame || encoder_.needsKeyFrame();
        const size_t size = encoder_.Encode(static_cast<const std::uint8_t*>(c.lpInput), limits_,
                                            key, static_cast<std::uint8_t*>(c.lpOutput));
        if (size == 0) {
            return ICERR_INTERNAL;
        }
        c.lpbiOutput->biSizeImage = static_cast<DWORD>(size);
        if (c.lpdwFlags != nullptr) {
            *c.lpdwFlags = key ? AVIIF_KEYFRAME : 0;
        }
        return ICERR_OK;
    }

    void CompressEnd() override { encoder_.End(); }

    const char* AboutText() const override {
        return "Microsoft Video 1 compressor, version 1.0.\n"
               "Writes 4x4 blocks of 16-bit colour (or of palette colours for 256-colour "
               "pictures), skipping unchanged blocks between key frames; width and height "
               "must be multiples of 4.\n"
               "Built into Kelvora and distributed under the same licence.";
    }

    DWORD DefaultQuality() const override { return 7500; }

  private:
    msvc::Encoder encoder_;
    BITMAPINFOHEADER input_{};
    DWORD quality_ = ICQUALITY_DEFAULT;  // quality the limits were made for
    msvc::Limits limits_{};
};

}  // namespace

std::unique_ptr<Codec> CreateMsvcCodec() {
    return std::make_unique<MsvcCodec>();
}

}  // namespace vfw
