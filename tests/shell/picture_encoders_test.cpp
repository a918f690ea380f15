// The BMP, JPEG and PNG encoders: files that an independent decoder (ffmpeg)
// reads back to the pixels given, the JPEG quality seen in the file's
// tables, and sinks that refuse a write part-way (the libraries' error paths
// must end the encode cleanly; the sanitizers check that nothing leaks).
#include "shell/picture_encoders.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/shell/jpeg_check.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace kelvora {
namespace {

using test::OutputPath;

// Odd sizes, so that BMP rows need padding and JPEG blocks are partial.
constexpr int kWidth = 67;
constexpr int kHeight = 41;

// Stores every byte; refuses every write after `limit` bytes.
class MemorySink : public ByteSink {
  public:
    explicit MemorySink(std::size_t limit = SIZE_MAX) : limit_(limit) {}
    bool Write(const void* data, std::size_t size) override {
        if (refused_ || bytes.size() + size > limit_) {
            refused_ = true;
            ++writesAfterRefusal;
            return false;
        }
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
    int writesAfterRefusal = 0;

  private:
    std::size_t limit_;
    bool refused_ = false;
};

bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Smooth gradients with a few hard edges: B, G, R, 0 per pixel, top row first.
std::vector<std::uint8_t> Scene() {
    std::vector<std::uint8_t> px(kWidth * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &px[(y * kWidth + x) * 4];
            p[0] = static_cast<std::uint8_t>(x * 255 / (kWidth - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (kHeight - 1));
            p[2] = x > 30 && x < 45 && y > 10 && y < 30 ? 255 : 40;
            p[3] = 0;
        }
    }
    return px;
}

std::vector<std::uint8_t> DecodeBgra(const std::string& path) {
    std::vector<std::vector<std::uint8_t>> frames;
    if (!test::DecodeFramesBgra(path, kWidth, kHeight, &frames) || frames.size() != 1) {
        return {};
    }
    for (std::size_t i = 3; i < frames[0].size(); i += 4) {
        frames[0][i] = 0;  // compare colour only
    }
    return frames[0];
}

// The scene as a bottom-up DIB of 32 or 24 bits.
std::vector<std::uint8_t> DibRows(const std::vector<std::uint8_t>& scene, int bitCount) {
    const std::size_t stride = DibStride(kWidth, bitCount);
    std::vector<std::uint8_t> rows(stride * kHeight, 0xEE);  // padding bytes stay visible
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* dst = &rows[(kHeight - 1 - y) * stride];
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < bitCount / 8; ++c) {
                dst[x * (bitCount / 8) + c] = scene[(y * kWidth + x) * 4 + c];
            }
        }
    }
    return rows;
}

TEST(PictureEncoders, BmpOfEveryKindDecodesToItsPixels) {
    const std::vector<std::uint8_t> scene = Scene();
    for (int bitCount : {32, 24}) {
        const std::vector<std::uint8_t> rows = DibRows(scene, bitCount);
        MemorySink sink;
        ASSERT_EQ(EncodeBmp(DibPicture{kWidth, kHeight, bitCount, {}, false, rows.data()}, sink),
                  EncodeStatus::Ok);
        const std::string path = OutputPath("rgb" + std::to_string(bitCount) + ".bmp");
        ASSERT_TRUE(SaveBytes(path, sink.bytes));
        EXPECT_EQ(DecodeBgra(path), scene) << bitCount << " bits";
    }

    // 16 bits, 5-6-5 masks: the decoder's own 16-bit output is the DIB's rows.
    std::vector<std::uint8_t> rows565(DibStride(kWidth, 16) * kHeight, 0);
    std::vector<std::uint8_t> topDown565;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::uint16_t v = static_cast<std::uint16_t>((x * 977 + y * 131) & 0xFFFF);
            std::uint8_t* p = &rows565[(kHeight - 1 - y) * DibStride(kWidth, 16) + x * 2];
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>(v >> 8);
            topDown565.push_back(p[0]);
            topDown565.push_back(p[1]);
        }
    }
    MemorySink sink16;
    ASSERT_EQ(
        EncodeBmp(DibPicture{kWidth, kHeight, 16, {0xF800, 0x07E0, 0x001F}, true, rows565.data()},
                  sink16),
        EncodeStatus::Ok);
    ASSERT_TRUE(SaveBytes(OutputPath("rgb565.bmp"), sink16.bytes));
    std::vector<std::vector<std::uint8_t>> frames;
    ASSERT_TRUE(
        test::DecodeFramesRaw(OutputPath("rgb565.bmp"), "rgb565le", topDown565.size(), &frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], topDown565);

    // 8 bits with a palette: every pixel decodes to its palette entry.
    std::vector<std::uint32_t> palette(256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        palette[i] = (i * 0x010307u * 37u) & 0xFFFFFF;
    }
    std::vector<std::uint8_t> rows8(DibStride(kWidth, 8) * kHeight, 0);
    std::vector<std::uint8_t> expected8;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t index = static_cast<std::uint8_t>(x * 3 + y * 7);
            rows8[(kHeight - 1 - y) * DibStride(kWidth, 8) + x] = index;
            const std::uint32_t c = palette[index];
            expected8.insert(expected8.end(),
                             {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                              static_cast<std::uint8_t>(c >> 16), 0});
        }
    }
    MemorySink sink8;
    ASSERT_EQ(EncodeBmp(DibPicture{kWidth, kHeight, 8, palette, false, rows8.data()}, sink8),
              EncodeStatus::Ok);
    ASSERT_TRUE(SaveBytes(OutputPath("pal8.bmp"), sink8.bytes));
    EXPECT_EQ(DecodeBgra(OutputPath("pal8.bmp")), expected8);
}

