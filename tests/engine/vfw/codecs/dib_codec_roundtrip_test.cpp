// 'DIB ' frames written into AVI files at positions with gaps and decoded by
// ffmpeg give back the source pixels exactly, at every depth.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/dib.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_avi.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/synthetic_clip.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

// ffmpeg's raw output for each depth: pixel format and bytes a pixel (8 bits
// adds the 1024-byte palette after the indices).
struct Raw {
    const char* pixFmt;
    int bytesPerPixel;
};
Raw RawFormat(int bits) {
    switch (bits) {
        case 8:
            return {"pal8", 1};
        case 16:
            return {"rgb555le", 2};
        case 24:
            return {"bgr24", 3};
        default:
            return {"bgr0", 4};
    }
}

::testing::AssertionResult SamePixels(const PackedDib& dib, const std::vector<std::uint8_t>& out) {
    const BITMAPINFOHEADER* bi = dib.header();
    const int w = bi->biWidth, h = bi->biHeight, bits = bi->biBitCount;
    const Raw raw = RawFormat(bits);
    const size_t rowBytes = DibRowBytes(w, static_cast<unsigned>(bits));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = dib.bits() + rowBytes * static_cast<size_t>(h - 1 - y);
        const std::uint8_t* got = out.data() + static_cast<size_t>(y) * w * raw.bytesPerPixel;
        for (int x = 0; x < w; ++x) {
            // 32 bits: the unused fourth byte is not compared.
            const int compared = bits == 32 ? 3 : raw.bytesPerPixel;
            if (std::memcmp(got + x * raw.bytesPerPixel, src + x * (bits / 8), compared) != 0) {
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
            }
        }
    }
    if (bits == 8) {
        // ffmpeg's palette: 0xAARRGGBB words, that is B, G, R, A bytes.
        const std::uint8_t* pal = out.data() + static_cast<size_t>(w) * h;
        const RGBQUAD* colors = DibColors(bi);
        for (int i = 0; i < 256; ++i) {
            if (pal[4 * i] != colors[i].rgbBlue || pal[4 * i + 1] != colors[i].rgbGreen ||
                pal[4 * i + 2] != colors[i].rgbRed) {
                return ::testing::AssertionFailure() << "palette entry " << i;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(DibRoundTrip, EveryDepthExactlyThroughAviAndFfmpeg) {
    for (int bits : {8, 16, 24, 32}) {
        for (auto [w, h] : {std::pair{173, 97}, std::pair{320, 240}}) {
            SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h);
            constexpr int kFrames = 30;
            const std::vector<LONG> positions = PositionsWithGaps(kFrames);
            ClipDibs toDib(bits);
            std::vector<PackedDib> sources;
            std::vector<CompressedFrame> frames;
            CodecDriver d(CreateDibCodec());
            for (int i = 0; i < kFrames; ++i) {
                sources.push_back(toDib(ScreenFrame(w, h, i)));
                if (i == 0) {
                    ASSERT_EQ(d.Begin(sources[0].header()), ICERR_OK);
                }
                ASSERT_EQ(d.Compress(sources[i].bits()), ICERR_OK);
                frames.push_back({d.frameBytes(), d.frameFlags(), positions[i]});
            }
            ASSERT_EQ(d.End(), ICERR_OK);

            const std::string path =
                OutputPath("dib_" + std::to_string(bits) + "_" + std::to_string(w) + ".avi");
            ASSERT_TRUE(WriteClip(path, mmioFOURCC('D', 'I', 'B', ' '), d.outputFormat(), frames));
            const VideoProbe probe = ProbeVideo(path);
            ASSERT_TRUE(probe.ok) << probe.error;
            EXPECT_EQ(probe.codecName, "rawvideo");
            EXPECT_EQ(probe.width, w);
            EXPECT_EQ(probe.height, h);
            EXPECT_EQ(probe.packets, kFrames);
            EXPECT_EQ(probe.entries, positions.back() + 1);
            EXPECT_EQ(PacketTimes(path),
                      std::vector<long long>(positions.begin(), positions.end()));

            const Raw raw = RawFormat(bits);
            const size_t frameBytes =
                static_cast<size_t>(w) * h * raw.bytesPerPixel + (bits == 8 ? 1024 : 0);
            std::vector<std::vector<std::uint8_t>> decoded;
            ASSERT_TRUE(DecodeFramesRaw(path, raw.pixFmt, frameBytes, &decoded));
            ASSERT_EQ(decoded.size(), sources.size());
            for (size_t i = 0; i < sources.size(); ++i) {
                ASSERT_TRUE(SamePixels(sources[i], decoded[i])) << "frame " << i;
            }
        }
    }
}

}  // namespace
}  // namespace kelvora::test
