// Files written through the AVIFile calls and read back by our reader: the
// stream description, the format, every entry with its key-frame flag, the
// timeline with skipped positions, and the writer's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/avi_stream.h"
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
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 5u);
    EXPECT_TRUE(got.entries[0].empty() && got.entries[1].empty() && got.entries[2].empty());
    EXPECT_EQ(got.entries[3], frames[0].bits);
    EXPECT_EQ(got.entries[4], frames[1].bits);  // -1 appends at the next position
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
    audio.fccType = mmioFOURCC('a', 'u', 'd', 's');
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
    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), 3u);
    EXPECT_EQ(got.entries[2], bits);
}

}  // namespace
}  // namespace kelvora::test
