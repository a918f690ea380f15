// The 'DIB ' compressor: frames pass through unchanged, in a format of the
// input's depth; everything the built-in compressors refuse is refused.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/dib.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {
namespace {

using namespace vfw;

CodecDriver DibDriver() {
    return CodecDriver(CreateDibCodec());
}

TEST(DibCodec, DescribesItself) {
    CodecDriver d = DibDriver();
    ICINFO info{};
    ASSERT_EQ(d.Send(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof(info)),
              static_cast<LRESULT>(sizeof(info)));
    EXPECT_EQ(info.dwSize, sizeof(ICINFO));
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, mmioFOURCC('D', 'I', 'B', ' '));
    EXPECT_EQ(info.dwFlags, VIDCF_QUALITY);
    EXPECT_EQ(info.dwVersionICM, 0x0104u);
    EXPECT_EQ(std::u16string(info.szName), u"DIB");
    EXPECT_EQ(std::u16string(info.szDescription), u"Uncompressed frames (full size)");
    EXPECT_EQ(d.Send(ICM_ABOUT, static_cast<DWORD_PTR>(-1), 1), ICERR_UNSUPPORTED);
    EXPECT_EQ(d.Send(ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), 1), ICERR_UNSUPPORTED);
}

// The input checks are the ones all built-in compressors share (dib.h);
// a few cases show they are applied, and outputs of another kind refused.
TEST(DibCodec, RefusesWhatItCannotCopy) {
    BITMAPINFOHEADER bitFields = Header(64, 48, 16);
    bitFields.biCompression = BI_BITFIELDS;
    for (const BITMAPINFOHEADER& in : {Header(64, 48, 4), Header(64, -48, 32), bitFields}) {
        CodecDriver d = DibDriver();
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_QUERY, &in, nullptr), ICERR_BADFORMAT);
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_GET_FORMAT, &in, nullptr), ICERR_BADFORMAT);
        EXPECT_EQ(d.SendPointers(ICM_COMPRESS_GET_SIZE, &in, nullptr), 0);
    }
    const BITMAPINFOHEADER in = Header(64, 48, 24);
    BITMAPINFOHEADER out = in;
    out.biBitCount = 32;
    EXPECT_EQ(DibDriver().SendPointers(ICM_COMPRESS_QUERY, &in, &out), ICERR_BADFORMAT);
    out = in;
    out.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    EXPECT_EQ(DibDriver().SendPointers(ICM_COMPRESS_QUERY, &in, &out), ICERR_BADFORMAT);
}

TEST(DibCodec, CopiesEveryDepthUnchanged) {
    constexpr int w = 173;
    constexpr int h = 97;
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        CodecDriver d = DibDriver();
        const PackedDib first = ToDib(ScreenFrame(w, h, 0), bits);
        ASSERT_EQ(d.Begin(first.header()), ICERR_OK);
        // The output format is the input's: same header fields, same
        // colour table for 8 bits, the image size filled in.
        ASSERT_EQ(d.outputFormat().size(), first.formatSize());
        const BITMAPINFOHEADER& out = d.output();
        EXPECT_EQ(out.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(out.biWidth, w);
        EXPECT_EQ(out.biHeight, h);
        EXPECT_EQ(out.biBitCount, bits);
        EXPECT_EQ(out.biCompression, BI_RGB);
        EXPECT_EQ(out.biSizeImage, first.bitsSize());
        EXPECT_EQ(d.maxFrameSize(), first.bitsSize());
        EXPECT_EQ(std::memcmp(d.outputFormat().data() + sizeof(BITMAPINFOHEADER),
                              first.bytes.data() + sizeof(BITMAPINFOHEADER),
                              first.formatSize() - sizeof(BITMAPINFOHEADER)),
                  0);
        for (int i = 0; i < 5; ++i) {
            const PackedDib dib = ToDib(ScreenFrame(w, h, i), bits);
            ASSERT_EQ(d.Compress(dib.bits(), 0, i == 2 ? ICCOMPRESS_KEYFRAME : 0), ICERR_OK);
            EXPECT_EQ(d.frameFlags(), AVIIF_KEYFRAME);
            EXPECT_EQ(d.frameBytes(),
                      std::vector<std::uint8_t>(dib.bits(), dib.bits() + dib.bitsSize()));
        }
        // A frame claiming another depth than the one begun is refused.
        const PackedDib other = ToDib(ScreenFrame(w, h, 0), bits == 32 ? 24 : 32);
        EXPECT_EQ(d.Compress(other.bits(), 0, 0, other.header()), ICERR_BADFORMAT);
        EXPECT_EQ(d.End(), ICERR_OK);
        EXPECT_EQ(d.Compress(first.bits()), ICERR_BADPARAM);  // ended
    }
}

// A short colour table and a longer header (as a BITMAPV4HEADER has) still
// give a 40-byte header followed by exactly the colours the input has.
TEST(DibCodec, KeepsAShortColourTableBehindALongHeader) {
    constexpr DWORD kColors = 16;
    constexpr DWORD kLongHeader = 108;
    std::vector<std::uint8_t> in(kLongHeader + kColors * sizeof(RGBQUAD));
    BITMAPINFOHEADER h = Header(33, 21, 8);
    h.biSize = kLongHeader;
    h.biClrUsed = kColors;
    h.biClrImportant = 40;  // more than there are: clamped
    std::memcpy(in.data(), &h, sizeof(h));
    for (DWORD i = 0; i < kColors * sizeof(RGBQUAD); ++i) {
        in[kLongHeader + i] = static_cast<std::uint8_t>(7 * i + 1);
    }
    CodecDriver d = DibDriver();
    ASSERT_EQ(d.Begin(reinterpret_cast<const BITMAPINFOHEADER*>(in.data())), ICERR_OK);
    ASSERT_EQ(d.outputFormat().size(), sizeof(BITMAPINFOHEADER) + kColors * sizeof(RGBQUAD));
    EXPECT_EQ(d.output().biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(d.output().biClrUsed, kColors);
    EXPECT_EQ(d.output().biClrImportant, kColors);
    EXPECT_EQ(std::memcmp(d.outputFormat().data() + sizeof(BITMAPINFOHEADER),
                          in.data() + kLongHeader, kColors * sizeof(RGBQUAD)),
              0);
    std::vector<std::uint8_t> bits(DibRowBytes(33, 8) * 21, 5);
    ASSERT_EQ(d.Compress(bits.data()), ICERR_OK);
    EXPECT_EQ(d.frameBytes(), bits);
}

}  // namespace
}  // namespace kelvora::test
