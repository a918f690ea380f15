// The 'ZMBV' compressor through its messages: formats it takes and refuses,
// the frame layout and zlib stream, key-frame rules, bad values, its dialog
// setting, the motion hints and allocation-free frames.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "engine/vfw/codecs/zmbv_encoder.h"
#include "engine/vfw/dib.h"
#include "tests/engine/vfw/codecs/zmbv_session.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {
namespace {

using vfw::BITMAPINFOHEADER;

PackedDib Frame(int bits, int index, int width = 64, int height = 48) {
    return ToDib(ScreenFrame(width, height, index), bits);
}

// Inflates the zlib data of consecutive frames of one stream.
class Inflater {
  public:
    Inflater() { EXPECT_EQ(inflateInit(&z_), Z_OK); }
    ~Inflater() { inflateEnd(&z_); }
    // Inflates `size` bytes; returns what they hold.
    std::vector<std::uint8_t> Next(const std::uint8_t* data, size_t size) {
        std::vector<std::uint8_t> out(1 << 20);
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(size);
        z_.next_out = out.data();
        z_.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(inflate(&z_, Z_SYNC_FLUSH), Z_OK);
        EXPECT_EQ(z_.avail_in, 0u);
        out.resize(out.size() - z_.avail_out);
        return out;
    }

  private:
    z_stream z_{};
};

bool EndsWithSyncFlush(const std::vector<std::uint8_t>& d) {
    static const std::uint8_t tail[] = {0x00, 0x00, 0xFF, 0xFF};
    return d.size() >= 4 && std::memcmp(d.data() + d.size() - 4, tail, 4) == 0;
}

TEST(ZmbvCodec, DescribesItself) {
    auto codec = vfw::CreateZmbvCodec();
    vfw::ICINFO info{};
    ASSERT_EQ(codec->Message(vfw::ICM_GETINFO, P(&info), sizeof(info)),
              static_cast<vfw::LRESULT>(sizeof(info)));
    EXPECT_EQ(info.dwSize, sizeof(info));
    EXPECT_EQ(info.fccType, vfw::ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, vfw::mmioFOURCC('Z', 'M', 'B', 'V'));
    EXPECT_EQ(info.dwFlags, vfw::VIDCF_QUALITY | vfw::VIDCF_TEMPORAL | vfw::VIDCF_FASTTEMPORALC);
    EXPECT_EQ(info.dwVersionICM, 0x0104u);
    EXPECT_EQ(std::u16string(info.szName), u"ZMBV");
    EXPECT_EQ(std::u16string(info.szDescription), u"Zip Motion Blocks Video (lossless)");
    EXPECT_EQ(info.szDriver[0], 0);
}

TEST(ZmbvCodec, RefusesFormatsItCannotTake) {
    struct Case {
        const char* what;
        void (*change)(BITMAPINFOHEADER*);
    };
    const Case cases[] = {
        {"1 bit", [](BITMAPINFOHEADER* b) { b->biBitCount = 1; }},
        {"4 bits", [](BITMAPINFOHEADER* b) { b->biBitCount = 4; }},
        {"0 bits", [](BITMAPINFOHEADER* b) { b->biBitCount = 0; }},
        {"bit fields", [](BITMAPINFOHEADER* b) { b->biCompression = vfw::BI_BITFIELDS; }},
        {"RLE", [](BITMAPINFOHEADER* b) { b->biCompression = vfw::BI_RLE8; }},
        {"top-down", [](BITMAPINFOHEADER* b) { b->biHeight = -b->biHeight; }},
        {"no width", [](BITMAPINFOHEADER* b) { b->biWidth = 0; }},
        {"no height", [](BITMAPINFOHEADER* b) { b->biHeight = 0; }},
        {"two planes", [](BITMAPINFOHEADER* b) { b->biPlanes = 2; }},
        {"too wide", [](BITMAPINFOHEADER* b) { b->biWidth = vfw::kMaxDibDimension + 1; }},
        {"short header", [](BITMAPINFOHEADER* b) { b->biSize = 12; }},
    };
    auto codec = vfw::CreateZmbvCodec();
    for (const Case& c : cases) {
        PackedDib dib = Frame(32, 0);
        c.change(dib.header());
        std::vector<std::uint8_t> out(2048);
        EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_QUERY, P(dib.header()), 0), vfw::ICERR_BADFORMAT)
            << c.what;
        EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_GET_FORMAT, P(dib.header()), 0),
                  vfw::ICERR_BADFORMAT)
            << c.what;
        EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_GET_SIZE, P(dib.header()), 0), 0) << c.what;
        EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_BEGIN, P(dib.header()), P(out.data())),
                  vfw::ICERR_BADFORMAT)
            << c.what;
    }
    PackedDib pal = Frame(8, 0);
    pal.header()->biClrUsed = 257;
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_QUERY, P(pal.header()), 0), vfw::ICERR_BADFORMAT);
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_QUERY, 0, 0), vfw::ICERR_BADPARAM);
}

