// The 'MSVC' compressor behind its messages: what it says about itself, the
// formats it takes and refuses, messages out of order, key-frame flags,
// quality, and no allocation per frame.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/codecs/builtin.h"
#include "engine/vfw/dib.h"
#include "tests/engine/vfw/codecs/msvc_test_decoder.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/synthetic_clip.h"

namespace vfw {
namespace {

using kelvora::test::MsvcBlockKind;
using kelvora::test::MsvcDecoder;
using kelvora::test::PackedDib;

constexpr FOURCC kMsvc = mmioFOURCC('M', 'S', 'V', 'C');

DWORD_PTR P(const void* p) {
    return reinterpret_cast<DWORD_PTR>(p);
}

std::u16string Text(const WCHAR* s) {
    return std::u16string(s);
}

BITMAPINFOHEADER Header(LONG w, LONG h, WORD bits) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = bits;
    bi.biCompression = BI_RGB;
    bi.biSizeImage =
        static_cast<DWORD>(DibRowBytes(w, bits) * static_cast<std::uint64_t>(h < 0 ? -h : h));
    return bi;
}

// One codec instance with its output format and buffer for `input`.
struct Session {
    std::unique_ptr<Codec> codec = CreateMsvcCodec();
    std::vector<std::uint8_t> format;  // output format: header and colour table
    BITMAPINFOHEADER* out = nullptr;   // into `format`
    std::vector<std::uint8_t> buffer;
    DWORD flags = 0;

    // Begins with the codec's own output format for `input`, or with
    // `wanted` when given.
    LRESULT Begin(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* wanted = nullptr) {
        const LRESULT size = codec->Message(ICM_COMPRESS_GET_FORMAT, P(input), 0);
        if (size < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER))) {
            return size;
        }
        format.assign(static_cast<size_t>(size), 0);
        out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
        const LRESULT r = codec->Message(ICM_COMPRESS_GET_FORMAT, P(input), P(out));
        if (r != ICERR_OK) {
            return r;
        }
        if (wanted != nullptr) {
            *out = *wanted;
        }
        buffer.assign(static_cast<size_t>(codec->Message(ICM_COMPRESS_GET_SIZE, P(input), P(out))),
                      0);
        return codec->Message(ICM_COMPRESS_BEGIN, P(input), P(out));
    }
    LRESULT Compress(const PackedDib& dib, DWORD icFlags, DWORD quality = ICQUALITY_DEFAULT) {
        ICCOMPRESS c{};
        c.dwFlags = icFlags;
        c.lpbiOutput = out;
        c.lpOutput = buffer.data();
        c.lpbiInput = const_cast<BITMAPINFOHEADER*>(dib.header());
        c.lpInput = const_cast<std::uint8_t*>(dib.bits());
        c.lpdwFlags = &flags;
        c.dwQuality = quality;
        flags = 0xDEAD;
        return codec->Message(ICM_COMPRESS, P(&c), sizeof c);
    }
    std::vector<std::uint8_t> Output() const {
        return {buffer.begin(), buffer.begin() + out->biSizeImage};
    }
};

TEST(MsvcCodec, DescribesItself) {
    const std::unique_ptr<Codec> codec = CreateMsvcCodec();
    ICINFO info{};
    ASSERT_EQ(codec->Message(ICM_GETINFO, P(&info), sizeof info),
              static_cast<LRESULT>(sizeof(ICINFO)));
    EXPECT_EQ(info.dwSize, sizeof(ICINFO));
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, kMsvc);
    EXPECT_EQ(info.dwFlags, VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC);
    EXPECT_EQ(info.dwVersionICM, 0x0104u);
    EXPECT_EQ(Text(info.szName), u"MS Video Codec");
    EXPECT_EQ(Text(info.szDescription), u"Microsoft Video 1");
    EXPECT_EQ(Text(info.szDriver), u"");

    // A short buffer gets only what fits.
    DWORD head[3] = {0, 0, 0xABCD};
    EXPECT_EQ(codec->Message(ICM_GETINFO, P(head), 8), 8);
    EXPECT_EQ(head[0], sizeof(ICINFO));
    EXPECT_EQ(head[2], 0xABCDu);

    // An about box, no configuration dialog.
    EXPECT_EQ(codec->Message(ICM_ABOUT, static_cast<DWORD_PTR>(-1), 1), ICERR_OK);
    EXPECT_EQ(codec->Message(ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), 1), ICERR_UNSUPPORTED);
    DWORD quality = 0;
    EXPECT_EQ(codec->Message(ICM_GETDEFAULTQUALITY, P(&quality), 0), ICERR_OK);
    EXPECT_EQ(quality, 7500u);
}

