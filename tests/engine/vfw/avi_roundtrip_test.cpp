// Files written through the AVIFile calls and read back by our reader: the
// stream description, the format, every entry with its key-frame flag, the
// timeline with skipped positions, and the writer's refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

TEST(AviRoundTrip, StreamDescriptionFormatAndFramesComeBack) {
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const std::string path = OutputPath("three_" + std::to_string(bits) + ".avi");
        const std::vector<std::uint8_t> format = ScreenClipFormat(64, 48, bits);
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, format.data(), sizeof bi);
        AVISTREAMINFOA info = VideoInfo(bi, 40, "MS Video Codec");
        info.dwQuality = 9000;
        const std::vector<ClipFrame> frames = ScreenClip(64, 48, bits, {0, 1, 2});
        ASSERT_EQ(WriteAvi(path, info, format, frames), AVIERR_OK);

        ExpectFfmpegAgrees(path);
        AviContent got;
        ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
        EXPECT_EQ(got.info.fccType, streamtypeVIDEO);
        EXPECT_EQ(got.info.fccHandler, kDibHandler);
        EXPECT_EQ(got.info.dwFlags, 12u);
        EXPECT_EQ(got.info.dwScale, 1u);
        EXPECT_EQ(got.info.dwRate, 40u);
        EXPECT_EQ(got.info.dwQuality, 9000u);
        EXPECT_EQ(got.info.dwStart, 0u);
        EXPECT_EQ(got.info.dwLength, 3u);
        EXPECT_EQ(got.info.dwSuggestedBufferSize, frames[0].bits.size());
        EXPECT_EQ(got.info.rcFrame.right, 64);
        EXPECT_EQ(got.info.rcFrame.bottom, 48);
        EXPECT_STREQ(got.info.szName, "MS Video Codec");
        EXPECT_EQ(got.format, format);
        ASSERT_EQ(got.entries.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(got.entries[i], frames[i].bits) << "frame " << i;
            EXPECT_EQ(got.flags[i], AVIIF_KEYFRAME);
        }
    }
}

TEST(AviRoundTrip, SkippedPositionsBecomeEmptyEntriesAndFlagsAreKept) {
    const std::string path = OutputPath("gaps.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(32, 32, 24);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    std::vector<ClipFrame> frames = ScreenClip(32, 32, 24, {0, 3, 4, 10});
    frames[2].key = false;
    ASSERT_EQ(WriteAvi(path, VideoInfo(bi, 25), format, frames), AVIERR_OK);
    ExpectFfmpegAgrees(path);

    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 11u);
    const std::vector<DWORD> flags = {AVIIF_KEYFRAME, 0, 0, AVIIF_KEYFRAME, 0, 0, 0, 0, 0, 0,
                                      AVIIF_KEYFRAME};
    EXPECT_EQ(got.flags, flags);
    size_t next = 0;
    for (LONG pos = 0; pos < 11; ++pos) {
        if (next < frames.size() && frames[next].pos == pos) {
            EXPECT_EQ(got.entries[pos], frames[next].bits) << "position " << pos;
            ++next;
        } else {
            EXPECT_TRUE(got.entries[pos].empty()) << "position " << pos;
        }
    }
}

TEST(AviRoundTrip, LeadingGapAndAppendPosition) {
    const std::string path = OutputPath("leading_gap.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(16, 16, 32);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    std::vector<ClipFrame> frames = ScreenClip(16, 16, 32, {3, -1});
    ASSERT_EQ(WriteAvi(path, VideoInfo(bi, 10), format, frames), AVIERR_OK);
    ExpectFfmpegAgrees(path);
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 5u);
    EXPECT_TRUE(got.entries[0].empty() && got.entries[1].empty() && got.entries[2].empty());
    EXPECT_EQ(got.entries[3], frames[0].bits);
    EXPECT_EQ(got.entries[4], frames[1].bits);  // -1 appends at the next position
}