TEST(ZmbvCodec, WritesEightSixteenOrThirtyTwoBits) {
    const int outBits[][2] = {{8, 8}, {16, 16}, {24, 32}, {32, 32}};
    for (const auto& [inBits, bits] : outBits) {
        // An odd size: the format takes any.
        const PackedDib dib = Frame(inBits, 0, 37, 5);
        ZmbvSession s(dib.header());
        ASSERT_TRUE(s.ok()) << inBits;
        const BITMAPINFOHEADER* out = s.out();
        EXPECT_EQ(out->biCompression, vfw::mmioFOURCC('Z', 'M', 'B', 'V'));
        EXPECT_EQ(out->biBitCount, bits);
        EXPECT_EQ(out->biWidth, 37);
        EXPECT_EQ(out->biHeight, 5);
        EXPECT_EQ(out->biPlanes, 1);
        if (bits == 8) {
            ASSERT_EQ(s.format().size(), sizeof(BITMAPINFOHEADER) + 1024);
            EXPECT_EQ(out->biClrUsed, 256u);
            EXPECT_EQ(std::memcmp(s.format().data() + 40, dib.bytes.data() + 40, 1024), 0);
        } else {
            EXPECT_EQ(s.format().size(), sizeof(BITMAPINFOHEADER));
        }
        EXPECT_EQ(s.codec().Message(vfw::ICM_COMPRESS_QUERY, P(dib.header()), P(out)),
                  vfw::ICERR_OK);
        // An output format of another depth or size is not this compressor's.
        BITMAPINFOHEADER other = *out;
        other.biBitCount = 24;
        EXPECT_EQ(s.codec().Message(vfw::ICM_COMPRESS_QUERY, P(dib.header()), P(&other)),
                  vfw::ICERR_BADFORMAT);
        other = *out;
        other.biWidth += 1;
        EXPECT_EQ(s.codec().Message(vfw::ICM_COMPRESS_QUERY, P(dib.header()), P(&other)),
                  vfw::ICERR_BADFORMAT);
    }
}