TEST(MsvcCodec, AboutBoxShowsItsText) {
    static std::string shown;
    static std::u16string title;
    static const CodecDialogs dialogs = {[](void*, const ICINFO& info, const char* text) {
                                             title = info.szDescription;
                                             shown = text != nullptr ? text : "";
                                         },
                                         nullptr};
    SetCodecDialogs(&dialogs);
    const std::unique_ptr<Codec> codec = CreateMsvcCodec();
    EXPECT_EQ(codec->Message(ICM_ABOUT, 0x1234, 0), ICERR_OK);
    SetCodecDialogs(nullptr);
    EXPECT_EQ(title, u"Microsoft Video 1");
    EXPECT_NE(shown.find("Microsoft Video 1"), std::string::npos) << shown;
}

TEST(MsvcCodec, TakesFourDepthsInMultiplesOfFourAndRefusesTheRest) {
    struct Case {
        const char* name;
        BITMAPINFOHEADER bi;
        bool accepted;
    };
    const auto with = [](BITMAPINFOHEADER bi, auto change) {
        change(bi);
        return bi;
    };
    const BITMAPINFOHEADER base = Header(320, 240, 32);
    std::vector<Case> cases = {
        {"32 bits", base, true},
        {"24 bits", Header(320, 240, 24), true},
        {"16 bits", Header(320, 240, 16), true},
        {"8 bits", with(Header(320, 240, 8), [](auto& b) { b.biClrUsed = 256; }), true},
        {"8 bits, colour count 0", Header(320, 240, 8), true},
        {"smallest", Header(4, 4, 32), true},
        {"304 x 300", Header(304, 300, 32), true},
        {"301 x 299", Header(301, 299, 32), false},
        {"302 x 300", Header(302, 300, 32), false},
        {"width not a multiple of 4", Header(318, 240, 24), false},
        {"height not a multiple of 4", Header(320, 242, 16), false},
        {"1 bit", Header(320, 240, 1), false},
        {"4 bits", Header(320, 240, 4), false},
        {"BI_BITFIELDS", with(base, [](auto& b) { b.biCompression = BI_BITFIELDS; }), false},
        {"BI_RLE8", with(Header(320, 240, 8), [](auto& b) { b.biCompression = BI_RLE8; }), false},
        {"top-down", Header(320, -240, 32), false},
        {"zero width", Header(0, 240, 32), false},
        {"zero height", Header(320, 0, 32), false},
        {"negative width", Header(-320, 240, 32), false},
        {"two planes", with(base, [](auto& b) { b.biPlanes = 2; }), false},
        {"short header", with(base, [](auto& b) { b.biSize = 12; }), false},
        {"oversized", Header(16388, 4, 32), false},
        {"more than 256 colours", with(Header(320, 240, 8), [](auto& b) { b.biClrUsed = 300; }),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The header with room for a full colour table after it, as formats come.
        std::vector<std::uint8_t> format(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0x55);
        std::memcpy(format.data(), &c.bi, sizeof c.bi);
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
        const std::unique_ptr<Codec> codec = CreateMsvcCodec();
        const LRESULT expected = c.accepted ? ICERR_OK : ICERR_BADFORMAT;
        EXPECT_EQ(codec->Message(ICM_COMPRESS_QUERY, P(in), 0), expected);
        std::vector<std::uint8_t> outFormat(format.size(), 0);
        auto* out = reinterpret_cast<BITMAPINFOHEADER*>(outFormat.data());
        EXPECT_EQ(codec->Message(ICM_COMPRESS_GET_FORMAT, P(in), P(out)), expected);
        EXPECT_EQ(codec->Message(ICM_COMPRESS_BEGIN, P(in), P(out)), expected);
        if (!c.accepted) {
            EXPECT_EQ(codec->Message(ICM_COMPRESS_GET_SIZE, P(in), 0), 0);
        }
    }
}

TEST(MsvcCodec, OutputFormat) {
    const std::unique_ptr<Codec> codec = CreateMsvcCodec();
    const BITMAPINFOHEADER in = Header(320, 240, 24);
    EXPECT_EQ(codec->Message(ICM_COMPRESS_GET_FORMAT, P(&in), 0),
              static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)));
    BITMAPINFOHEADER out{};
    ASSERT_EQ(codec->Message(ICM_COMPRESS_GET_FORMAT, P(&in), P(&out)), ICERR_OK);
    EXPECT_EQ(out.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(out.biWidth, 320);
    EXPECT_EQ(out.biHeight, 240);
    EXPECT_EQ(out.biPlanes, 1);
    EXPECT_EQ(out.biBitCount, 16);
    EXPECT_EQ(out.biCompression, kMsvc);
    EXPECT_EQ(out.biClrUsed, 0u);
    // 18 bytes a block at most, plus the end word.
    const LRESULT max = codec->Message(ICM_COMPRESS_GET_SIZE, P(&in), P(&out));
    EXPECT_EQ(max, 80 * 60 * 18 + 2);
    EXPECT_EQ(out.biSizeImage, static_cast<DWORD>(max));
    EXPECT_EQ(codec->Message(ICM_COMPRESS_QUERY, P(&in), P(&out)), ICERR_OK);

    // Output formats it does not write.
    struct Bad {
        const char* name;
        void (*change)(BITMAPINFOHEADER&);
    };
    const Bad bad[] = {
        {"8-bit output", [](BITMAPINFOHEADER& b) { b.biBitCount = 8; }},
        {"other compressor",
         [](BITMAPINFOHEADER& b) { b.biCompression = mmioFOURCC('Z', 'M', 'B', 'V'); }},
        {"other width", [](BITMAPINFOHEADER& b) { b.biWidth = 324; }},
        {"flipped", [](BITMAPINFOHEADER& b) { b.biHeight = -240; }},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        BITMAPINFOHEADER o = out;
        b.change(o);
        EXPECT_EQ(codec->Message(ICM_COMPRESS_QUERY, P(&in), P(&o)), ICERR_BADFORMAT);
        EXPECT_EQ(codec->Message(ICM_COMPRESS_BEGIN, P(&in), P(&o)), ICERR_BADFORMAT);
    }
}