TEST(PictureEncoders, PngIsExactAndJpegHasTheQualitysTables) {
    const std::vector<std::uint8_t> scene = Scene();
    const BgrxPicture picture{kWidth, kHeight, scene.data(), kWidth * 4};

    MemorySink png;
    ASSERT_EQ(EncodePng(picture, png), EncodeStatus::Ok);
    ASSERT_TRUE(SaveBytes(OutputPath("scene.png"), png.bytes));
    EXPECT_EQ(DecodeBgra(OutputPath("scene.png")), scene);

    double lastPsnr = 0;
    for (int quality : {1, 44, 80, 100}) {
        MemorySink jpeg;
        ASSERT_EQ(EncodeJpeg(picture, quality, jpeg), EncodeStatus::Ok);
        const std::string path = OutputPath("scene-q" + std::to_string(quality) + ".jpg");
        ASSERT_TRUE(SaveBytes(path, jpeg.bytes));
        const test::DecodedJpeg decoded = test::DecodeJpegFile(path);
        ASSERT_TRUE(decoded.ok) << quality;
        EXPECT_EQ(decoded.components, 3);
        EXPECT_FALSE(decoded.progressive);
        EXPECT_EQ(decoded.tables, test::ExpectedQuantTables(quality)) << quality;
        // ffmpeg reads it too, close to the scene at a usable quality.
        const std::vector<std::uint8_t> pixels = DecodeBgra(path);
        ASSERT_EQ(pixels.size(), scene.size()) << quality;
        // Colour edges lose to 4:2:0 sampling at any quality (about 28 dB
        // here at 80); a swap of red and blue would fall far lower.
        const double psnr = test::PsnrBgrx(pixels, scene);
        if (quality >= 44) {
            EXPECT_GT(psnr, 25.0) << quality;
        }
        EXPECT_GT(psnr, lastPsnr) << quality;
        lastPsnr = psnr;
    }
    MemorySink unused;
    EXPECT_EQ(EncodeJpeg(picture, 0, unused), EncodeStatus::EncoderFailed);
    EXPECT_EQ(EncodeJpeg(picture, 101, unused), EncodeStatus::EncoderFailed);
    EXPECT_TRUE(unused.bytes.empty());
}

TEST(PictureEncoders, ARefusedWriteEndsEveryEncoderWithSinkFailed) {
    const std::vector<std::uint8_t> scene = Scene();
    const BgrxPicture picture{kWidth, kHeight, scene.data(), kWidth * 4};
    const std::vector<std::uint8_t> rows = DibRows(scene, 32);
    const DibPicture dib{kWidth, kHeight, 32, {}, false, rows.data()};
    using Encode = EncodeStatus (*)(const BgrxPicture&, const DibPicture&, ByteSink&);
    const std::pair<const char*, Encode> encoders[] = {
        {"bmp",
         [](const BgrxPicture&, const DibPicture& d, ByteSink& s) { return EncodeBmp(d, s); }},
        {"jpeg",
         [](const BgrxPicture& p, const DibPicture&, ByteSink& s) { return EncodeJpeg(p, 80, s); }},
        {"png",
         [](const BgrxPicture& p, const DibPicture&, ByteSink& s) { return EncodePng(p, s); }},
    };
    for (const auto& [name, encode] : encoders) {
        MemorySink whole;
        ASSERT_EQ(encode(picture, dib, whole), EncodeStatus::Ok) << name;
        const std::size_t size = whole.bytes.size();
        for (std::size_t limit : {std::size_t{0}, std::size_t{1}, size / 2, size - 1}) {
            MemorySink sink(limit);
            EXPECT_EQ(encode(picture, dib, sink), EncodeStatus::SinkFailed)
                << name << " refused after " << limit << " of " << size;
            EXPECT_EQ(sink.writesAfterRefusal, 1) << name << " kept writing after a refusal";
        }
    }
}

}  // namespace
}  // namespace kelvora
