// The libjpeg wrapper under the 'MJPG' compressor: errors come back as codes
// and leave it usable, its memory is reused, its learnt Huffman tables work.
#include "engine/vfw/codecs/mjpg_jpeg_writer.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"
#include "tests/engine/vfw/codecs/mjpg_test_jpeg.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {
namespace {

using vfw::ICERR_BADPARAM;
using vfw::ICERR_BADSIZE;
using vfw::ICERR_INTERNAL;
using vfw::ICERR_OK;
using vfw::JpegWriter;
using vfw::LRESULT;

// A picture as B, G, R, x rows, top row first, with its row pointers.
struct Rows {
    explicit Rows(const Picture& p) : width(p.width), height(p.height) {
        const std::vector<std::uint8_t> bgra = ToBgra(p);
        pixels.assign(bgra.begin(), bgra.end());
        for (int y = 0; y < height; ++y) {
            pointers.push_back(pixels.data() + static_cast<size_t>(y) * width * 4);
        }
    }
    int width;
    int height;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t*> pointers;
};

// Codes `rows` into out[0, capacity) in slices of 16 rows.
LRESULT Code(JpegWriter& w, Rows& rows, int quality, std::uint8_t* out, size_t capacity,
             size_t* bytes) {
    LRESULT r = w.Start(quality, out, capacity);
    for (int y = 0; r == ICERR_OK && y < rows.height; y += 16) {
        r = w.WriteRows(rows.pointers.data() + y, std::min(16, rows.height - y));
    }
    return r == ICERR_OK ? w.Finish(bytes) : r;
}

TEST(JpegWriter, TooSmallABufferIsAnErrorAndTheNextPictureWorks) {
    Rows rows(ScreenFrame(160, 120, 3));
    JpegWriter w;
    ASSERT_EQ(w.Open(160, 120, JpegWriter::Layout::kBgrx), ICERR_OK);
    size_t bytes = 0;
    std::vector<std::uint8_t> full(JpegWriter::MaxPictureBytes(160, 120));
    // The first picture gets its own optimal tables; the ones after reuse
    // them and so have one size for one content.
    ASSERT_EQ(Code(w, rows, 75, full.data(), full.size(), &bytes), ICERR_OK);
    ASSERT_EQ(Code(w, rows, 75, full.data(), full.size(), &bytes), ICERR_OK);
    const size_t needed = bytes;

    // Exactly sized heap blocks, so that AddressSanitizer sees any overrun:
    // one byte, headers only, and one byte short of the picture.
    for (size_t capacity : {size_t{1}, size_t{300}, needed - 1}) {
        SCOPED_TRACE(capacity);
        std::vector<std::uint8_t> small(capacity);
        EXPECT_EQ(Code(w, rows, 75, small.data(), small.size(), &bytes), ICERR_BADSIZE);
        // Finishing an abandoned picture is refused, not crashed.
        EXPECT_EQ(w.Finish(&bytes), ICERR_BADPARAM);
        ASSERT_EQ(Code(w, rows, 75, full.data(), full.size(), &bytes), ICERR_OK);
        EXPECT_EQ(bytes, needed);
        EXPECT_TRUE(ReadJpeg(full.data(), bytes).ok);
    }
}

TEST(JpegWriter, BadCallsAndSizesAreErrors) {
    Rows rows(ScreenFrame(64, 40, 0));
    JpegWriter w;
    std::vector<std::uint8_t> out(JpegWriter::MaxPictureBytes(64, 40));
    size_t bytes = 0;
    EXPECT_EQ(w.Start(75, out.data(), out.size()), ICERR_BADPARAM);  // not open
    ASSERT_EQ(w.Open(64, 40, JpegWriter::Layout::kBgrx), ICERR_OK);

    // Too few rows: libjpeg's own error, through our error manager.
    ASSERT_EQ(w.Start(75, out.data(), out.size()), ICERR_OK);
    ASSERT_EQ(w.WriteRows(rows.pointers.data(), 20), ICERR_OK);
    EXPECT_EQ(w.Finish(&bytes), ICERR_INTERNAL);
    // Too many rows.
    ASSERT_EQ(w.Start(75, out.data(), out.size()), ICERR_OK);
    ASSERT_EQ(w.WriteRows(rows.pointers.data(), 40), ICERR_OK);
    EXPECT_EQ(w.WriteRows(rows.pointers.data(), 1), ICERR_INTERNAL);
    // Rows without a picture, a null buffer.
    EXPECT_EQ(w.WriteRows(rows.pointers.data(), 1), ICERR_BADPARAM);
    EXPECT_EQ(w.Start(75, nullptr, out.size()), ICERR_BADPARAM);
    // Still usable.
    ASSERT_EQ(Code(w, rows, 75, out.data(), out.size(), &bytes), ICERR_OK);
    EXPECT_TRUE(ReadJpeg(out.data(), bytes).ok);
    // Sizes libjpeg cannot code are refused at once.
    EXPECT_EQ(w.Open(0, 10, JpegWriter::Layout::kBgr), vfw::ICERR_BADFORMAT);
    EXPECT_EQ(w.Open(70000, 10, JpegWriter::Layout::kBgr), vfw::ICERR_BADFORMAT);
    EXPECT_FALSE(w.isOpen());
    // The largest size libjpeg codes needs gigabytes for the whole-picture
    // coefficients: the arena refuses, libjpeg fails, the code says why.
    EXPECT_EQ(w.Open(65500, 65500, JpegWriter::Layout::kBgrx), vfw::ICERR_MEMORY);
    EXPECT_FALSE(w.isOpen());
    ASSERT_EQ(w.Open(64, 40, JpegWriter::Layout::kBgrx), ICERR_OK);
    ASSERT_EQ(Code(w, rows, 75, out.data(), out.size(), &bytes), ICERR_OK);
}

// Open codes its warm-up pictures; afterwards no picture - optimised or
// not, at any quality - takes memory from the system.
TEST(JpegWriter, ReusesItsMemory) {
    JpegWriter w;
    ASSERT_EQ(w.Open(320, 240, JpegWriter::Layout::kBgrx), ICERR_OK);
    const size_t afterOpen = w.systemAllocations();
    EXPECT_GT(afterOpen, 0u);
    std::vector<std::uint8_t> out(JpegWriter::MaxPictureBytes(320, 240));
    for (int i = 0; i < 3 * JpegWriter::kOptimiseEvery + 1; ++i) {
        Rows rows(ScreenFrame(320, 240, i));
        size_t bytes = 0;
        ASSERT_EQ(Code(w, rows, 30 + 3 * i, out.data(), out.size(), &bytes), ICERR_OK);
        EXPECT_TRUE(ReadJpeg(out.data(), bytes).ok) << i;
    }
    EXPECT_EQ(w.systemAllocations(), afterOpen);
}

// Pictures between optimised ones reuse the learnt tables: nearly as small
// as a picture optimised for itself, and far smaller than with the example
// tables of the standard would be (about 18% on the benchmark clip).
TEST(JpegWriter, LearntTablesStayCloseToOptimal) {
    JpegWriter w;
    ASSERT_EQ(w.Open(320, 240, JpegWriter::Layout::kBgrx), ICERR_OK);
    std::vector<std::uint8_t> out(JpegWriter::MaxPictureBytes(320, 240));
    size_t reused = 0;
    for (int i = 0; i < 6; ++i) {  // picture 0 optimised, 1..5 reuse
        Rows rows(ScreenFrame(320, 240, i));
        ASSERT_EQ(Code(w, rows, 50, out.data(), out.size(), &reused), ICERR_OK);
    }
    // The same last picture, optimised for itself by a fresh writer.
    JpegWriter fresh;
    ASSERT_EQ(fresh.Open(320, 240, JpegWriter::Layout::kBgrx), ICERR_OK);
    Rows rows(ScreenFrame(320, 240, 5));
    size_t optimal = 0;
    ASSERT_EQ(Code(fresh, rows, 50, out.data(), out.size(), &optimal), ICERR_OK);
    EXPECT_LE(optimal, reused);
    EXPECT_LT(static_cast<double>(reused), optimal * 1.05);
}

}  // namespace
}  // namespace kelvora::test
