// 'ZMBV' frames written into AVI files and decoded by ffmpeg must give back
// the source pixels exactly: every depth, odd sizes, hundreds of frames with
// skipped positions and key-frame intervals, scrolling and moving content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/vfw/codecs/zmbv_encoder.h"
#include "engine/vfw/dib.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/codecs/zmbv_session.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/synthetic_clip.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

// Writes the packets at their positions; skipped positions stay empty.
void WriteAvi(const std::string& path, const std::vector<std::uint8_t>& format,
              const std::vector<ZmbvPacket>& packets, const std::vector<long>& positions) {
    const auto* bi = reinterpret_cast<const vfw::BITMAPINFOHEADER*>(format.data());
    vfw::AVIFileInit();
    vfw::PAVIFILE file = nullptr;
    ASSERT_EQ(vfw::AVIFileOpenA(&file, path.c_str(), vfw::OF_CREATE | vfw::OF_WRITE, nullptr),
              vfw::AVIERR_OK);
    vfw::AVISTREAMINFOA info{};
    info.fccType = vfw::streamtypeVIDEO;
    info.fccHandler = vfw::mmioFOURCC('Z', 'M', 'B', 'V');
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = {0, 0, bi->biWidth, bi->biHeight};
    std::memcpy(info.szName, "ZMBV", 5);
    vfw::PAVISTREAM stream = nullptr;
    EXPECT_EQ(vfw::AVIFileCreateStreamA(file, &stream, &info), vfw::AVIERR_OK);
    EXPECT_EQ(
        vfw::AVIStreamSetFormat(stream, 0, format.data(), static_cast<vfw::LONG>(format.size())),
        vfw::AVIERR_OK);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(vfw::AVIStreamWrite(stream, positions[i], 1, packets[i].data.data(),
                                      static_cast<vfw::LONG>(packets[i].data.size()),
                                      packets[i].key ? vfw::AVIIF_KEYFRAME : 0, nullptr, nullptr),
                  vfw::AVIERR_OK)
            << i;
    }
    vfw::AVIStreamRelease(stream);
    vfw::AVIFileRelease(file);
    vfw::AVIFileExit();
}

// ffmpeg's raw output format for each depth and the bytes of one frame.
struct Decoded {
    const char* pixFmt;
    size_t frameBytes;
};
Decoded DecodedFormat(int bits, int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * height;
    switch (bits) {
        case 8:
            return {"pal8", pixels + 1024};  // indices, then the palette
        case 16:
            return {"rgb555le", pixels * 2};
        default:
            return {"bgr0", pixels * 4};
    }
}

// Compares a decoded frame (top row first) with the source DIB, exactly.
::testing::AssertionResult SamePixels(const PackedDib& dib, const std::vector<std::uint8_t>& out) {
    const vfw::BITMAPINFOHEADER* bi = dib.header();
    const int w = bi->biWidth, h = bi->biHeight, bits = bi->biBitCount;
    const size_t rowBytes = vfw::DibRowBytes(w, static_cast<unsigned>(bits));
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = dib.bits() + rowBytes * static_cast<size_t>(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const size_t at = static_cast<size_t>(y) * w + x;
            bool same = false;
            switch (bits) {
                case 8:
                    same = out[at] == src[x];
                    break;
                case 16:
                    same = out[2 * at] == src[2 * x] &&
                           (out[2 * at + 1] & 0x7F) == (src[2 * x + 1] & 0x7F);
                    break;
                default: {
                    const int step = bits / 8;
                    same = std::memcmp(&out[4 * at], &src[step * x], 3) == 0;
                    break;
                }
            }
            if (!same) {
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
            }
        }
    }
    if (bits == 8) {
        // ffmpeg's palette entries are 0xAARRGGBB words: B, G, R, A bytes.
        const std::uint8_t* pal = out.data() + static_cast<size_t>(w) * h;
        const vfw::RGBQUAD* colors = vfw::DibColors(bi);
        for (int i = 0; i < 256; ++i) {
            if (pal[4 * i] != colors[i].rgbBlue || pal[4 * i + 1] != colors[i].rgbGreen ||
                pal[4 * i + 2] != colors[i].rgbRed) {
                return ::testing::AssertionFailure() << "palette entry " << i;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Decodes `path`: each stored frame must be its source exactly and play at
// the position it was written to (skipped positions hold the last picture).
void ExpectDecodedExactly(const std::string& path, const std::vector<PackedDib>& frames,
                          const std::vector<long>& positions) {
    const vfw::BITMAPINFOHEADER* bi = frames[0].header();
    const VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.codecName, "zmbv");
    EXPECT_EQ(probe.width, bi->biWidth);
    EXPECT_EQ(probe.height, bi->biHeight);
    EXPECT_EQ(probe.entries, positions.back() + 1);
    EXPECT_EQ(PacketTimes(path), std::vector<long long>(positions.begin(), positions.end()));
    const Decoded fmt = DecodedFormat(bi->biBitCount, bi->biWidth, bi->biHeight);
    std::vector<std::vector<std::uint8_t>> decoded;
    ASSERT_TRUE(DecodeFramesRaw(path, fmt.pixFmt, fmt.frameBytes, &decoded));
    ASSERT_EQ(decoded.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(SamePixels(frames[i], decoded[i])) << "frame " << i;
    }
}

// ToDib(picture, 8) with one colour cache for a whole clip: ToDib looks each
// distinct colour up afresh for every frame, which is slow for gradients.
PackedDib ToDib8(const Picture& picture, std::unordered_map<std::uint32_t, std::uint8_t>* cache) {
    Picture blank = picture;
    blank.px.assign(blank.px.size(), 0);
    PackedDib dib = ToDib(blank, 8);
    const size_t rowBytes = vfw::DibRowBytes(picture.width, 8);
    std::uint8_t* bits = dib.bytes.data() + dib.formatSize();
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t c = picture.at(x, y);
            auto it = cache->find(c);
            if (it == cache->end()) {
                Picture one;
                one.width = one.height = 1;
                one.px = {c};
                it = cache->emplace(c, ToDib(one, 8).bits()[0]).first;
            }
            bits[rowBytes * static_cast<size_t>(picture.height - 1 - y) + x] = it->second;
        }
    }
    return dib;
}