// 8-bit input keeps its palette and is written at 8 bits, unless the caller
// asks for the 16-bit stream.
TEST(MsvcCodec, PalettisedOutputForEightBitInput) {
    const PackedDib dib = kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 1), 8);
    const std::unique_ptr<Codec> codec = CreateMsvcCodec();
    const LRESULT size = codec->Message(ICM_COMPRESS_GET_FORMAT, P(dib.header()), 0);
    ASSERT_EQ(size, static_cast<LRESULT>(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)));
    std::vector<std::uint8_t> format(static_cast<size_t>(size) + 16, 0xEE);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    ASSERT_EQ(codec->Message(ICM_COMPRESS_GET_FORMAT, P(dib.header()), P(out)), ICERR_OK);
    EXPECT_EQ(out->biBitCount, 8);
    EXPECT_EQ(out->biCompression, kMsvc);
    EXPECT_EQ(out->biClrUsed, 256u);
    EXPECT_EQ(std::memcmp(format.data() + sizeof(BITMAPINFOHEADER), dib.bytes.data() + 40, 1024),
              0);
    EXPECT_EQ(format[static_cast<size_t>(size)], 0xEE) << "wrote past the format";
    EXPECT_EQ(codec->Message(ICM_COMPRESS_QUERY, P(dib.header()), P(out)), ICERR_OK);

    // An 8-bit output for other input is refused; 16 bits for 8-bit input is fine.
    const PackedDib rgb = kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 1), 24);
    EXPECT_EQ(codec->Message(ICM_COMPRESS_QUERY, P(rgb.header()), P(out)), ICERR_BADFORMAT);
    BITMAPINFOHEADER wide = *out;
    wide.biBitCount = 16;
    wide.biClrUsed = 0;
    Session run;
    ASSERT_EQ(run.Begin(dib.header(), &wide), ICERR_OK);
    ASSERT_EQ(run.Compress(dib, 0), ICERR_OK);
    MsvcDecoder dec(64, 48);
    const std::vector<std::uint8_t> bytes = run.Output();
    ASSERT_TRUE(dec.Decode(bytes.data(), bytes.size())) << dec.error;
    EXPECT_EQ(dec.kinds.size(), 16u * 12u);
}

