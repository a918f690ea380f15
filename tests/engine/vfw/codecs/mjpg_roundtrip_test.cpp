// 'MJPG' frames written into AVI files at positions with gaps and decoded by
// ffmpeg: every depth, an odd size, over 200 frames each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/vfw/codecs/builtin.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_avi.h"
#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/synthetic_clip.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

// Lowest PSNR allowed for a frame decoded by ffmpeg, at the default quality,
// against what a lossless decoder shows of the source DIB. Measured lowest
// over each clip: 28.4 to 28.5 dB at 173x97 (every depth), 32.9 dB at
// 320x240; ffmpeg's colour conversion costs about 1 dB against libjpeg's
// own decoder (mjpg_codec_test).
double MinimumPsnr(int width) {
    return width == 320 ? 32.3 : 27.9;
}

struct Clip {
    int bits;
    int width;
    int height;
    int frames;
};

TEST(MjpgRoundTrip, EveryDepthThroughAviAndFfmpeg) {
    const Clip clips[] = {{8, 173, 97, 210},  {16, 173, 97, 210}, {24, 173, 97, 210},
                          {32, 173, 97, 210}, {16, 320, 240, 40}, {32, 320, 240, 40}};
    for (const Clip& clip : clips) {
        SCOPED_TRACE(testing::Message()
                     << clip.bits << " bits " << clip.width << "x" << clip.height);
        const std::vector<LONG> positions = PositionsWithGaps(clip.frames);
        ClipDibs toDib(clip.bits);
        std::vector<Picture> shown;  // what each frame should look like
        std::vector<CompressedFrame> frames;
        CodecDriver d(CreateMjpgCodec());
        for (int i = 0; i < clip.frames; ++i) {
            const PackedDib dib = toDib(ScreenFrame(clip.width, clip.height, i));
            if (i == 0) {
                ASSERT_EQ(d.Begin(dib.header()), ICERR_OK);
            }
            // The stream asks for a key frame every 15; all are key frames.
            ASSERT_EQ(
                d.Compress(dib.bits(), ICQUALITY_DEFAULT, i % 15 == 0 ? ICCOMPRESS_KEYFRAME : 0),
                ICERR_OK);
            ASSERT_EQ(d.frameFlags(), AVIIF_KEYFRAME);
            frames.push_back({d.frameBytes(), d.frameFlags(), positions[i]});
            shown.push_back(FromDib(dib));
        }
        ASSERT_EQ(d.End(), ICERR_OK);

        const std::string path = OutputPath("mjpg_" + std::to_string(clip.bits) + "_" +
                                            std::to_string(clip.width) + ".avi");
        ASSERT_TRUE(WriteClip(path, mmioFOURCC('M', 'J', 'P', 'G'), d.outputFormat(), frames));

        const VideoProbe probe = ProbeVideo(path);
        ASSERT_TRUE(probe.ok) << probe.error;
        EXPECT_EQ(probe.codecName, "mjpeg");
        EXPECT_EQ(probe.width, clip.width);
        EXPECT_EQ(probe.height, clip.height);
        EXPECT_EQ(probe.packets, clip.frames);
        EXPECT_EQ(probe.entries, positions.back() + 1);
        EXPECT_EQ(PacketTimes(path), std::vector<long long>(positions.begin(), positions.end()));

        std::vector<std::vector<std::uint8_t>> decoded;
        ASSERT_TRUE(DecodeFramesBgra(path, clip.width, clip.height, &decoded));
        ASSERT_EQ(decoded.size(), shown.size());
        double lowest = 99;
        for (size_t i = 0; i < decoded.size(); ++i) {
            const double psnr = PsnrAgainst(shown[i], decoded[i]);
            EXPECT_GE(psnr, MinimumPsnr(clip.width)) << "frame " << i;
            lowest = std::min(lowest, psnr);
        }
        RecordProperty(
            "lowest_psnr_" + std::to_string(clip.bits) + "_" + std::to_string(clip.width),
            std::to_string(lowest));
    }
}

}  // namespace
}  // namespace kelvora::test