TEST(AviRoundTrip, FilesWithoutFramesAreComplete) {
    // Created and released at once: an AVI file without streams.
    const std::string bare = OutputPath("no_stream.avi");
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, bare.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIFileRelease(file), 0u);
    ASSERT_EQ(AVIFileOpenA(&file, bare.c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(AVIFileGetStream(file, &stream, 0, 0), AVIERR_NODATA);
    AVIFileRelease(file);

    // A stream with its format and no frame.
    const std::string empty = OutputPath("no_frames.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(16, 16, 8);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    ASSERT_EQ(WriteAvi(empty, VideoInfo(bi, 25), format, {}), AVIERR_OK);
    ExpectFfmpegAgrees(empty);
    AviContent got;
    ASSERT_EQ(ReadAvi(empty, &got), AVIERR_OK);
    EXPECT_EQ(got.info.dwLength, 0u);
    EXPECT_EQ(got.format, format);
}

TEST(AviRoundTrip, WriterRefusesBadCalls) {
    const std::string path = OutputPath("refusals.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(16, 16, 24);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    const AVISTREAMINFOA info = VideoInfo(bi, 25);
    const std::vector<std::uint8_t> bits(bi.biSizeImage, 0x5A);

    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpenA(nullptr, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileOpenA(&file, nullptr, OF_CREATE | OF_WRITE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, &info), AVIERR_BADPARAM);
    EXPECT_EQ(file, nullptr);
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);

    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA noRate = info;
    noRate.dwRate = 0;
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &noRate), AVIERR_BADPARAM);
    AVISTREAMINFOA audio = info;
    audio.fccType = mmioFOURCC('t', 'x', 't', 's');  // a sound stream may join (avi_sound_test)
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &audio), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, nullptr), AVIERR_BADPARAM);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    PAVISTREAM second = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(file, &second, &info), AVIERR_UNSUPPORTED);
    EXPECT_EQ(second, nullptr);

    // No format yet.
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, bits.data(), static_cast<LONG>(bits.size()),
                             AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_BADFORMAT);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, format.data(), 20), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, nullptr, 40), AVIERR_BADPARAM);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())),
              AVIERR_OK);

    LONG samples = 0, bytes = 0;
    ASSERT_EQ(AVIStreamWrite(stream, 2, 1, bits.data(), static_cast<LONG>(bits.size()),
                             AVIIF_KEYFRAME, &samples, &bytes),
              AVIERR_OK);
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(bytes, static_cast<LONG>(bits.size()));
    // Positions must grow.
    for (LONG pos : {2, 1, 0, -5}) {
        EXPECT_EQ(AVIStreamWrite(stream, pos, 1, bits.data(), static_cast<LONG>(bits.size()),
                                 AVIIF_KEYFRAME, nullptr, nullptr),
                  AVIERR_BADPARAM)
            << pos;
    }
    EXPECT_EQ(AVIStreamWrite(stream, 3, 1, nullptr, 10, 0, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamWrite(stream, 3, 1, bits.data(), -1, 0, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamWrite(stream, 3, 0, bits.data(), 10, 0, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamWrite(stream, 0x7FFFFFF0, 1, bits.data(), 10, 0, nullptr, nullptr),
              AVIERR_BADPARAM);
    // The format is fixed once frames are out.
    std::vector<std::uint8_t> other = format;
    other[4] ^= 1;  // width
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, other.data(), static_cast<LONG>(other.size())),
              AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())),
              AVIERR_OK);
    // A stream being written cannot be read.
    EXPECT_EQ(AVIStreamRead(stream, 2, 1, nullptr, 0, &bytes, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIStreamLength(stream), 3);

    // Null handles.
    EXPECT_EQ(AVIStreamWrite(nullptr, 0, 1, bits.data(), 1, 0, nullptr, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamSetFormat(nullptr, 0, format.data(), 40), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIFileCreateStreamA(nullptr, &second, &info), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIFileGetStream(nullptr, &second, 0, 0), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamInfoA(nullptr, &audio, sizeof audio), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamRead(nullptr, 0, 1, nullptr, 0, &bytes, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamReadFormat(nullptr, 0, nullptr, &bytes), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamLength(nullptr), -1);
    EXPECT_EQ(AVIStreamStart(nullptr), -1);
    EXPECT_EQ(AVIStreamRelease(nullptr), 0u);
    EXPECT_EQ(AVIFileRelease(nullptr), 0u);

    AVIStreamRelease(stream);
    AVIFileRelease(file);
    ExpectFfmpegAgrees(path);
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 3u);
    EXPECT_EQ(got.entries[2], bits);
}

BITMAPINFOHEADER HeaderOf(const std::vector<std::uint8_t>& format) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    return bi;
}

// A clip with key frames every third frame and two skipped positions.
std::vector<ClipFrame> MixedClip(int count) {
    std::vector<LONG> positions;
    for (LONG p = 0; static_cast<int>(positions.size()) < count; ++p) {
        if (p != 5 && p != 6) {
            positions.push_back(p);
        }
    }
    std::vector<ClipFrame> frames = ScreenClip(40, 30, 24, positions);
    for (size_t i = 0; i < frames.size(); ++i) {
        frames[i].key = i % 3 == 0;
    }
    return frames;
}

