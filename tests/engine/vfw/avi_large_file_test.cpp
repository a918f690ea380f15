// The real limits, without test knobs: a recording of uncompressed 1080p
// frames past 4 GiB (several 1 GiB RIFFs, 64-bit offsets in the 32-bit
// Windows program too) reads back in full; on the host ffprobe counts its
// frames and ffmpeg shows its last picture, and our reader reads an AVI 2.0
// file that ffmpeg wrote. Slow (gigabytes of disk traffic); skipped with a
// message when the disk lacks room.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"
#ifndef _WIN32
#include "tests/support/ffmpeg.h"
#endif

namespace kelvora::test {
namespace {

using namespace vfw;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 4;
constexpr LONG kPositions = 532;  // 530 frames and two empty entries: 4.4 GB
constexpr LONG kSkipped[] = {100, 520};
constexpr std::uint64_t kNeededFree = std::uint64_t{10} << 30;
constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

bool Skipped(LONG pos) {
    return pos == kSkipped[0] || pos == kSkipped[1];
}

// A fixed picture with frame `pos` stamped into its first rows (bottom of
// the picture), so that each frame is recognisable without building 8 MB
// per frame.
class LargeFrames {
  public:
    LargeFrames() : bits_(kFrameBytes) {
        for (size_t i = 0; i < bits_.size(); ++i) {
            bits_[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 24);
        }
    }
    const std::vector<std::uint8_t>& Frame(LONG pos) {
        for (size_t i = 0; i < kStamp; i += 4) {
            std::memcpy(&bits_[i], &pos, 4);
        }
        return bits_;
    }