// Key frames carry the header, palette and all pixels top row first; every
// frame ends on a sync flush; unchanged pictures cost only the block table.
TEST(ZmbvCodec, FramesFormOneZlibStreamResetAtKeyFrames) {
    const int width = 37, height = 20;  // 3 x 2 blocks, the last ones clipped
    const PackedDib a = Frame(24, 0, width, height);
    ZmbvSession s(a.header());
    ASSERT_TRUE(s.ok());
    Inflater z;

    ZmbvPacket p;
    ASSERT_EQ(s.Compress(a.bits(), false, &p), vfw::ICERR_OK);
    ASSERT_TRUE(p.key);  // the first frame after begin
    ASSERT_GT(p.data.size(), 9u);
    const std::uint8_t header[] = {1, 0, 1, 1, 8, 16, 16};  // key, 0.1, zlib, 32 bits, 16x16
    EXPECT_EQ(std::memcmp(p.data.data(), header, 7), 0);
    EXPECT_TRUE(EndsWithSyncFlush(p.data));
    std::vector<std::uint8_t> pixels = z.Next(p.data.data() + 7, p.data.size() - 7);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(width) * height * 4);
    const Picture pic = ScreenFrame(width, height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t v;
            std::memcpy(&v, pixels.data() + (static_cast<size_t>(y) * width + x) * 4, 4);
            ASSERT_EQ(v, pic.at(x, y)) << x << "," << y;  // B, G, R, 0
        }
    }

    // The same picture again: a delta frame of an all-zero table (6 blocks,
    // 12 bytes, padded to 12).
    ASSERT_EQ(s.Compress(a.bits(), false, &p), vfw::ICERR_OK);
    EXPECT_FALSE(p.key);
    EXPECT_EQ(p.data[0], 0);
    EXPECT_TRUE(EndsWithSyncFlush(p.data));
    EXPECT_EQ(z.Next(p.data.data() + 1, p.data.size() - 1), std::vector<std::uint8_t>(12, 0));

    // One pixel changed in the last block: its entry is flagged and its 5 x 4
    // clipped pixels follow, XORed with the old ones.
    PackedDib b = a;
    b.bytes[b.formatSize() + 3 * 36] ^= 0x5A;  // the DIB's first row is the bottom one
    ASSERT_EQ(s.Compress(b.bits(), false, &p), vfw::ICERR_OK);
    const std::vector<std::uint8_t> delta = z.Next(p.data.data() + 1, p.data.size() - 1);
    ASSERT_EQ(delta.size(), 12u + 5 * 4 * 4);
    EXPECT_EQ(delta[10], 1);  // block 5: no displacement, XOR data
    EXPECT_EQ(delta[11], 0);
    std::vector<std::uint8_t> xorData(5 * 4 * 4, 0);
    xorData[(3 * 5 + 4) * 4] = 0x5A;  // block row 3, column 4, blue
    EXPECT_EQ(std::vector<std::uint8_t>(delta.begin() + 12, delta.end()), xorData);

    // Asked for, a key frame starts a new zlib stream.
    ASSERT_EQ(s.Compress(b.bits(), true, &p), vfw::ICERR_OK);
    EXPECT_TRUE(p.key);
    EXPECT_EQ(p.data[0], 1);
    EXPECT_EQ((p.data[7] * 256 + p.data[8]) % 31, 0);  // zlib header check bits
    EXPECT_EQ(p.data[7] & 0x0F, Z_DEFLATED);
}

TEST(ZmbvCodec, AnswersBadCallsWithErrorsAndKeepsItsStream) {
    const PackedDib dib = Frame(32, 0);
    auto codec = vfw::CreateZmbvCodec();
    vfw::ICCOMPRESS c{};
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS, P(&c), sizeof(c)), vfw::ICERR_BADPARAM);
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_END, 0, 0), vfw::ICERR_OK);

    ZmbvSession s(dib.header());
    ASSERT_TRUE(s.ok());
    ZmbvPacket p;
    ASSERT_EQ(s.Compress(dib.bits(), false, &p), vfw::ICERR_OK);
    EXPECT_EQ(s.Compress(dib.bits(), false, &p, 10001), vfw::ICERR_BADPARAM);
    // A refused frame changes nothing: the next one still is a delta frame.
    ASSERT_EQ(s.Compress(dib.bits(), false, &p, 0), vfw::ICERR_OK);
    EXPECT_FALSE(p.key);

    // A frame of another format than the session's is refused.
    PackedDib wider = Frame(32, 0, 65, 48);
    vfw::BITMAPINFOHEADER outFrame = *s.out();
    std::vector<std::uint8_t> buffer(1 << 16);
    c = {};
    c.lpbiOutput = &outFrame;
    c.lpOutput = buffer.data();
    c.lpbiInput = wider.header();
    c.lpInput = wider.bytes.data() + wider.formatSize();
    c.dwQuality = vfw::ICQUALITY_DEFAULT;
    EXPECT_EQ(s.codec().Message(vfw::ICM_COMPRESS, P(&c), sizeof(c)), vfw::ICERR_BADFORMAT);

    // A second begin starts over with a key frame.
    ASSERT_EQ(s.codec().Message(vfw::ICM_COMPRESS_BEGIN, P(dib.header()), P(s.out())),
              vfw::ICERR_OK);
    ASSERT_EQ(s.Compress(dib.bits(), false, &p), vfw::ICERR_OK);
    EXPECT_TRUE(p.key);
}