// Checks `got` against `frames`; with `keyFlags` false every non-empty entry
// is expected as a key frame (a reader without an index cannot know better).
void ExpectClip(const AviContent& got, const std::vector<ClipFrame>& frames, bool keyFlags) {
    ASSERT_EQ(got.entries.size(), static_cast<size_t>(frames.back().pos + 1));
    size_t next = 0;
    for (LONG pos = 0; pos <= frames.back().pos; ++pos) {
        if (frames[next].pos == pos) {
            EXPECT_EQ(got.entries[pos], frames[next].bits) << pos;
            const bool key = frames[next].key || !keyFlags;
            EXPECT_EQ(got.flags[pos], key ? AVIIF_KEYFRAME : 0u) << pos;
            ++next;
        } else {
            EXPECT_TRUE(got.entries[pos].empty()) << pos;
            EXPECT_EQ(got.flags[pos], 0u) << pos;
        }
    }
}

class AviIndexes : public ::testing::Test {
  protected:
    void TearDown() override {
        SetRiffLimitForTesting(0);
        SetSuperIndexCapacityForTesting(0);
    }
};

TEST_F(AviIndexes, SingleRiffReadsThroughIdx1RelativeOrAbsoluteAndByScanning) {
    const std::string path = OutputPath("idx1.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(40, 30, 24);
    const std::vector<ClipFrame> frames = MixedClip(12);
    ASSERT_EQ(WriteAvi(path, VideoInfo(HeaderOf(format), 15), format, frames), AVIERR_OK);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(ListRiffs(path).size(), 1u);
    EXPECT_EQ(FindFourcc(bytes, "indx"), std::string::npos);  // a plain AVI 1.0 file
    EXPECT_EQ(FindFourcc(bytes, "AVIX"), std::string::npos);

    ExpectFfmpegAgrees(path);
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ExpectClip(got, frames, true);

    // The same index with offsets from the file start, as some writers make it.
    const size_t movi = FindFourcc(bytes, "movi");
    const size_t idx1 = FindFourcc(bytes, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    std::vector<std::uint8_t> absolute = bytes;
    for (size_t e = idx1 + 8; e + 16 <= absolute.size(); e += 16) {
        std::uint32_t offset;
        std::memcpy(&offset, &absolute[e + 8], 4);
        offset += static_cast<std::uint32_t>(movi);
        std::memcpy(&absolute[e + 8], &offset, 4);
    }
    const std::string absolutePath = OutputPath("idx1_absolute.avi");
    ASSERT_TRUE(WriteFileBytes(absolutePath, absolute));
    ExpectFfmpegAgrees(absolutePath);
    ASSERT_EQ(ReadAvi(absolutePath, &got), AVIERR_OK);
    ExpectClip(got, frames, true);

    // No index at all: the movi list is scanned.
    std::vector<std::uint8_t> noIndex = bytes;
    std::memcpy(&noIndex[idx1], "JUNK", 4);
    const std::string noIndexPath = OutputPath("idx1_missing.avi");
    ASSERT_TRUE(WriteFileBytes(noIndexPath, noIndex));
    ExpectFfmpegAgrees(noIndexPath);
    ASSERT_EQ(ReadAvi(noIndexPath, &got), AVIERR_OK);
    ExpectClip(got, frames, false);
}

TEST_F(AviIndexes, SeveralRiffsReadThroughOpenDmlIndexesOrByScanning) {
    SetRiffLimitForTesting(20 << 10);  // about five frames of 3.6 KiB per RIFF
    SetSuperIndexCapacityForTesting(100);
    const std::string path = OutputPath("odml.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(40, 30, 24);
    const std::vector<ClipFrame> frames = MixedClip(60);
    ASSERT_EQ(WriteAvi(path, VideoInfo(HeaderOf(format), 15), format, frames), AVIERR_OK);
    const std::vector<RiffSpan> riffs = ListRiffs(path);
    ASSERT_GE(riffs.size(), 10u);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    ASSERT_NE(FindFourcc(bytes, "indx"), std::string::npos);
    ASSERT_NE(FindFourcc(bytes, "dmlh"), std::string::npos);

    ExpectFfmpegAgrees(path);
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ExpectClip(got, frames, true);
    EXPECT_EQ(got.info.dwLength, 62u);

    // Without the super index, idx1 covers only the first RIFF: the reader
    // scans every RIFF's movi list instead.
    std::vector<std::uint8_t> noSuper = bytes;
    std::memcpy(&noSuper[FindFourcc(bytes, "indx")], "JUNK", 4);
    const std::string noSuperPath = OutputPath("odml_no_super_index.avi");
    ASSERT_TRUE(WriteFileBytes(noSuperPath, noSuper));
    ASSERT_EQ(ReadAvi(noSuperPath, &got), AVIERR_OK);
    ExpectClip(got, frames, false);

    // A standard index that points past the file: the indexes are not
    // trusted and the movi lists are scanned.
    std::vector<std::uint8_t> badStd = bytes;
    const size_t ix = FindFourcc(bytes, "ix00", bytes.size() / 2);
    ASSERT_NE(ix, std::string::npos);
    const std::uint64_t far = bytes.size() * 2;
    std::memcpy(&badStd[ix + 8 + 12], &far, 8);  // qwBaseOffset
    const std::string badStdPath = OutputPath("odml_bad_std_index.avi");
    ASSERT_TRUE(WriteFileBytes(badStdPath, badStd));
    ASSERT_EQ(ReadAvi(badStdPath, &got), AVIERR_OK);
    ExpectClip(got, frames, false);
}

TEST_F(AviIndexes, FullSuperIndexEndsTheFileCleanly) {
    SetRiffLimitForTesting(16 << 10);
    SetSuperIndexCapacityForTesting(3);
    const std::string path = OutputPath("index_full.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(40, 30, 24);
    std::vector<ClipFrame> frames =
        ScreenClip(40, 30, 24, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    const AVISTREAMINFOA info = VideoInfo(HeaderOf(format), 15);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())),
              AVIERR_OK);
    size_t written = 0;
    HRESULT hr = AVIERR_OK;
    for (const ClipFrame& f : frames) {
        hr = AVIStreamWrite(stream, f.pos, 1, f.bits.data(), static_cast<LONG>(f.bits.size()),
                            AVIIF_KEYFRAME, nullptr, nullptr);
        if (hr != AVIERR_OK) {
            break;
        }
        ++written;
    }
    EXPECT_EQ(hr, AVIERR_FILEWRITE);
    ASSERT_GT(written, 3u);
    ASSERT_LT(written, frames.size());
    // Later writes keep failing.
    EXPECT_EQ(AVIStreamWrite(stream, 100, 1, frames[0].bits.data(), 8, 0, nullptr, nullptr),
              AVIERR_FILEWRITE);
    AVIStreamRelease(stream);
    AVIFileRelease(file);

    EXPECT_EQ(ListRiffs(path).size(), 3u);
    ExpectFfmpegAgrees(path);
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), written);
    for (size_t i = 0; i < written; ++i) {
        EXPECT_EQ(got.entries[i], frames[i].bits) << i;
    }
}

