// Recordings cut off anywhere read up to their last whole frame and never
// past their end (the host tree runs this under AddressSanitizer): files the
// writer completed that then lost their end, and the files a killed
// recording leaves (flushed, never completed: no index, sizes unpatched).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/avi_reader.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/file_io.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

struct Read {
    HRESULT hr = AVIERR_OK;
    std::vector<std::vector<std::uint8_t>> entries;
};

// Reads the first stream of `bytes` from memory, every entry in full.
Read ReadBytes(std::vector<std::uint8_t> bytes) {
    Read r;
    auto file = std::make_unique<FileReader>();
    EXPECT_TRUE(file->Adopt(fmemopen(bytes.data(), bytes.size(), "rb")));
    std::unique_ptr<AviReader> reader;
    r.hr = AviReader::Open(std::move(file), &reader);
    if (r.hr != AVIERR_OK || reader->streamCount() == 0) {
        return r;
    }
    const AviReaderStream& s = reader->stream(0);
    for (size_t e = 0; e < s.entries.size(); ++e) {
        EXPECT_LE(s.entries[e].offset + s.entries[e].size, bytes.size()) << "entry " << e;
        std::vector<std::uint8_t> data(s.entries[e].size);
        LONG size = 0;
        r.hr = reader->ReadEntry(0, static_cast<std::int64_t>(e), data.data(),
                                 static_cast<LONG>(data.size()), &size);
        if (r.hr != AVIERR_OK) {
            return r;
        }
        r.entries.push_back(std::move(data));
    }
    return r;
}

class AviCut : public ::testing::Test {
  protected:
    void TearDown() override {
        SetRiffLimitForTesting(0);
        SetSuperIndexCapacityForTesting(0);
    }

    // Ten 8x8 frames with a gap (an empty entry) and a non-key frame, in one
    // RIFF or spread over several. Fills the bytes a killed recording leaves,
    // the completed file's bytes, its entries and where each entry's data ends.
    void Record(const std::string& name, bool severalRiffs) {
        SetSuperIndexCapacityForTesting(8);
        SetRiffLimitForTesting(severalRiffs ? 1200 : 0);
        const std::string path = OutputPath(name);
        const std::vector<std::uint8_t> format = ScreenClipFormat(8, 8, 24);
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, format.data(), sizeof bi);
        std::vector<ClipFrame> frames = ScreenClip(8, 8, 24, {0, 1, 2, 4, 5, 6, 7, 8, 9, 10});
        frames[5].key = false;
        ASSERT_EQ(WriteKilledAvi(path, VideoInfo(bi, 10), format, frames, &killed_), AVIERR_OK);
        finished_ = ReadFileBytes(path);
        ASSERT_EQ(ListRiffs(path).size() > 1, severalRiffs);

        std::unique_ptr<AviReader> reader;
        ASSERT_EQ(AviReader::Open(path.c_str(), &reader), AVIERR_OK);
        ends_.clear();
        for (const AviEntry& e : reader->stream(0).entries) {
            ends_.push_back(e.offset + e.size);
        }
        ASSERT_EQ(ReadAvi(path, &content_), AVIERR_OK);
        ASSERT_EQ(content_.entries.size(), 11u);
        ASSERT_LT(killed_.size(), finished_.size());
    }

    // `bytes` cut at `cut` reads as the entries whose data lies whole before
    // the cut, with their contents.
    void ExpectWholeFramesBefore(const std::vector<std::uint8_t>& bytes, size_t cut) {
        const Read r = ReadBytes(
            std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        size_t whole = 0;
        while (whole < ends_.size() && ends_[whole] <= cut) {
            ++whole;
        }
        ASSERT_EQ(r.hr, AVIERR_OK) << "cut at " << cut;
        ASSERT_EQ(r.entries.size(), whole) << "cut at " << cut;
        for (size_t e = 0; e < whole; ++e) {
            ASSERT_EQ(r.entries[e], content_.entries[e]) << "cut at " << cut << ", entry " << e;
        }
    }

    std::vector<std::uint8_t> killed_, finished_;
    std::vector<std::uint64_t> ends_;
    AviContent content_;
};

TEST_F(AviCut, KilledRecordingReadsUpToItsLastWholeFrameWhereverItEnds) {
    for (bool severalRiffs : {false, true}) {
        SCOPED_TRACE(severalRiffs ? "several RIFFs" : "one RIFF");
        Record(severalRiffs ? "killed_riffs.avi" : "killed.avi", severalRiffs);
        // Unfinished: no index, and the header still says the movi list is
        // empty. Every frame written before the flush is there.
        EXPECT_EQ(FindFourcc(killed_, "idx1"),
                  severalRiffs ? FindFourcc(finished_, "idx1") : std::string::npos);
        ASSERT_EQ(ReadBytes(killed_).entries, content_.entries);
        // Cut anywhere from inside the header's last chunk to the end.
        const size_t firstChunk = static_cast<size_t>(ends_[0] - content_.entries[0].size() - 8);
        for (size_t cut = firstChunk - 16; cut <= killed_.size(); ++cut) {
            ExpectWholeFramesBefore(killed_, cut);
            if (HasFatalFailure()) {
                return;
            }
        }
        // Cut inside the header: no frame, and no error other than AVIERR's.
        for (size_t cut : {size_t{12}, size_t{100}, firstChunk / 2, firstChunk - 1}) {
            const Read r = ReadBytes(std::vector<std::uint8_t>(
                killed_.begin(), killed_.begin() + static_cast<long>(cut)));
            EXPECT_TRUE(r.entries.empty()) << "cut at " << cut;
        }
    }
}

TEST_F(AviCut, CompletedRecordingCutInItsLastFramesReadsTheWholeOnes) {
    for (bool severalRiffs : {false, true}) {
        SCOPED_TRACE(severalRiffs ? "several RIFFs" : "one RIFF");
        Record(severalRiffs ? "cut_end_riffs.avi" : "cut_end.avi", severalRiffs);
        // From the third-last frame's chunk through the indexes to the end.
        const size_t from =
            static_cast<size_t>(ends_[ends_.size() - 3] - content_.entries[8].size() - 8);
        for (size_t cut = from; cut <= finished_.size(); ++cut) {
            ExpectWholeFramesBefore(finished_, cut);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

// A killed recording whose RIFF and movi sizes were never written at all (0),
// as some writers leave them, reads the same.
TEST_F(AviCut, ZeroSizesOfAnUnfinishedFileAreNotTrusted) {
    Record("killed_zero.avi", false);
    std::vector<std::uint8_t> zeroed = killed_;
    const std::uint32_t zero = 0;
    std::memcpy(&zeroed[4], &zero, 4);
    const size_t movi = FindFourcc(zeroed, "movi");
    ASSERT_NE(movi, std::string::npos);
    std::memcpy(&zeroed[movi - 4], &zero, 4);
    EXPECT_EQ(ReadBytes(zeroed).entries, content_.entries);
}

}  // namespace
}  // namespace kelvora::test