  private:
    static constexpr size_t kStamp = 64 * 1024;
    std::vector<std::uint8_t> bits_;
};

// Removes the file however the test ends.
struct RemoveAtEnd {
    std::string path;
    ~RemoveAtEnd() { std::remove(path.c_str()); }
};

BITMAPINFOHEADER Format1080p() {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = static_cast<DWORD>(kFrameBytes);
    return bi;
}

TEST(AviLargeFile, RecordingPast4GiBReadsBackInFull) {
    const std::uint64_t free = FreeDiskBytes(OutputDir());
    if (free < kNeededFree) {
        GTEST_SKIP() << "needs 10 GiB free in " << OutputDir() << " for a 4.4 GB file; "
                     << (free >> 20) << " MiB free";
    }
    const RemoveAtEnd file{OutputPath("past_4gib.avi")};
    const std::string& path = file.path;
    LargeFrames frames;
    {
        PAVIFILE avi = nullptr;
        ASSERT_EQ(AVIFileOpenA(&avi, path.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        const BITMAPINFOHEADER bi = Format1080p();
        const AVISTREAMINFOA info = VideoInfo(bi, 25);
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileCreateStreamA(avi, &stream, &info), AVIERR_OK);
        ASSERT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK);
        HRESULT hr = AVIERR_OK;
        for (LONG pos = 0; pos < kPositions && hr == AVIERR_OK; ++pos) {
            if (!Skipped(pos)) {
                const std::vector<std::uint8_t>& bits = frames.Frame(pos);
                hr = AVIStreamWrite(stream, pos, 1, bits.data(), static_cast<LONG>(bits.size()),
                                    AVIIF_KEYFRAME, nullptr, nullptr);
            }
        }
        AVIStreamRelease(stream);
        AVIFileRelease(avi);
        ASSERT_EQ(hr, AVIERR_OK);
    }

    const std::vector<RiffSpan> riffs = ListRiffs(path);
    ASSERT_GE(riffs.size(), 5u);
    const RiffSpan& lastRiff = riffs.back();
    EXPECT_GT(lastRiff.offset + 8 + lastRiff.size, k4GiB + 10 * kFrameBytes);
    for (size_t i = 0; i < riffs.size(); ++i) {
        EXPECT_LE(riffs[i].size, 0x40000000u) << "RIFF " << i;
        EXPECT_EQ(riffs[i].type, i == 0 ? riff::kAvi : riff::kAvix) << "RIFF " << i;
    }

    // Our reader: every entry where it belongs, the frames on both sides of
    // 4 GiB and the last one intact.
    PAVIFILE avi = nullptr;
    ASSERT_EQ(AVIFileOpenA(&avi, path.c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(avi, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    AVIFileRelease(avi);
    ASSERT_EQ(AVIStreamLength(stream), kPositions);
    std::vector<std::uint8_t> got(kFrameBytes);
    const LONG past4GiB = static_cast<LONG>(k4GiB / (kFrameBytes + 8)) + 2;
    for (LONG pos = 0; pos < kPositions; ++pos) {
        LONG bytes = -1;
        ASSERT_EQ(AVIStreamRead(stream, pos, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
        ASSERT_EQ(bytes, Skipped(pos) ? 0 : static_cast<LONG>(kFrameBytes)) << pos;
        EXPECT_EQ(stream->SampleFlags(pos), Skipped(pos) ? 0u : AVIIF_KEYFRAME) << pos;
    }
    for (LONG pos : {LONG{0}, past4GiB - 3, past4GiB, kPositions - 1}) {
        LONG bytes = -1;
        ASSERT_EQ(AVIStreamRead(stream, pos, 1, got.data(), static_cast<LONG>(got.size()), &bytes,
                                nullptr),
                  AVIERR_OK);
        EXPECT_TRUE(got == frames.Frame(pos)) << "frame " << pos;
    }
    AVIStreamRelease(stream);

#ifndef _WIN32
    // ffmpeg's view: every entry on the clock, the last picture as written.
    const VideoProbe probe = ProbeVideo(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_EQ(probe.height, kHeight);
    EXPECT_EQ(probe.frames, kPositions - 2);  // the two empty entries hold a picture
    const CommandResult nb = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 " +
        ShellQuote(path));
    EXPECT_EQ(nb.output, std::to_string(kPositions) + "\n");
    const CommandResult last =
        RunCommand("ffmpeg -v error -ss " + std::to_string((kPositions - 1) / 25.0) + " -i " +
                   ShellQuote(path) + " -frames:v 1 -f rawvideo -pix_fmt bgr0 -");
    ASSERT_EQ(last.output.size(), kFrameBytes);
    const std::vector<std::uint8_t>& want = frames.Frame(kPositions - 1);
    bool same = true;
    for (int y = 0; y < kHeight && same; ++y) {
        const std::uint8_t* row = want.data() + static_cast<size_t>(kHeight - 1 - y) * kWidth * 4;
        const char* out = last.output.data() + static_cast<size_t>(y) * kWidth * 4;
        for (int x = 0; x < kWidth && same; ++x) {
            same = std::memcmp(row + x * 4, out + x * 4, 3) == 0;
        }
    }
    EXPECT_TRUE(same) << "ffmpeg shows another last picture";
#endif
}

#ifndef _WIN32
TEST(AviLargeFile, FfmpegsAvi2FileReadsInOurReader) {
    const std::uint64_t free = FreeDiskBytes(OutputDir());
    if (free < kNeededFree) {
        GTEST_SKIP() << "needs 10 GiB free in " << OutputDir() << "; " << (free >> 20)
                     << " MiB free";
    }
    // 150 frames of 8 MB: two RIFFs, ffmpeg's own 'indx' and 'ix00'.
    const RemoveAtEnd file{OutputPath("ffmpeg_avi2.avi")};
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=1920x1080:rate=25 "
                         "-frames:v 150 -c:v rawvideo -pix_fmt bgra " +
                         ShellQuote(file.path))
                  .exitCode,
              0);
    EXPECT_EQ(ListRiffs(file.path).size(), 2u);
    PAVIFILE avi = nullptr;
    ASSERT_EQ(AVIFileOpenA(&avi, file.path.c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(avi, &stream, 0, 0), AVIERR_OK);
    AVIFileRelease(avi);
    ASSERT_EQ(AVIStreamLength(stream), 150);
    std::vector<std::uint8_t> got(kFrameBytes);
    for (LONG pos : {0, 70, 149}) {
        LONG bytes = -1;
        ASSERT_EQ(AVIStreamRead(stream, pos, 1, got.data(), static_cast<LONG>(got.size()), &bytes,
                                nullptr),
                  AVIERR_OK);
        ASSERT_EQ(bytes, static_cast<LONG>(kFrameBytes));
        std::vector<std::uint8_t> want;
        ASSERT_TRUE(DecodeFrameBgra(file.path, pos, kWidth, kHeight, &want));
        // ffmpeg stores this file's rows top-down, as it decodes them.
        EXPECT_EQ(Fnv1a(got.data(), got.size()), Fnv1a(want.data(), want.size()))
            << "frame " << pos;
    }
    AVIStreamRelease(stream);
}
#endif

}  // namespace
}  // namespace kelvora::test
