// The wave input under Wine, whose sound goes to the private PulseAudio of
// the test script (start_pulse in scripts/env.sh): a 1 kHz tone played into
// its null sink with paplay comes back from the default input, the sink's
// monitor, at the tone's level and frequency, channels in order; the devices
// are listed; a device that does not exist is refused with its name.
#include "engine/sound_input.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

class Collector final : public SoundInputSink {
  public:
    void SoundArrived(const void* data, std::size_t bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto* s = static_cast<const std::int16_t*>(data);
        samples_.insert(samples_.end(), s, s + bytes / 2);
    }
    void SoundFailed(const std::string& reason) override {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ += reason;
    }
    std::vector<std::int16_t> samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }
    std::string failure() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    std::string failure_;
};

// Index of the first stereo block whose left sample is loud, or npos.
size_t FirstLoud(const std::vector<std::int16_t>& s) {
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        if (std::abs(s[i]) > 4000) {
            return i / 2;
        }
    }
    return std::string::npos;
}

double Rms(const std::vector<std::int16_t>& s, size_t from, size_t blocks, int channel) {
    double sum = 0;
    for (size_t b = from; b < from + blocks; ++b) {
        const double v = s[b * 2 + static_cast<size_t>(channel)];
        sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(blocks));
}

TEST(SoundInput, ToneFromPulseAudioComesBackAtItsLevelAndFrequency) {
    if (std::getenv("KELVORA_TEST_SOUND") == nullptr) {
        GTEST_SKIP() << "no private PulseAudio: run scripts/test.sh, or start_pulse of "
                        "scripts/env.sh before ctest";
    }
    EXPECT_FALSE(SoundInputDevices().empty());

    // Three seconds of the tone: 1 kHz, left at half of full scale, right
    // inverted at a quarter.
    const vfw::WAVEFORMATEX format = Pcm16(44100, 2);
    const std::vector<std::int16_t> tone = Tone(format, 3 * 44100);
    const std::string tonePath = OutputPath("tone.wav");
    ASSERT_EQ(WriteWav(tonePath, format, tone), vfw::AVIERR_OK);

    Collector sink;
    std::string reason;
    std::unique_ptr<SoundInput> input = StartSoundInput("", &sink, &reason);
    ASSERT_NE(input, nullptr) << reason;
    EXPECT_EQ(input->format().samplesPerSec, 44100u);
    EXPECT_EQ(input->format().channels, 2);

    // paplay, a Linux program, through Wine's start /unix (the output path is
    // the Linux path that ctest gave).
    std::wstring command = L"start.exe /unix /usr/bin/paplay ";
    command += std::wstring(tonePath.begin(), tonePath.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // Until a second and a half of the tone has come (or 20 s have passed).
    std::vector<std::int16_t> got;
    for (int i = 0; i < 400; ++i) {
        Sleep(50);
        got = sink.samples();
        const size_t first = FirstLoud(got);
        if (first != std::string::npos && got.size() / 2 > first + 66150) {
            break;
        }
    }
    input->Stop();
    got = sink.samples();
    EXPECT_EQ(sink.failure(), "");

    const size_t first = FirstLoud(got);
    ASSERT_NE(first, std::string::npos) << "no tone in " << got.size() / 2 << " blocks";
    ASSERT_GT(got.size() / 2, first + 66150);
    // One second from a quarter second into the tone.
    const size_t from = first + 11025;
    int crossings = 0;
    for (size_t b = from + 1; b < from + 44100; ++b) {
        crossings += (got[(b - 1) * 2] < 0) != (got[b * 2] < 0);
    }
    const double hertz = crossings / 2.0;
    EXPECT_NEAR(hertz, 1000, 20);
    EXPECT_NEAR(Rms(got, from, 44100, 0), 16383 / std::sqrt(2.0), 16383 * 0.07);
    EXPECT_NEAR(Rms(got, from, 44100, 1), 8191 / std::sqrt(2.0), 8191 * 0.07);
    // The right channel is the left one inverted.
    EXPECT_LT(got[(from + 11) * 2] * static_cast<int>(got[(from + 11) * 2 + 1]), 0);
    std::printf("tone: %.1f Hz, RMS %.0f and %.0f, first loud block %zu of %zu\n", hertz,
                Rms(got, from, 44100, 0), Rms(got, from, 44100, 1), first, got.size() / 2);
}

TEST(SoundInput, MissingDeviceIsRefusedWithItsName) {
    Collector sink;
    std::string reason;
    EXPECT_EQ(StartSoundInput("Нет такого устройства", &sink, &reason), nullptr);
    EXPECT_EQ(reason, "устройство записи «Нет такого устройства» не найдено");
}

}  // namespace
}  // namespace kelvora::test
