// The 'MJPG' compressor through its message interface: what it reports,
// what it refuses, and pictures that libjpeg decodes back to the source.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/dib.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"
#include "tests/engine/vfw/codecs/mjpg_test_jpeg.h"
#include "tests/support/synthetic_clip.h"

#if defined(__SANITIZE_ADDRESS__)
#include <atomic>
// AddressSanitizer's allocator calls these for every malloc and operator new.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace kelvora::test {
namespace {

using namespace vfw;

constexpr FOURCC kMjpg = mmioFOURCC('M', 'J', 'P', 'G');

CodecDriver MjpgDriver() {
    return CodecDriver(CreateMjpgCodec());
}

std::u16string Text(const WCHAR* s) {
    return std::u16string(s);
}

TEST(MjpgCodec, DescribesItself) {
    CodecDriver d = MjpgDriver();
    ICINFO info;
    std::memset(&info, 0xAB, sizeof(info));
    ASSERT_EQ(d.Send(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof(info)),
              static_cast<LRESULT>(sizeof(info)));
    EXPECT_EQ(info.dwSize, sizeof(ICINFO));
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, kMjpg);
    EXPECT_EQ(info.dwFlags, VIDCF_QUALITY);  // every frame a key frame: not temporal
    EXPECT_EQ(info.dwVersionICM, 0x0104u);
    EXPECT_EQ(Text(info.szName), u"MJPG");
    EXPECT_EQ(Text(info.szDescription), u"Motion JPEG");
    EXPECT_EQ(Text(info.szDriver), u"");

    EXPECT_EQ(d.Send(ICM_ABOUT, static_cast<DWORD_PTR>(-1), 1), ICERR_OK);
    EXPECT_EQ(d.Send(ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), 1), ICERR_UNSUPPORTED);
    DWORD quality = 0;
    EXPECT_EQ(d.SendPointers(ICM_GETDEFAULTQUALITY, &quality, nullptr), ICERR_OK);
    EXPECT_EQ(quality, 7500u);
}

TEST(MjpgCodec, RefusesWhatItCannotCompress) {
    struct Case {
        const char* what;
        BITMAPINFOHEADER header;
    };
    std::vector<Case> cases = {
        {"1 bit", Header(64, 48, 1)},
        {"4 bits", Header(64, 48, 4)},
        {"15 bits", Header(64, 48, 15)},
        {"top-down", Header(64, -48, 32)},
        {"zero width", Header(0, 48, 32)},
        {"zero height", Header(64, 0, 24)},
        {"too wide", Header(16385, 8, 24)},
        {"too tall", Header(8, 16385, 24)},
        {"worst case past 1 GiB", Header(16384, 16384, 32)},
    };
    cases.push_back({"bit fields", Header(64, 48, 32)});
    cases.back().header.biCompression = BI_BITFIELDS;
    cases.push_back({"two planes", Header(64, 48, 24)});
    cases.back().header.biPlanes = 2;
    cases.push_back({"short header", Header(64, 48, 24)});
    cases.back().header.biSize = 12;
    cases.push_back({"too many colours", Header(64, 48, 8)});
    cases.back().header.biClrUsed = 257;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CodecDriver d = MjpgDriver();
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, &c.header, nullptr), ICERR_BADFORMAT);
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_GET_FORMAT, &c.header, nullptr), ICERR_BADFORMAT);
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_GET_SIZE, &c.header, nullptr), 0);
        BITMAPINFOHEADER out = Header(64, 48, 24);
        out.biCompression = kMjpg;
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_BEGIN, &c.header, &out), ICERR_BADFORMAT);
    }
}

TEST(MjpgCodec, NegotiatesA24BitMjpgOutput) {
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const PackedDib dib = ToDib(ScreenFrame(173, 97, 0), bits);
        CodecDriver d = MjpgDriver();
        ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
        ASSERT_EQ(d.outputFormat().size(), sizeof(BITMAPINFOHEADER));
        const BITMAPINFOHEADER& out = d.output();
        EXPECT_EQ(out.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(out.biWidth, 173);
        EXPECT_EQ(out.biHeight, 97);
        EXPECT_EQ(out.biPlanes, 1);
        EXPECT_EQ(out.biBitCount, 24);
        EXPECT_EQ(out.biCompression, kMjpg);
        EXPECT_GE(d.maxFrameSize(), 173u * 97 * 3);

        // Outputs it cannot make are refused.
        BITMAPINFOHEADER wrong = out;
        wrong.biCompression = BI_RGB;
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, dib.header(), &wrong), ICERR_BADFORMAT);
        wrong = out;
        wrong.biWidth = 174;
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, dib.header(), &wrong), ICERR_BADFORMAT);
        wrong = out;
        wrong.biBitCount = 16;
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, dib.header(), &wrong), ICERR_BADFORMAT);
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, dib.header(), &out), ICERR_OK);
    }
}

