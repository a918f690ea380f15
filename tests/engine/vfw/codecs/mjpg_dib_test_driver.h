// Test helpers of the 'MJPG' and 'DIB ' compressors: a driver that runs a
// codec through its message interface as the compressing stream does, and
// picture comparisons.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/vfw/codecs/codec.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {

// Runs one codec instance: QUERY, GET_FORMAT, GET_SIZE, BEGIN, COMPRESS...,
// END. The output buffer holds exactly the GET_SIZE bytes, so that a codec
// writing past its own bound trips AddressSanitizer.
class CodecDriver {
  public:
    explicit CodecDriver(std::unique_ptr<vfw::Codec> codec) : codec_(std::move(codec)) {}

    vfw::LRESULT Send(vfw::UINT msg, vfw::DWORD_PTR p1, vfw::DWORD_PTR p2) {
        return codec_->Message(msg, p1, p2);
    }
    vfw::LRESULT SendPointers(vfw::UINT msg, const void* p1, const void* p2) {
        return Send(msg, reinterpret_cast<vfw::DWORD_PTR>(p1),
                    reinterpret_cast<vfw::DWORD_PTR>(p2));
    }

    // Negotiates the output format for `format` (header plus colour table)
    // and begins; ICERR_OK or the first failure.
    vfw::LRESULT Begin(const vfw::BITMAPINFOHEADER* format);
    // Compresses one frame of the begun format; icFlags: ICCOMPRESS_KEYFRAME.
    // `claimed`, when given, is the input format the frame claims instead.
    vfw::LRESULT Compress(const void* bits, vfw::DWORD quality = vfw::ICQUALITY_DEFAULT,
                          vfw::DWORD icFlags = 0, const vfw::BITMAPINFOHEADER* claimed = nullptr);
    vfw::LRESULT End() { return Send(vfw::ICM_COMPRESS_END, 0, 0); }

    // Results of the last successful Compress.
    const std::uint8_t* frame() const { return buffer_.data(); }
    size_t frameSize() const { return output().biSizeImage; }
    std::vector<std::uint8_t> frameBytes() const {
        return {buffer_.data(), buffer_.data() + frameSize()};
    }
    vfw::DWORD frameFlags() const { return frameFlags_; }

    // The negotiated output format (header plus colour table).
    const std::vector<std::uint8_t>& outputFormat() const { return outputFormat_; }
    const vfw::BITMAPINFOHEADER& output() const {
        return *reinterpret_cast<const vfw::BITMAPINFOHEADER*>(outputFrame_.data());
    }
    size_t maxFrameSize() const { return buffer_.size(); }

  private:
    std::unique_ptr<vfw::Codec> codec_;
    std::vector<std::uint8_t> inputFormat_;
    std::vector<std::uint8_t> outputFormat_;
    std::vector<std::uint8_t> outputFrame_;  // header the codec updates per frame
    std::vector<std::uint8_t> buffer_;
    vfw::DWORD frameFlags_ = 0;
    vfw::LONG frameNumber_ = 0;
};

// A BI_RGB bottom-up header of that size and depth, without colour table.
vfw::BITMAPINFOHEADER Header(int width, int height, int bitCount);

// PSNR in dB over R, G and B of `picture` against B, G, R, x pixels, top row
// first; 99 when identical.
double PsnrAgainst(const Picture& picture, const std::vector<std::uint8_t>& bgrx);

}  // namespace kelvora::test
