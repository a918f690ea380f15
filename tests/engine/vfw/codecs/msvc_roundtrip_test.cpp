// Round trips of the 'MSVC' compressor: synthetic screen clips at 8, 16, 24
// and 32 bits through the compressor's messages, into AVI files through the
// AVIFile calls (frames at positions with gaps, flagged as the compressor
// reported), decoded by ffmpeg and compared with what our own decoder shows
// (exactly), with the input's PSNR bounded. 8-bit input goes both into the
// palettised stream (the codec's own choice) and into the 16-bit one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/codecs/msvc_test_decoder.h"
#include "tests/engine/vfw/codecs/msvc_test_frames.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace vfw {
namespace {

using kelvora::test::Picture;

DWORD_PTR P(const void* p) {
    return reinterpret_cast<DWORD_PTR>(p);
}

struct Shown {
    long long pos;
    std::vector<std::uint16_t> picture;  // our decoder's, bottom row first
    double psnr;                         // of that picture against the input, or 99
};

struct Clip {
    int depth;
    bool palettised;  // 8-bit input only: the 8-bit stream
    int width, height;
    int frames;
    int keyEvery;
    DWORD quality;
    double minPsnr;  // lowest PSNR of any frame, set from measurement
};

// Compresses `clip` and writes it to `path`; returns what our decoder showed
// at each written position.
std::vector<Shown> WriteClip(const Clip& clip, const std::string& path) {
    std::vector<Shown> shown;
    const std::unique_ptr<Codec> codec = CreateMsvcCodec();
    const kelvora::test::PackedDib first = kelvora::test::MsvcInput(
        kelvora::test::ScreenFrame(clip.width, clip.height, 0), clip.depth);
    std::vector<std::uint8_t> format(
        static_cast<size_t>(codec->Message(ICM_COMPRESS_GET_FORMAT, P(first.header()), 0)));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    EXPECT_EQ(codec->Message(ICM_COMPRESS_GET_FORMAT, P(first.header()), P(out)), ICERR_OK);
    EXPECT_EQ(out->biBitCount, clip.palettised ? 8 : (clip.depth == 8 ? 8 : 16));
    if (clip.depth == 8 && !clip.palettised) {
        // Ask for the 16-bit stream instead.
        out->biBitCount = 16;
        out->biClrUsed = 0;
        format.resize(sizeof(BITMAPINFOHEADER));
        out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    }
    std::vector<std::uint8_t> buffer(
        static_cast<size_t>(codec->Message(ICM_COMPRESS_GET_SIZE, P(first.header()), P(out))));
    EXPECT_EQ(codec->Message(ICM_COMPRESS_BEGIN, P(first.header()), P(out)), ICERR_OK);

    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('M', 'S', 'V', 'C');
    info.dwScale = 1;
    info.dwRate = 10;
    info.rcFrame = {0, 0, clip.width, clip.height};
    std::strcpy(info.szName, "MS Video Codec");
    if (file != nullptr) {
        EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    }
    if (stream != nullptr) {
        EXPECT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())),
                  AVIERR_OK);
    }

    kelvora::test::MsvcDecoder dec(clip.width, clip.height, clip.palettised);
    std::uint32_t colours[256];
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = kelvora::test::TestPalette()[static_cast<size_t>(i)];
        colours[i] = static_cast<std::uint32_t>(q.rgbRed) << 16 |
                     static_cast<std::uint32_t>(q.rgbGreen) << 8 | q.rgbBlue;
    }
    std::uint32_t rng = 2024;
    LONG pos = 0;
    for (int i = 0; i < clip.frames && stream != nullptr; ++i) {
        const kelvora::test::PackedDib dib = kelvora::test::MsvcInput(
            kelvora::test::ScreenFrame(clip.width, clip.height, i), clip.depth);
        BITMAPINFOHEADER frameOut = *out;
        DWORD flags = 0;
        ICCOMPRESS c{};
        c.dwFlags = i % clip.keyEvery == 0 ? ICCOMPRESS_KEYFRAME : 0;
        c.lpbiOutput = &frameOut;
        c.lpOutput = buffer.data();
        c.lpbiInput = const_cast<BITMAPINFOHEADER*>(dib.header());
        c.lpInput = const_cast<std::uint8_t*>(dib.bits());
        c.lpdwFlags = &flags;
        c.dwQuality = clip.quality;
        if (codec->Message(ICM_COMPRESS, P(&c), sizeof c) != ICERR_OK) {
            ADD_FAILURE() << "frame " << i;
            break;
        }
        EXPECT_EQ(AVIStreamWrite(stream, pos, 1, buffer.data(),
                                 static_cast<LONG>(frameOut.biSizeImage), flags, nullptr, nullptr),
                  AVIERR_OK);
        EXPECT_TRUE(dec.Decode(buffer.data(), frameOut.biSizeImage)) << dec.error;
        // PSNR on every third frame keeps the test quick under the sanitizers.
        const double psnr =
            i % 3 == 0 ? (clip.palettised
                              ? kelvora::test::PsnrIndexed(dec.picture, colours,
                                                           kelvora::test::FromDib(dib))
                              : kelvora::test::Psnr555(dec.picture, kelvora::test::FromDib(dib)))
                       : 99.0;
        shown.push_back({pos, dec.picture, psnr});
        // Gaps of one to three positions now and then, as a slow grab leaves.
        rng = rng * 1103515245u + 12345u;
        pos += 1 + ((rng >> 16) % 5 == 0 ? static_cast<LONG>((rng >> 8) % 3 + 1) : 0);
    }
    codec->Message(ICM_COMPRESS_END, 0, 0);
    if (stream != nullptr) {
        AVIStreamRelease(stream);
    }
    if (file != nullptr) {
        AVIFileRelease(file);
    }
    AVIFileExit();
    return shown;
}

