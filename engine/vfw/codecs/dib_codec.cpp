// 'DIB ' uncompressed frames: the output is the input DIB as it is (BI_RGB,
// same depth, 8-bit frames keeping their colour table), every frame a key
// frame.
#include "engine/vfw/codecs/builtin.h"

#include <algorithm>
#include <cstring>

#include "engine/vfw/dib.h"

namespace vfw {

namespace {

constexpr FOURCC kDib = mmioFOURCC('D', 'I', 'B', ' ');

DWORD ImageBytes(const BITMAPINFOHEADER* bi) {
    return static_cast<DWORD>(DibRowBytes(bi->biWidth, bi->biBitCount) * bi->biHeight);
}

// Colour-table entries the output carries: the input's, for 8 bits only.
DWORD OutputColors(const BITMAPINFOHEADER* in) {
    return in->biBitCount == 8 ? std::min<DWORD>(DibColorCount(*in), 256) : 0;
}

class DibCodec final : public Codec {
  protected:
    void GetInfo(ICINFO* info) const override {
        // Quality is accepted and ignored: there is nothing to trade.
        FillInfo(info, kDib, VIDCF_QUALITY, u"DIB", u"Uncompressed frames (full size)");
    }

    LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const override {
        if (!IsSupportedInput(in)) {
            return ICERR_BADFORMAT;
        }
        if (out == nullptr) {
            return ICERR_OK;
        }
        if (out->biCompression != BI_RGB || out->biWidth != in->biWidth ||
            out->biHeight != in->biHeight || out->biBitCount != in->biBitCount ||
            out->biPlanes != 1) {
            return ICERR_BADFORMAT;
        }
        return ICERR_OK;
    }

    LRESULT FormatSize(const BITMAPINFOHEADER* in) const override {
        return static_cast<LRESULT>(sizeof(BITMAPINFOHEADER) + OutputColors(in) * sizeof(RGBQUAD));
    }

    LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const override {
        const DWORD colors = OutputColors(in);
        // Read the table before writing: `out` may be `in`.
        RGBQUAD table[256];
        std::memcpy(table, DibColors(in), colors * sizeof(RGBQUAD));
        BITMAPINFOHEADER header{};
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = in->biWidth;
        header.biHeight = in->biHeight;
        header.biPlanes = 1;
        header.biBitCount = in->biBitCount;
        header.biCompression = BI_RGB;
        header.biSizeImage = ImageBytes(in);
        header.biXPelsPerMeter = in->biXPelsPerMeter;
        header.biYPelsPerMeter = in->biYPelsPerMeter;
        header.biClrUsed = colors;
        header.biClrImportant = std::min(in->biClrImportant, colors);
        *out = header;
        std::memcpy(out + 1, table, colors * sizeof(RGBQUAD));
        return ICERR_OK;
    }

    LRESULT MaxFrameSize(const BITMAPINFOHEADER* in) const override { return ImageBytes(in); }

    LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER*) override {
        width_ = in->biWidth;
        height_ = in->biHeight;
        bitCount_ = in->biBitCount;
        bytes_ = ImageBytes(in);
        return ICERR_OK;
    }

    LRESULT Compress(const ICCOMPRESS& c, bool) override {
        const BITMAPINFOHEADER* in = c.lpbiInput;
        if (in != nullptr &&
            (in->biWidth != width_ || in->biHeight != height_ || in->biBitCount != bitCount_)) {
            return ICERR_BADFORMAT;
        }
        std::memcpy(c.lpOutput, c.lpInput, bytes_);
        c.lpbiOutput->biSizeImage = bytes_;
        if (c.lpdwFlags != nullptr) {
            *c.lpdwFlags = AVIIF_KEYFRAME;
        }
        return ICERR_OK;
    }

    void CompressEnd() override {}

  private:
    LONG width_ = 0;
    LONG height_ = 0;
    WORD bitCount_ = 0;
    DWORD bytes_ = 0;
};

}  // namespace

std::unique_ptr<Codec> CreateDibCodec() {
    return std::make_unique<DibCodec>();
}

}  // namespace vfw