TEST(AviHandles, StreamsKeepTheirFilesAlive) {
    const std::string path = OutputPath("references.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(24, 16, 32);
    const std::vector<ClipFrame> frames = ScreenClip(24, 16, 32, {0, 1, 2, 3});
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    const AVISTREAMINFOA info = VideoInfo(HeaderOf(format), 15);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    PAVISTREAM none = nullptr;
    EXPECT_EQ(AVIFileGetStream(file, &none, 0, 0), AVIERR_UNSUPPORTED);
    ASSERT_EQ(AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())),
              AVIERR_OK);
    ASSERT_EQ(
        AVIStreamWrite(stream, 0, 1, frames[0].bits.data(),
                       static_cast<LONG>(frames[0].bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
        AVIERR_OK);
    // The stream holds the file: releasing the file first leaves it open.
    EXPECT_EQ(AVIFileRelease(file), 1u);
    for (size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(AVIStreamWrite(stream, frames[i].pos, 1, frames[i].bits.data(),
                                 static_cast<LONG>(frames[i].bits.size()), AVIIF_KEYFRAME, nullptr,
                                 nullptr),
                  AVIERR_OK);
    }
    EXPECT_EQ(AVIStreamRelease(stream), 0u);  // completes the file
    ExpectFfmpegAgrees(path);

    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM first = nullptr;
    PAVISTREAM again = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &first, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &again, 0, 0), AVIERR_OK);
    EXPECT_EQ(AVIFileGetStream(file, &none, streamtypeVIDEO, 1), AVIERR_NODATA);
    EXPECT_EQ(AVIFileGetStream(file, &none, 0, -1), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileCreateStreamA(file, &none, &info), AVIERR_READONLY);
    EXPECT_EQ(AVIFileRelease(file), 2u);
    EXPECT_EQ(AVIStreamRelease(again), 0u);
    // The last stream still reads after its file was released.
    AviContent got;
    ASSERT_EQ(ReadStream(first, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 4u);
    EXPECT_EQ(got.entries[3], frames[3].bits);
    EXPECT_EQ(AVIStreamSetFormat(first, 0, format.data(), 40), AVIERR_READONLY);
    EXPECT_EQ(AVIStreamWrite(first, 4, 1, format.data(), 4, 0, nullptr, nullptr), AVIERR_READONLY);
    LONG bytes = 0;
    std::vector<std::uint8_t> small(10);
    EXPECT_EQ(AVIStreamRead(first, 0, 1, small.data(), 10, &bytes, nullptr), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(bytes, static_cast<LONG>(frames[0].bits.size()));
    EXPECT_EQ(AVIStreamRead(first, 4, 1, nullptr, 0, &bytes, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamRead(first, -1, 1, nullptr, 0, &bytes, nullptr), AVIERR_BADPARAM);
    LONG formatSize = 8;
    EXPECT_EQ(AVIStreamReadFormat(first, 0, small.data(), &formatSize), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(formatSize, static_cast<LONG>(format.size()));
    EXPECT_EQ(AVIStreamReadFormat(first, 0, small.data(), nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamRelease(first), 0u);
}

// The compressing stream writes from its own thread and the last of the two
// threads to let go releases the stream: the file must be complete whichever
// thread that is.
TEST(AviHandles, StreamWrittenAndReleasedFromAnotherThread) {
    const std::vector<std::uint8_t> format = ScreenClipFormat(32, 24, 24);
    const std::vector<ClipFrame> frames = ScreenClip(32, 24, 24, {0, 1, 2, 4, 5, 7, 8, 9});
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const std::string path = OutputPath("threads_" + std::to_string(round) + ".avi");
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        PAVISTREAM stream = nullptr;
        const AVISTREAMINFOA info = VideoInfo(HeaderOf(format), 15);
        ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
        stream->AddRef();  // the worker's reference
        HRESULT workerResult = AVIERR_ERROR;
        std::thread worker([&] {
            HRESULT hr =
                AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size()));
            for (size_t i = 0; hr == AVIERR_OK && i < frames.size(); ++i) {
                hr = AVIStreamWrite(stream, frames[i].pos, 1, frames[i].bits.data(),
                                    static_cast<LONG>(frames[i].bits.size()), AVIIF_KEYFRAME,
                                    nullptr, nullptr);
            }
            workerResult = hr;
            AVIStreamRelease(stream);
        });
        if (round % 2 == 0) {
            std::this_thread::yield();
        }
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        worker.join();
        ASSERT_EQ(workerResult, AVIERR_OK);
        ExpectFfmpegAgrees(path);
        AviContent got;
        ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
        ASSERT_EQ(got.entries.size(), 10u);
        EXPECT_EQ(got.entries[9], frames.back().bits);
    }
}

TEST(AviLibrary, VersionInitExitAndOptionRecords) {
    EXPECT_GE(VideoForWindowsVersion() >> 16, 0x010Au);
    AVIFileInit();
    AVIFileInit();
    AVIFileExit();
    AVIFileExit();
    AVIFileExit();  // one too many does no harm

    AVICOMPRESSOPTIONS filled{};
    filled.lpFormat = std::malloc(40);
    filled.cbFormat = 40;
    filled.lpParms = std::malloc(16);
    filled.cbParms = 16;
    AVICOMPRESSOPTIONS empty{};
    AVICOMPRESSOPTIONS* options[3] = {&filled, nullptr, &empty};
    EXPECT_EQ(AVISaveOptionsFree(3, options), AVIERR_OK);
    EXPECT_EQ(filled.lpFormat, nullptr);
    EXPECT_EQ(filled.lpParms, nullptr);
    EXPECT_EQ(filled.cbFormat, 0u);
    EXPECT_EQ(filled.cbParms, 0u);
    EXPECT_EQ(AVISaveOptionsFree(3, options), AVIERR_OK);  // nothing left to free
    EXPECT_EQ(AVISaveOptionsFree(1, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveOptionsFree(-1, options), AVIERR_BADPARAM);
    EXPECT_EQ(AVISaveOptionsFree(0, nullptr), AVIERR_OK);
}

}  // namespace
}  // namespace kelvora::test