TEST(MjpgCodec, RefusesAFrameOfAnotherFormatAndGoesOn) {
    const PackedDib dib = ToDib(ScreenFrame(64, 48, 0), 32);
    const PackedDib other = ToDib(ScreenFrame(48, 48, 0), 32);
    CodecDriver d = MjpgDriver();
    ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
    EXPECT_EQ(d.Compress(other.bits(), ICQUALITY_DEFAULT, 0, other.header()), ICERR_BADFORMAT);
    ASSERT_EQ(d.Compress(dib.bits()), ICERR_OK);
    EXPECT_TRUE(ReadJpeg(d.frame(), d.frameSize()).ok);
}

// Lowest PSNR allowed at the default quality, against what a lossless decoder
// shows of the source DIB. Measured lowest over 20 frames: 33.3 (8 bits)
// to 33.5 dB (24 and 32 bits) at 320x240; 29.7 to 29.9 dB at 173x97, whose
// picture is denser. A wrong row order, channel order or depth conversion
// costs far more than the margin.
double MinimumPsnr(int width) {
    return width == 320 ? 32.5 : 29.0;
}

TEST(MjpgCodec, EveryDepthDecodesToTheSourcePicture) {
    for (int bits : {8, 16, 24, 32}) {
        for (auto [w, h] : {std::pair{320, 240}, std::pair{173, 97}}) {
            SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h);
            CodecDriver d = MjpgDriver();
            ASSERT_EQ(d.Begin(ToDib(ScreenFrame(w, h, 0), bits).header()), ICERR_OK);
            double worst = 99;
            for (int i = 0; i < 6; ++i) {  // the first optimised, the others not
                const PackedDib dib = ToDib(ScreenFrame(w, h, i), bits);
                // Key-frame requests change nothing: every frame is one.
                ASSERT_EQ(
                    d.Compress(dib.bits(), ICQUALITY_DEFAULT, i % 3 == 0 ? ICCOMPRESS_KEYFRAME : 0),
                    ICERR_OK);
                EXPECT_EQ(d.frameFlags(), AVIIF_KEYFRAME);
                const JpegFacts jpeg = ReadJpeg(d.frame(), d.frameSize());
                ASSERT_TRUE(jpeg.ok) << "frame " << i << ": " << jpeg.error;
                EXPECT_EQ(jpeg.warnings, 0);
                EXPECT_EQ(jpeg.width, w);
                EXPECT_EQ(jpeg.height, h);
                EXPECT_TRUE(jpeg.baseline);
                EXPECT_TRUE(jpeg.endsWithEoi);
                EXPECT_GE(jpeg.huffmanSegments, 1);
                EXPECT_GE(jpeg.quantSegments, 1);
                ASSERT_EQ(jpeg.components, 3);
                EXPECT_EQ(jpeg.hSampling[0], 2);  // 4:2:0
                EXPECT_EQ(jpeg.vSampling[0], 2);
                EXPECT_EQ(jpeg.hSampling[1], 1);
                EXPECT_EQ(jpeg.vSampling[1], 1);
                const double psnr = PsnrAgainst(FromDib(dib), jpeg.bgrx);
                EXPECT_GE(psnr, MinimumPsnr(w)) << "frame " << i;
                worst = std::min(worst, psnr);
            }
            RecordProperty("lowest_psnr_" + std::to_string(bits) + "_" + std::to_string(w),
                           std::to_string(worst));
            EXPECT_EQ(d.End(), ICERR_OK);
        }
    }
}

TEST(MjpgCodec, QualityTradesSizeForFidelity) {
    const PackedDib dib = ToDib(ScreenFrame(320, 240, 5), 32);
    const Picture source = FromDib(dib);
    CodecDriver d = MjpgDriver();
    ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
    size_t previousSize = 0;
    double previousPsnr = 0;
    for (DWORD quality : {0u, 2500u, 5000u, 7500u, 10000u}) {
        SCOPED_TRACE(quality);
        ASSERT_EQ(d.Compress(dib.bits(), quality), ICERR_OK);
        const JpegFacts jpeg = ReadJpeg(d.frame(), d.frameSize());
        ASSERT_TRUE(jpeg.ok);
        const double psnr = PsnrAgainst(source, jpeg.bgrx);
        EXPECT_GT(d.frameSize(), previousSize);
        EXPECT_GT(psnr, previousPsnr);
        previousSize = d.frameSize();
        previousPsnr = psnr;
    }
    // The default is 7500, and qualities past the top behave as the top.
    ASSERT_EQ(d.Compress(dib.bits(), 7500), ICERR_OK);
    const std::vector<std::uint8_t> at7500 = d.frameBytes();
    ASSERT_EQ(d.Compress(dib.bits(), ICQUALITY_DEFAULT), ICERR_OK);
    EXPECT_EQ(d.frameBytes(), at7500);
    ASSERT_EQ(d.Compress(dib.bits(), 10000), ICERR_OK);
    const std::vector<std::uint8_t> at10000 = d.frameBytes();
    ASSERT_EQ(d.Compress(dib.bits(), 20000), ICERR_OK);
    EXPECT_EQ(d.frameBytes(), at10000);
}