// The largest accepted picture needs about 1.9 GB of buffers: a 32-bit
// process gets ICERR_MEMORY (or, with the room, a working begin), and the
// codec stays usable either way.
TEST(MsvcCodec, LargestPictureBeginsOrReportsMemory) {
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "only a 32-bit process runs out of address space here";
    }
    const BITMAPINFOHEADER huge = Header(16384, 16384, 32);
    Session run;
    BITMAPINFOHEADER out{};
    ASSERT_EQ(run.codec->Message(ICM_COMPRESS_GET_FORMAT, P(&huge), P(&out)), ICERR_OK);
    const LRESULT r = run.codec->Message(ICM_COMPRESS_BEGIN, P(&huge), P(&out));
    EXPECT_TRUE(r == ICERR_OK || r == ICERR_MEMORY) << r;
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS_END, 0, 0), ICERR_OK);
    const PackedDib dib = kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 0), 32);
    ASSERT_EQ(run.Begin(dib.header()), ICERR_OK);
    EXPECT_EQ(run.Compress(dib, 0), ICERR_OK);
    EXPECT_EQ(run.flags, AVIIF_KEYFRAME);
}

TEST(MsvcCodec, MessagesOutOfOrderAreRefused) {
    const PackedDib dib = kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 0), 32);
    Session run;
    // Compress before begin, end before begin.
    BITMAPINFOHEADER out{};
    ASSERT_EQ(run.codec->Message(ICM_COMPRESS_GET_FORMAT, P(dib.header()), P(&out)), ICERR_OK);
    run.format.assign(reinterpret_cast<const std::uint8_t*>(&out),
                      reinterpret_cast<const std::uint8_t*>(&out + 1));
    run.out = reinterpret_cast<BITMAPINFOHEADER*>(run.format.data());
    run.buffer.assign(1 << 16, 0);
    EXPECT_NE(run.Compress(dib, 0), ICERR_OK);
    EXPECT_EQ(run.flags, 0xDEADu) << "a refused frame reports nothing";
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS_END, 0, 0), ICERR_OK);
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS_BEGIN, 0, P(&out)), ICERR_BADPARAM);

    ASSERT_EQ(run.Begin(dib.header()), ICERR_OK);
    // Missing pointers and a short record.
    ICCOMPRESS c{};
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS, P(&c), sizeof c), ICERR_BADPARAM);
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS, 0, sizeof c), ICERR_BADPARAM);
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS, P(&c), 8), ICERR_BADPARAM);
    // A frame of another size than the run began with.
    const PackedDib other = kelvora::test::ToDib(kelvora::test::ScreenFrame(68, 48, 0), 32);
    EXPECT_EQ(run.Compress(other, 0), ICERR_BADFORMAT);
    EXPECT_EQ(run.Compress(kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 0), 24), 0),
              ICERR_BADFORMAT);
    EXPECT_EQ(run.Compress(dib, 0), ICERR_OK);
    EXPECT_EQ(run.flags, AVIIF_KEYFRAME);
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS_END, 0, 0), ICERR_OK);
    EXPECT_NE(run.Compress(dib, 0), ICERR_OK);
    EXPECT_EQ(run.codec->Message(ICM_COMPRESS_END, 0, 0), ICERR_OK);
}

