// Files of the AVI library checked by an independent reader, ffmpeg: frame
// count, size, rate and bit-exact pictures of uncompressed frames, the
// timeline of skipped positions, AVI 2.0 files of several RIFFs and their
// copies; and ffmpeg's own files read by our reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

// What a lossless decoder must show for frame `pos` of the screen clip.
std::vector<std::uint8_t> ExpectedBgra(int width, int height, int bits, LONG pos) {
    return ToBgra(FromDib(ToDib(ScreenFrame(width, height, pos), bits)));
}

// The stream's frame count and duration as its header states them.
std::string HeaderLengthAndDuration(const std::string& path) {
    return RunCommand(
               "ffprobe -v error -select_streams v:0 -show_entries "
               "stream=nb_frames,duration -of csv=p=0 " +
               ShellQuote(path))
        .output;
}

// Probes `path` and compares every decoded frame with the screen clip at
// `positions` (no gaps).
void ExpectDecodesAs(const std::string& path, int width, int height, int bits, int rate,
                     const std::vector<LONG>& positions) {
    const VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.codecName, "rawvideo");
    EXPECT_EQ(probe.width, width);
    EXPECT_EQ(probe.height, height);
    EXPECT_EQ(probe.rateNum, rate);
    EXPECT_EQ(probe.rateDen, 1);
    EXPECT_EQ(probe.frames, static_cast<long long>(positions.size()));
    std::vector<std::vector<std::uint8_t>> frames;
    ASSERT_TRUE(DecodeFramesBgra(path, width, height, &frames));
    ASSERT_EQ(frames.size(), positions.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        if (bits == 32) {
            // ffmpeg passes the fourth byte of 32-bit pixels through as alpha.
            for (size_t a = 3; a < frames[i].size(); a += 4) {
                frames[i][a] = 255;
            }
        }
        const std::vector<std::uint8_t> want = ExpectedBgra(width, height, bits, positions[i]);
        EXPECT_EQ(Fnv1a(frames[i].data(), frames[i].size()), Fnv1a(want.data(), want.size()))
            << "frame " << i;
    }
}

std::vector<LONG> Positions(LONG count) {
    std::vector<LONG> p;
    for (LONG i = 0; i < count; ++i) {
        p.push_back(i);
    }
    return p;
}

BITMAPINFOHEADER HeaderOf(const std::vector<std::uint8_t>& format) {
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    return bi;
}

class AviFfmpeg : public ::testing::Test {
  protected:
    void TearDown() override {
        SetRiffLimitForTesting(0);
        SetSuperIndexCapacityForTesting(0);
    }
};

TEST_F(AviFfmpeg, UncompressedFramesDecodeBitExactAtEveryDepth) {
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const std::string path = OutputPath("depth_" + std::to_string(bits) + ".avi");
        const std::vector<std::uint8_t> format = ScreenClipFormat(96, 64, bits);
        ASSERT_EQ(WriteAvi(path, VideoInfo(HeaderOf(format), 40), format,
                           ScreenClip(96, 64, bits, Positions(5))),
                  AVIERR_OK);
        ExpectDecodesAs(path, 96, 64, bits, 40, Positions(5));
    }
}

