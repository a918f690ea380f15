// The sound of one recording end to end on the host: buffers of a tone into
// the temporary sound file through the sync rule; the file a process killed
// mid-way leaves holds the sound up to the last flush; a device that fails
// is reported once and silence keeps the sound as long as the picture; a
// full disk is reported once and the picture's recording is not disturbed.
#include "engine/sound_recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/vfw/avi_testing.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

constexpr std::uint32_t kStartMs = 5000;
constexpr std::uint32_t kFrameMs = 25;

struct ToneRecording {
    explicit ToneRecording(const std::string& name) : path(OutputPath(name)) {
        std::string reason;
        EXPECT_TRUE(recording.Start(
            path, SoundFormat{44100, 2}, [this] { return now; }, kStartMs, kFrameMs, &reason))
            << reason;
    }
    // `ms` of the tone, in 50 ms buffers that arrive on time, with the
    // recording loop's flush every 500 ms.
    void Play(std::uint32_t ms) {
        for (std::uint32_t t = 0; t < ms; t += 50) {
            now += 50;
            const std::vector<std::int16_t> tone = Tone(Pcm16(44100, 2), 2205, played);
            recording.SoundArrived(tone.data(), tone.size() * 2);
            played += 2205;
            if (now % 500 == 0) {
                recording.Flush();
            }
        }
    }
    // Time passes with the flushes but no sound.
    void Wait(std::uint32_t ms) {
        for (std::uint32_t end = now + ms; now < end;) {
            now += 500;
            recording.Flush();
        }
    }
    std::vector<std::int16_t> Read() const {
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> format;
        std::vector<std::int16_t> sound;
        EXPECT_EQ(ReadSound(path, &info, &format, &sound), AVIERR_OK);
        return sound;
    }

    std::string path;
    std::uint32_t now = kStartMs;
    size_t played = 0;
    SoundRecording recording;
};

TEST(SoundRecording, KilledMidWayDeviceFailingAndTheEnd) {
    ToneRecording r("recording.wav");
    r.Play(2000);
    std::string reason;
    EXPECT_FALSE(r.recording.TakeProblem(&reason));
    // A killed process leaves the file as it is now: the sound up to the last
    // flush (the first buffers were held while the sync settled).
    const std::vector<std::int16_t> killed = r.Read();
    EXPECT_GE(killed.size(), (2000u - 200) * 441 / 10 * 2);

    r.recording.SoundFailed("устройство записи отключено");
    r.Wait(3000);
    r.recording.Finish(kStartMs + 5000);
    ASSERT_TRUE(r.recording.TakeProblem(&reason));
    EXPECT_EQ(reason, "устройство записи отключено");
    EXPECT_FALSE(r.recording.TakeProblem(&reason));

    // The tone unchanged from the start (buffers on time need no mending),
    // then silence to the picture's end.
    const std::vector<std::int16_t> sound = r.Read();
    EXPECT_NEAR(static_cast<double>(sound.size()) / 2, 5 * 44100, 44100 * kFrameMs / 1000);
    const std::vector<std::int16_t> tone = Tone(Pcm16(44100, 2), 2 * 44100);
    ASSERT_GT(sound.size(), tone.size());
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), sound.begin()));
    EXPECT_EQ(std::count(sound.begin() + static_cast<long>(tone.size()), sound.end(), 0),
              sound.end() - (sound.begin() + static_cast<long>(tone.size())));
}

TEST(SoundRecording, FullDiskIsReportedOnce) {
    ToneRecording r("full.wav");
    r.Play(1000);
    SetWriteLimitForTesting(200000);  // about 1.1 s of sound
    r.Play(1000);
    SetWriteLimitForTesting(0);
    std::string reason;
    ASSERT_TRUE(r.recording.TakeProblem(&reason));
    EXPECT_EQ(reason, "не удалось записать звук во временный файл (диск заполнен?)");
    r.Play(500);
    r.recording.Finish(r.now);
    EXPECT_FALSE(r.recording.TakeProblem(&reason));
    const std::vector<std::int16_t> sound = r.Read();
    EXPECT_GT(sound.size(), 44100u * 2 * 8 / 10);
    EXPECT_LT(sound.size(), 200000u / 2);
}

}  // namespace
}  // namespace kelvora::test