// Key frames: the first after begin and every one asked for; the rest are
// delta frames whose stream skips what did not change.
TEST(MsvcCodec, KeyFramesWhenDueAndDeltaFramesOtherwise) {
    for (const int depth : {8, 16, 24, 32}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        Session run;
        const PackedDib first =
            kelvora::test::ToDib(kelvora::test::ScreenFrame(160, 120, 0), depth);
        ASSERT_EQ(run.Begin(first.header()), ICERR_OK);
        // 8-bit input is written palettised.
        MsvcDecoder dec(160, 120, depth == 8);
        const DWORD asked[] = {0, 0, ICCOMPRESS_KEYFRAME, 0, 0, ICCOMPRESS_KEYFRAME, 0};
        for (int i = 0; i < 7; ++i) {
            const PackedDib dib =
                kelvora::test::ToDib(kelvora::test::ScreenFrame(160, 120, i), depth);
            ASSERT_EQ(run.Compress(dib, asked[i]), ICERR_OK);
            const bool key = i == 0 || asked[i] != 0;
            EXPECT_EQ(run.flags, key ? AVIIF_KEYFRAME : 0u) << "frame " << i;
            EXPECT_LE(run.out->biSizeImage, run.buffer.size());
            const std::vector<std::uint8_t> bytes = run.Output();
            ASSERT_TRUE(dec.Decode(bytes.data(), bytes.size())) << dec.error;
            EXPECT_EQ(dec.skipRuns.empty(), key) << "frame " << i;
        }
        // A new begin starts with a key frame again.
        ASSERT_EQ(run.codec->Message(ICM_COMPRESS_BEGIN, P(first.header()), P(run.out)), ICERR_OK);
        ASSERT_EQ(run.Compress(first, 0), ICERR_OK);
        EXPECT_EQ(run.flags, AVIIF_KEYFRAME);
    }
}

TEST(MsvcCodec, QualitySteersSize) {
    const PackedDib dib = kelvora::test::ToDib(kelvora::test::ScreenFrame(320, 240, 5), 32);
    const auto keySize = [&](DWORD quality) {
        Session run;
        EXPECT_EQ(run.Begin(dib.header()), ICERR_OK);
        EXPECT_EQ(run.Compress(dib, ICCOMPRESS_KEYFRAME, quality), ICERR_OK);
        return run.Output();
    };
    const auto best = keySize(10000);
    EXPECT_EQ(keySize(20000), best) << "above 10000 counts as 10000";
    EXPECT_EQ(keySize(ICQUALITY_DEFAULT), keySize(7500));
    EXPECT_LT(keySize(0).size(), keySize(5000).size());
    EXPECT_LT(keySize(5000).size(), best.size());
}

TEST(MsvcCodec, NoAllocationPerFrame) {
    for (const int depth : {8, 32}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        std::vector<PackedDib> frames;
        for (int i = 0; i < 20; ++i) {
            frames.push_back(kelvora::test::ToDib(kelvora::test::ScreenFrame(160, 120, i), depth));
        }
        Session run;
        ASSERT_EQ(run.Begin(frames[0].header()), ICERR_OK);
        kelvora::test::StartCountingAllocations();
        bool ok = true;
        for (int i = 0; i < 20; ++i) {
            ok &= run.Compress(frames[static_cast<size_t>(i)], i % 7 == 0 ? ICCOMPRESS_KEYFRAME : 0,
                               i < 10 ? 7500 : 9000) == ICERR_OK;
        }
        EXPECT_EQ(kelvora::test::StopCountingAllocations(), 0);
        EXPECT_TRUE(ok);
    }
}

}  // namespace
}  // namespace vfw