// A frame that does not fit is refused, and the next frame is a key frame:
// a decoder never sees a delta frame built on a frame it did not get.
TEST(ZmbvCodec, FrameThatDoesNotFitForcesAKeyFrame) {
    const PackedDib a = Frame(32, 0), b = Frame(32, 1);
    vfw::zmbv::Encoder enc;
    ASSERT_EQ(enc.Begin(*a.header(), {}), vfw::zmbv::Status::kOk);
    std::vector<std::uint8_t> out(vfw::zmbv::Encoder::MaxFrameBytes(*a.header()));
    size_t size = 0;
    bool key = false;
    ASSERT_EQ(enc.Encode(a.bits(), false, out.data(), out.size(), &size, &key),
              vfw::zmbv::Status::kOk);
    EXPECT_EQ(enc.Encode(b.bits(), false, out.data(), 20, &size, &key),
              vfw::zmbv::Status::kOutputTooSmall);
    ASSERT_EQ(enc.Encode(b.bits(), false, out.data(), out.size(), &size, &key),
              vfw::zmbv::Status::kOk);
    EXPECT_TRUE(key);
    enc.End();
    EXPECT_EQ(enc.Encode(b.bits(), false, out.data(), out.size(), &size, &key),
              vfw::zmbv::Status::kNotStarted);
}

// The largest frames take three buffers of 1 GiB: a 32-bit process cannot
// have them all, and the compressor says so instead of failing later.
TEST(ZmbvCodec, LargestFramesFailCleanlyWithoutMemory) {
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "a 64-bit process would get the memory";
    }
    BITMAPINFOHEADER in{};
    in.biSize = sizeof(in);
    in.biWidth = in.biHeight = vfw::kMaxDibDimension;
    in.biPlanes = 1;
    in.biBitCount = 32;
    auto codec = vfw::CreateZmbvCodec();
    BITMAPINFOHEADER out{};
    ASSERT_EQ(codec->Message(vfw::ICM_COMPRESS_GET_FORMAT, P(&in), P(&out)), vfw::ICERR_OK);
    EXPECT_GT(codec->Message(vfw::ICM_COMPRESS_GET_SIZE, P(&in), P(&out)), 1 << 30);
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS_BEGIN, P(&in), P(&out)), vfw::ICERR_MEMORY);
    vfw::ICCOMPRESS c{};
    EXPECT_EQ(codec->Message(vfw::ICM_COMPRESS, P(&c), sizeof(c)), vfw::ICERR_BADPARAM);
    // Memory comes back: a normal session begins afterwards.
    const PackedDib dib = Frame(32, 0);
    ZmbvSession s(dib.header());
    EXPECT_TRUE(s.ok());
}

// Dialog hooks that answer as a user would.
int g_choice = 0;
int g_offered = -1;
std::string g_about;
const vfw::CodecDialogs kDialogs = {
    [](void*, const vfw::ICINFO&, const char* text) { g_about = text; },
    [](void*, const vfw::ICINFO&, const char* const* labels, int count, int current) {
        for (int i = 0; i < count; ++i) {
            EXPECT_NE(labels[i], nullptr);
        }
        g_offered = current;
        return g_choice;
    },
};

TEST(ZmbvCodec, DialogLevelIsSharedAndTradesSpeedForSize) {
    auto first = vfw::CreateZmbvCodec();
    auto second = vfw::CreateZmbvCodec();
    EXPECT_EQ(first->Message(vfw::ICM_ABOUT, static_cast<vfw::DWORD_PTR>(-1), 1), vfw::ICERR_OK);
    EXPECT_EQ(first->Message(vfw::ICM_CONFIGURE, static_cast<vfw::DWORD_PTR>(-1), 1),
              vfw::ICERR_OK);
    vfw::SetCodecDialogs(&kDialogs);
    ASSERT_EQ(first->Message(vfw::ICM_ABOUT, 0, 0), vfw::ICERR_OK);
    EXPECT_NE(g_about.find("ZMBV"), std::string::npos);

    // Content where zlib's level matters: the scrolling clip at 160 x 120.
    const auto sizeOf = [] {
        std::vector<PackedDib> frames;
        size_t total = 0;
        for (int i = 0; i < 12; ++i) {
            frames.push_back(Frame(32, i, 160, 120));
        }
        ZmbvSession s(frames[0].header());
        EXPECT_TRUE(s.ok());
        for (const auto& f : frames) {
            ZmbvPacket p;
            EXPECT_EQ(s.Compress(f.bits(), false, &p), vfw::ICERR_OK);
            total += p.data.size();
        }
        return total;
    };
    g_choice = 0;
    ASSERT_EQ(first->Message(vfw::ICM_CONFIGURE, 0, 0), vfw::ICERR_OK);
    const size_t fastest = sizeOf();
    g_choice = 2;
    ASSERT_EQ(first->Message(vfw::ICM_CONFIGURE, 0, 0), vfw::ICERR_OK);
    const size_t smallest = sizeOf();
    EXPECT_LT(smallest, fastest);
    // Another instance offers the choice made in the first; cancelling keeps it.
    g_choice = -1;
    EXPECT_EQ(second->Message(vfw::ICM_CONFIGURE, 0, 0), vfw::ICERR_ABORT);
    EXPECT_EQ(g_offered, 2);
    EXPECT_EQ(sizeOf(), smallest);

    g_choice = 0;
    ASSERT_EQ(second->Message(vfw::ICM_CONFIGURE, 0, 0), vfw::ICERR_OK);
    vfw::SetCodecDialogs(nullptr);
}