struct ClipCase {
    int bits;
    int width;
    int height;
    int frames;
    int keyEvery;
};

class ZmbvRoundTrip : public ::testing::TestWithParam<ClipCase> {};

// The compressing stream's way: key frames asked for every keyEvery frames,
// positions from a clock that sometimes skips.
TEST_P(ZmbvRoundTrip, FfmpegDecodesTheSourceExactly) {
    const ClipCase c = GetParam();
    std::vector<PackedDib> frames;
    std::vector<long> positions;
    std::unordered_map<std::uint32_t, std::uint8_t> colors;
    long pos = 0;
    for (int i = 0; i < c.frames; ++i) {
        const Picture picture = ScreenFrame(c.width, c.height, i);
        frames.push_back(c.bits == 8 ? ToDib8(picture, &colors) : ToDib(picture, c.bits));
        positions.push_back(pos);
        pos += (i % 9 == 4) ? 3 : 1;  // two skipped positions now and then
    }
    ZmbvSession s(frames[0].header());
    ASSERT_TRUE(s.ok());
    std::vector<ZmbvPacket> packets(frames.size());
    int keys = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool wantKey = i % static_cast<size_t>(c.keyEvery) == 0;
        ASSERT_EQ(s.Compress(frames[i].bits(), wantKey, &packets[i]), vfw::ICERR_OK) << i;
        EXPECT_EQ(packets[i].key, wantKey) << i;
        keys += packets[i].key;
    }
    EXPECT_EQ(keys, (c.frames + c.keyEvery - 1) / c.keyEvery);

    const std::string path =
        OutputPath("zmbv_" + std::to_string(c.bits) + "_" + std::to_string(c.width) + "x" +
                   std::to_string(c.height) + ".avi");
    WriteAvi(path, s.format(), packets, positions);
    ExpectDecodedExactly(path, frames, positions);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ZmbvRoundTrip,
    ::testing::Values(ClipCase{8, 320, 240, 210, 15}, ClipCase{16, 320, 240, 210, 15},
                      ClipCase{24, 320, 240, 210, 15}, ClipCase{32, 320, 240, 210, 15},
                      ClipCase{8, 173, 97, 60, 25}, ClipCase{16, 173, 97, 60, 1},
                      ClipCase{24, 173, 97, 60, 1000}, ClipCase{32, 173, 97, 60, 7}),
    [](const auto& info) {
        return std::to_string(info.param.bits) + "bits_" + std::to_string(info.param.width) + "x" +
               std::to_string(info.param.height);
    });

// Displaced blocks, including those that reach past the frame's edges (read
// as zero there), decode exactly and make delta frames a fraction of what
// in-place XOR costs: text scrolls up 7 pixels a frame on the left, a picture
// slides 5 pixels left on the right.
TEST(ZmbvMotion, DisplacedBlocksDecodeExactlyAndShrinkDeltaFrames) {
    const int width = 160, height = 96, count = 40;
    const Picture tall = ScreenFrame(width + 5 * count, height + 7 * count, 0);
    std::vector<PackedDib> frames;
    std::vector<long> positions;
    Picture view = ScreenFrame(width, height, 0);
    for (int i = 0; i < count; ++i) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                view.at(x, y) = x < width / 2 ? tall.at(x, y + 7 * i) : tall.at(x + 5 * i, y);
            }
        }
        frames.push_back(ToDib(view, 32));
        positions.push_back(i);
    }
    std::vector<ZmbvPacket> packets(frames.size());
    const auto encode = [&](bool motion, int* moved) {
        vfw::zmbv::Encoder enc;
        EXPECT_EQ(enc.Begin(*frames[0].header(), {.level = 1, .motionSearch = motion}),
                  vfw::zmbv::Status::kOk);
        std::vector<std::uint8_t> out(vfw::zmbv::Encoder::MaxFrameBytes(*frames[0].header()));
        size_t deltaBytes = 0;
        *moved = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            size_t size = 0;
            bool key = false;
            EXPECT_EQ(enc.Encode(frames[i].bits(), i == 20, out.data(), out.size(), &size, &key),
                      vfw::zmbv::Status::kOk);
            packets[i].data.assign(out.begin(), out.begin() + static_cast<long>(size));
            packets[i].key = key;
            deltaBytes += key ? 0 : size;
            *moved += enc.stats().moved;
        }
        return deltaBytes;
    };
    int moved = 0;
    const size_t without = encode(false, &moved);
    EXPECT_EQ(moved, 0);
    const size_t with = encode(true, &moved);
    EXPECT_GT(moved, 38 * 40);  // most of the 60 blocks in each delta frame
    EXPECT_LT(with * 4, without) << with << " vs " << without;

    std::vector<std::uint8_t> format(sizeof(vfw::BITMAPINFOHEADER));
    auto* bi = reinterpret_cast<vfw::BITMAPINFOHEADER*>(format.data());
    *bi = *frames[0].header();
    bi->biCompression = vfw::mmioFOURCC('Z', 'M', 'B', 'V');
    const std::string path = OutputPath("zmbv_motion.avi");
    WriteAvi(path, format, packets, positions);
    ExpectDecodedExactly(path, frames, positions);
}

}  // namespace
}  // namespace kelvora::test
