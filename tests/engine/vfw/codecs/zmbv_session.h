// Drives the 'ZMBV' compressor through its message procedure as the
// compressing stream does: query, output format, size, begin, one compress
// per frame, end. Shared by the ZMBV tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/ic.h"

namespace kelvora::test {

inline vfw::DWORD_PTR P(const void* p) {
    return reinterpret_cast<vfw::DWORD_PTR>(p);
}

struct ZmbvPacket {
    std::vector<std::uint8_t> data;
    bool key = false;
};

class ZmbvSession {
  public:
    // Opens a compressor and begins a session for frames of format `in`
    // (header and colour table); check ok() before compressing.
    explicit ZmbvSession(const vfw::BITMAPINFOHEADER* in)
        : codec_(vfw::CreateZmbvCodec()), in_(in) {
        const vfw::LRESULT formatSize = codec_->Message(vfw::ICM_COMPRESS_GET_FORMAT, P(in), 0);
        if (formatSize < static_cast<vfw::LRESULT>(sizeof(vfw::BITMAPINFOHEADER))) {
            return;
        }
        format_.resize(static_cast<size_t>(formatSize));
        const vfw::LRESULT max = codec_->Message(vfw::ICM_COMPRESS_GET_SIZE, P(in), P(out()));
        if (codec_->Message(vfw::ICM_COMPRESS_GET_FORMAT, P(in), P(out())) != vfw::ICERR_OK ||
            max <= 0 ||
            codec_->Message(vfw::ICM_COMPRESS_BEGIN, P(in), P(out())) != vfw::ICERR_OK) {
            return;
        }
        buffer_.resize(static_cast<size_t>(max));
        ok_ = true;
    }
    ~ZmbvSession() { codec_->Message(vfw::ICM_COMPRESS_END, 0, 0); }

    bool ok() const { return ok_; }
    vfw::Codec& codec() { return *codec_; }
    // The output format (stream format: header plus colour table).
    const std::vector<std::uint8_t>& format() const { return format_; }
    vfw::BITMAPINFOHEADER* out() {
        return reinterpret_cast<vfw::BITMAPINFOHEADER*>(format_.data());
    }

    // Compresses one frame's pixels; returns ICERR_OK or the codec's error.
    vfw::LRESULT Compress(const std::uint8_t* bits, bool wantKey, ZmbvPacket* packet,
                          vfw::DWORD quality = vfw::ICQUALITY_DEFAULT) {
        vfw::BITMAPINFOHEADER outFrame = *out();
        vfw::DWORD flags = 0xDEAD;
        vfw::ICCOMPRESS c{};
        c.dwFlags = wantKey ? vfw::ICCOMPRESS_KEYFRAME : 0;
        c.lpbiOutput = &outFrame;
        c.lpOutput = buffer_.data();
        c.lpbiInput = const_cast<vfw::BITMAPINFOHEADER*>(in_);
        c.lpInput = const_cast<std::uint8_t*>(bits);
        c.lpdwFlags = &flags;
        c.dwQuality = quality;
        const vfw::LRESULT r = codec_->Message(vfw::ICM_COMPRESS, P(&c), sizeof(c));
        if (r == vfw::ICERR_OK) {
            EXPECT_LE(outFrame.biSizeImage, buffer_.size());
            EXPECT_TRUE(flags == vfw::AVIIF_KEYFRAME || flags == 0) << flags;
            packet->data.assign(buffer_.begin(), buffer_.begin() + outFrame.biSizeImage);
            packet->key = flags == vfw::AVIIF_KEYFRAME;
        }
        return r;
    }

  private:
    std::unique_ptr<vfw::Codec> codec_;
    const vfw::BITMAPINFOHEADER* in_;
    std::vector<std::uint8_t> format_;
    std::vector<std::uint8_t> buffer_;
    bool ok_ = false;
};

}  // namespace kelvora::test