TEST_F(AviFfmpeg, SkippedPositionsKeepWallClockTimingAndHoldThePicture) {
    const std::string path = OutputPath("gaps.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(64, 48, 24);
    const std::vector<LONG> written = {0, 3, 4, 10};
    ASSERT_EQ(
        WriteAvi(path, VideoInfo(HeaderOf(format), 25), format, ScreenClip(64, 48, 24, written)),
        AVIERR_OK);

    // 11 entries of 1/25 s each.
    EXPECT_EQ(HeaderLengthAndDuration(path), "0.440000,11\n");
    const std::vector<std::vector<std::uint8_t>> frames = DecodeTimeline(path, 64, 48, "25");
    ASSERT_EQ(frames.size(), 11u);
    const LONG shown[11] = {0, 0, 0, 3, 4, 4, 4, 4, 4, 4, 10};
    for (size_t i = 0; i < 11; ++i) {
        const std::vector<std::uint8_t> want = ExpectedBgra(64, 48, 24, shown[i]);
        EXPECT_EQ(Fnv1a(frames[i].data(), frames[i].size()), Fnv1a(want.data(), want.size()))
            << "position " << i << " should show frame " << shown[i];
    }
}

TEST_F(AviFfmpeg, FilesOfSeveralRiffsReadInFfmpegAndOurReader) {
    // 18 KiB frames and 100 KiB RIFFs: about five frames per RIFF.
    constexpr std::uint64_t kLimit = 100 << 10;
    SetRiffLimitForTesting(kLimit);
    SetSuperIndexCapacityForTesting(64);  // a small header, so every RIFF fits the limit
    const std::string path = OutputPath("riffs.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(96, 64, 24);
    const std::vector<ClipFrame> clip = ScreenClip(96, 64, 24, Positions(60));
    ASSERT_EQ(WriteAvi(path, VideoInfo(HeaderOf(format), 30), format, clip), AVIERR_OK);

    const std::vector<RiffSpan> riffs = ListRiffs(path);
    ASSERT_GE(riffs.size(), 10u);
    EXPECT_EQ(riffs[0].type, riff::kAvi);
    for (size_t i = 0; i < riffs.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(riffs[i].type, riff::kAvix) << i;
        }
        EXPECT_LE(riffs[i].size + 8u, kLimit) << "RIFF " << i;
    }
    const RiffSpan& last = riffs.back();
    EXPECT_EQ(last.offset + 8 + last.size, ReadFileBytes(path).size());

    ExpectDecodesAs(path, 96, 64, 24, 30, Positions(60));
    // ffprobe takes the true length from the OpenDML header.
    EXPECT_EQ(HeaderLengthAndDuration(path), "2.000000,60\n");

    AviContent got;
    ASSERT_EQ(ReadAvi(path, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), clip.size());
    for (size_t i = 0; i < clip.size(); ++i) {
        EXPECT_EQ(got.entries[i], clip[i].bits) << i;
    }
}

TEST_F(AviFfmpeg, CopiesOfAviSaveVDecodeAsTheirSources) {
    SetRiffLimitForTesting(64 << 10);
    struct Case {
        const char* name;
        std::vector<LONG> positions;
    };
    for (const Case& c : {Case{"copy_three", {0, 1, 2}}, Case{"copy_riffs", Positions(40)}}) {
        SCOPED_TRACE(c.name);
        const std::string source = OutputPath(std::string(c.name) + "_source.avi");
        const std::string target = OutputPath(std::string(c.name) + ".avi");
        const std::vector<std::uint8_t> format = ScreenClipFormat(80, 60, 32);
        ASSERT_EQ(WriteAvi(source, VideoInfo(HeaderOf(format), 20), format,
                           ScreenClip(80, 60, 32, c.positions)),
                  AVIERR_OK);
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, source.c_str(), OF_READ, nullptr), AVIERR_OK);
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileGetStream(file, &stream, 0, 0), AVIERR_OK);
        AVIFileRelease(file);
        AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
        ASSERT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, &stream, options), AVIERR_OK);
        AVIStreamRelease(stream);
        ExpectDecodesAs(target, 80, 60, 32, 20, c.positions);
    }
}

// ffmpeg's own single-RIFF file (idx1, an audio stream beside the video)
// read by our reader through each of its ways to find the frames; its sound
// reads by blocks as ffmpeg decodes it.
TEST_F(AviFfmpeg, FfmpegFilesReadThroughIdx1AndByScanning) {
    const std::string path = OutputPath("ffmpeg_made.avi");
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi "
                         "-i sine=frequency=440:sample_rate=8000 -frames:v 12 -t 1.2 "
                         "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " +
                         ShellQuote(path))
                  .exitCode,
              0);
    std::vector<std::vector<std::uint8_t>> want;
    ASSERT_TRUE(DecodeFramesRaw(path, "bgr24", 64 * 48 * 3, &want));
    ASSERT_EQ(want.size(), 12u);
    std::vector<std::int16_t> wantSound;
    ASSERT_TRUE(DecodeAudioS16(path, &wantSound));
    ASSERT_GT(wantSound.size(), 8000u);  // mono, about a second

    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    const std::string noIndex = OutputPath("ffmpeg_made_noindex.avi");
    const size_t idx1 = FindFourcc(bytes, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(idx1));
    ASSERT_TRUE(WriteFileBytes(noIndex, cut));

    for (const std::string& p : {path, noIndex}) {
        SCOPED_TRACE(p);
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, p.c_str(), OF_READ, nullptr), AVIERR_OK);
        PAVISTREAM audio = nullptr;
        ASSERT_EQ(AVIFileGetStream(file, &audio, mmioFOURCC('a', 'u', 'd', 's'), 0), AVIERR_OK);
        AVIStreamRelease(audio);
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> format;
        std::vector<std::int16_t> sound;
        ASSERT_EQ(ReadSound(p, &info, &format, &sound, 333), AVIERR_OK);
        EXPECT_EQ(info.dwLength, wantSound.size());
        EXPECT_TRUE(sound == wantSound);
        PAVISTREAM any1 = nullptr;
        EXPECT_EQ(AVIFileGetStream(file, &any1, 0, 1), AVIERR_OK);  // the audio, by index
        AVIStreamRelease(any1);
        PAVISTREAM none = nullptr;
        EXPECT_EQ(AVIFileGetStream(file, &none, 0, 2), AVIERR_NODATA);
        AVIFileRelease(file);

        AviContent got;
        ASSERT_EQ(ReadAvi(p, &got), AVIERR_OK);
        EXPECT_EQ(got.info.dwRate / got.info.dwScale, 10u);
        // ffmpeg stores top-down rows (negative height), as it decodes them.
        EXPECT_EQ(HeaderOf(got.format).biHeight, -48);
        ASSERT_EQ(got.entries.size(), 12u);
        for (size_t i = 0; i < 12; ++i) {
            EXPECT_EQ(got.entries[i], want[i]) << "frame " << i;
            EXPECT_EQ(got.flags[i], AVIIF_KEYFRAME);
        }
    }
}

}  // namespace
}  // namespace kelvora::test