// The frame-wide hint is the displacement itself, whatever its sign and up
// to the format's limit, at every pixel size.
TEST(ZmbvMotionSearch, FindsTheDisplacementOfMovedContent) {
    const struct {
        int dx, dy;
    } moves[] = {{0, -13}, {0, 63}, {-63, 0}, {17, -9}, {-40, 33}, {1, 1}};
    const int width = 192, height = 128, margin = 64;
    const Picture big = ScreenFrame(width + 2 * margin, height + 2 * margin, 5);
    for (const int bytes : {1, 2, 4}) {
        for (const auto& m : moves) {
            // The new frame shows at (x, y) what the old one showed at
            // (x + dx, y + dy).
            std::vector<std::uint32_t> prev(static_cast<size_t>(width) * height), cur(prev.size());
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    prev[static_cast<size_t>(y) * width + x] = big.at(x + margin, y + margin);
                    cur[static_cast<size_t>(y) * width + x] =
                        big.at(x + margin + m.dx, y + margin + m.dy);
                }
            }
            // The same pictures as 8, 16 or 32-bit pixels.
            const auto narrow = [&](const std::vector<std::uint32_t>& px) {
                std::vector<std::uint8_t> out(px.size() * bytes);
                for (size_t i = 0; i < px.size(); ++i) {
                    const std::uint32_t v = bytes == 4 ? px[i] : (px[i] * 2654435761u) >> 16;
                    std::memcpy(&out[i * bytes], &v, static_cast<size_t>(bytes));
                }
                return out;
            };
            const std::vector<std::uint8_t> p8 = narrow(prev), c8 = narrow(cur);
            vfw::zmbv::MotionSearch search;
            ASSERT_TRUE(search.Begin(width, height, bytes));
            const std::vector<std::uint8_t> changed(12 * 8, 1);
            search.Analyse(p8.data(), c8.data(), changed.data());
            ASSERT_GT(search.globalCount(), 0) << bytes << " " << m.dx << "," << m.dy;
            EXPECT_EQ(search.global()[0], (vfw::zmbv::Vector{static_cast<std::int8_t>(m.dx),
                                                             static_cast<std::int8_t>(m.dy)}))
                << bytes << " bytes, " << m.dx << "," << m.dy << ": got "
                << int{search.global()[0].dx} << "," << int{search.global()[0].dy};
        }
    }
}

TEST(ZmbvCodec, CompressesWithoutAllocating) {
    for (const int bits : {8, 16, 24, 32}) {
        std::vector<PackedDib> frames;
        for (int i = 0; i < 20; ++i) {
            frames.push_back(Frame(bits, i, 320, 240));
        }
        ZmbvSession s(frames[0].header());
        ASSERT_TRUE(s.ok());
        ZmbvPacket p;
        p.data.reserve(1 << 20);
        StartCountingAllocations();
        for (size_t i = 0; i < frames.size(); ++i) {
            if (s.Compress(frames[i].bits(), i % 7 == 0, &p) != vfw::ICERR_OK) {
                break;
            }
        }
        EXPECT_EQ(StopCountingAllocations(), 0) << bits << " bits";
    }
}

}  // namespace
}  // namespace kelvora::test