// Noise at the top quality is about the worst a picture can do; the frame
// must still fit the size the codec announced (the driver's buffer is exactly
// that size, so an overrun would also trip AddressSanitizer).
TEST(MjpgCodec, NoiseAtTopQualityFitsTheAnnouncedSize) {
    std::mt19937 random(7);
    for (auto [w, h] : {std::pair{64, 48}, std::pair{37, 23}}) {
        for (int bits : {24, 32}) {
            SCOPED_TRACE(testing::Message() << bits << " bits " << w << "x" << h);
            PackedDib dib = ToDib(ScreenFrame(w, h, 0), bits);
            for (size_t i = 0; i < dib.bitsSize(); ++i) {
                dib.bytes[dib.formatSize() + i] = static_cast<std::uint8_t>(random());
            }
            CodecDriver d = MjpgDriver();
            ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
            ASSERT_EQ(d.Compress(dib.bits(), 10000), ICERR_OK);
            EXPECT_LT(d.frameSize(), d.maxFrameSize());
            // Noise hardly compresses: it really is a worst case.
            EXPECT_GT(d.frameSize(), static_cast<size_t>(w) * h);
            EXPECT_TRUE(ReadJpeg(d.frame(), d.frameSize()).ok);
        }
    }
}

// The largest frame accepted needs about 300 MB of libjpeg working memory at
// begin; a 32-bit process may not have it. Either way: a code, no crash, and
// the compressor still works afterwards.
TEST(MjpgCodec, TheLargestFrameBeginsOrReportsMemory) {
    const BITMAPINFOHEADER huge = Header(10240, 10240, 32);
    CodecDriver d = MjpgDriver();
    BITMAPINFOHEADER out{};
    ASSERT_EQ(d.SendPointers(ICM_COMPRESS_GET_FORMAT, &huge, &out), ICERR_OK);
    const LRESULT r = d.SendPointers(ICM_COMPRESS_BEGIN, &huge, &out);
    EXPECT_TRUE(r == ICERR_OK || r == ICERR_MEMORY) << r;
    EXPECT_EQ(d.End(), ICERR_OK);

    const PackedDib dib = ToDib(ScreenFrame(64, 48, 0), 32);
    ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
    ASSERT_EQ(d.Compress(dib.bits()), ICERR_OK);
    EXPECT_TRUE(ReadJpeg(d.frame(), d.frameSize()).ok);
}

#if defined(__SANITIZE_ADDRESS__)
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
void CountAllocation(const volatile void*, std::size_t) {
    if (g_counting) {
        ++g_allocations;
    }
}
void IgnoreFree(const volatile void*) {}
#endif

// Every allocation of the process during the compress calls is counted,
// libjpeg's mallocs included; the first frames after begin and the frames
// that re-optimise the Huffman tables must allocate nothing either.
TEST(MjpgCodec, AllocatesNothingPerFrame) {
#if defined(__SANITIZE_ADDRESS__)
    ASSERT_NE(__sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree), 0);
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        std::vector<PackedDib> frames;
        for (int i = 0; i < 40; ++i) {
            frames.push_back(ToDib(ScreenFrame(320, 240, i), bits));
        }
        CodecDriver d = MjpgDriver();
        ASSERT_EQ(d.Begin(frames[0].header()), ICERR_OK);
        g_allocations = 0;
        g_counting = true;
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(d.Compress(frames[i].bits(), i < 20 ? 7500 : 3000), ICERR_OK);
        }
        g_counting = false;
        EXPECT_EQ(g_allocations.load(), 0);
        EXPECT_EQ(d.End(), ICERR_OK);
    }
#else
    GTEST_SKIP() << "needs AddressSanitizer's allocation hooks (host tree); "
                    "JpegWriter.ReusesItsMemory covers libjpeg's side here";
#endif
}

}  // namespace
}  // namespace kelvora::test