// What ffmpeg shows for frame `got`, as our decoder holds pictures: RGB555
// from "rgb555le" output, or palette indices recovered from "bgra" output
// (TestPalette's colours are distinct), bottom row first.
std::vector<std::uint16_t> AsShown(const std::vector<std::uint8_t>& got, const Clip& clip) {
    static const std::map<std::uint32_t, std::uint16_t> indexOf = [] {
        std::map<std::uint32_t, std::uint16_t> m;
        const auto& pal = kelvora::test::TestPalette();
        for (size_t i = 0; i < pal.size(); ++i) {
            m[static_cast<std::uint32_t>(pal[i].rgbRed) << 16 |
              static_cast<std::uint32_t>(pal[i].rgbGreen) << 8 | pal[i].rgbBlue] =
                static_cast<std::uint16_t>(i);
        }
        return m;
    }();
    std::vector<std::uint16_t> picture(static_cast<size_t>(clip.width) * clip.height);
    for (int y = 0; y < clip.height; ++y) {
        for (int x = 0; x < clip.width; ++x) {
            const size_t px = static_cast<size_t>(y) * clip.width + x;
            std::uint16_t v;
            if (clip.palettised) {
                const std::uint8_t* c = &got[px * 4];
                const auto it = indexOf.find(static_cast<std::uint32_t>(c[2]) << 16 |
                                             static_cast<std::uint32_t>(c[1]) << 8 | c[0]);
                v = it == indexOf.end() ? 0xFFFF : it->second;
            } else {
                v = static_cast<std::uint16_t>((got[px * 2] | got[px * 2 + 1] << 8) & 0x7FFF);
            }
            picture[static_cast<size_t>(clip.height - 1 - y) * clip.width + x] = v;
        }
    }
    return picture;
}

TEST(MsvcRoundTrip, FfmpegShowsWhatTheEncoderMeantAtEveryDepth) {
    // PSNR bounds: the lowest frame measured on each clip, less 1.5 dB.
    const Clip clips[] = {
        {32, false, 320, 240, 210, 15, 7500, 38.2},  // measured 39.71 dB
        {24, false, 320, 240, 210, 15, 9000, 39.7},  // 41.21
        {16, false, 320, 240, 210, 10, 7500, 39.1},  // 40.65
        {8, true, 320, 240, 210, 25, 7500, 42.5},    // 44.04
        {8, false, 132, 76, 210, 15, 7500, 30.5},    // 32.0
        {32, false, 132, 76, 210, 15, 9000, 36.4},   // 37.94
        {24, false, 132, 76, 210, 7, 7500, 30.6},    // 32.10
        {16, false, 132, 76, 210, 15, 9000, 37.4},   // 38.99
        {8, true, 132, 76, 210, 15, 9000, 38.2},     // 39.68
    };
    for (const Clip& clip : clips) {
        const std::string name = "msvc_" + std::to_string(clip.depth) + "bit" +
                                 (clip.palettised ? "_palettised_" : "_") +
                                 std::to_string(clip.width) + "x" + std::to_string(clip.height) +
                                 ".avi";
        SCOPED_TRACE(name);
        const std::string path = kelvora::test::OutputPath(name);
        const std::vector<Shown> shown = WriteClip(clip, path);
        ASSERT_EQ(shown.size(), static_cast<size_t>(clip.frames));
        const LONG length = shown.back().pos + 1;

        const kelvora::test::VideoProbe probe = kelvora::test::ProbeVideo(path);
        ASSERT_TRUE(probe.ok) << probe.error;
        EXPECT_EQ(probe.codecName, "msvideo1");
        EXPECT_EQ(probe.width, clip.width);
        EXPECT_EQ(probe.height, clip.height);
        EXPECT_EQ(probe.packets, clip.frames);
        EXPECT_EQ(probe.entries, length);

        // Frames sit at the positions written; the empty entries between
        // them hold the picture.
        std::vector<long long> written;
        for (const Shown& f : shown) {
            written.push_back(f.pos);
        }
        EXPECT_EQ(kelvora::test::PacketTimes(path), written);

        std::vector<std::vector<std::uint8_t>> decoded;
        const size_t pixels = static_cast<size_t>(clip.width) * clip.height;
        ASSERT_TRUE(kelvora::test::DecodeFramesRaw(path, clip.palettised ? "bgra" : "rgb555le",
                                                   pixels * (clip.palettised ? 4 : 2), &decoded));
        ASSERT_EQ(decoded.size(), shown.size());
        double worst = 99;
        int mismatches = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            if (AsShown(decoded[i], clip) != shown[i].picture && ++mismatches <= 3) {
                ADD_FAILURE() << "frame " << i << " differs from our decoder's picture";
            }
            worst = std::min(worst, shown[i].psnr);
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(worst, clip.minPsnr);
        std::printf("%s: %d frames over %d positions, lowest PSNR %.2f dB\n", name.c_str(),
                    clip.frames, static_cast<int>(length), worst);
    }
}

}  // namespace
}  // namespace vfw
