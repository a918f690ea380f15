// Checks, on the host with ffprobe and ffmpeg, what Kelvora.exe left in
// kelvora_e2e_test's cases: each note names a file. Recordings are whole
// screens (or the area the note gives) at 40 frames a second whose timeline
// matches the time they ran (a recovered one's less at most its last second);
// the moving pattern is cut out of every frame and must move. Screenshots
// decode to the screen's size and show the pattern's still parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/recording_pattern.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace {

namespace rp = recording_pattern;
namespace fs = std::filesystem;
using kelvora::test::RunCommand;
using kelvora::test::ShellQuote;

const fs::path kFolder = fs::path(kelvora::test::WindowsTestOut(KELVORA_WIN_TEST_OUT)) / "kelvora_e2e_test";
constexpr int kScreenWidth = 1920, kScreenHeight = 1080;

using Note = std::map<std::string, std::string>;
using Frame = std::vector<std::uint8_t>;  // B, G, R, A, top row first

Note ReadNote(const fs::path& path) {
    Note note;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto space = line.find(' ');
        if (space != std::string::npos) {
            note[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    return note;
}

// Every picture of the file's first video stream, cut to the pattern's
// rectangle (one coded picture each, held entries not repeated).
bool DecodePattern(const std::string& file, const Note& note, std::vector<Frame>* frames) {
    const std::string crop = "crop=" + std::to_string(rp::kWidth) + ":" +
                             std::to_string(rp::kHeight) + ":" + note.at("left") + ":" +
                             note.at("top");
    const std::string cmd = "ffmpeg -v error -i " + ShellQuote(file) +
                            " -map 0:v:0 -fps_mode passthrough -vf " + crop +
                            " -f rawvideo -pix_fmt bgra -";
    const kelvora::test::CommandResult r = RunCommand(cmd);
    const size_t size = static_cast<size_t>(rp::kWidth) * rp::kHeight * 4;
    if (r.exitCode != 0 || r.output.empty() || r.output.size() % size != 0) {
        return false;
    }
    for (size_t at = 0; at < r.output.size(); at += size) {
        frames->emplace_back(r.output.begin() + static_cast<std::ptrdiff_t>(at),
                             r.output.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return true;
}

std::uint32_t Pixel(const Frame& f, int x, int y) {
    const size_t i = (static_cast<size_t>(y) * rp::kWidth + x) * 4;
    return static_cast<std::uint32_t>(f[i + 2]) << 16 | f[i + 1] << 8 | f[i];
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) -
                     static_cast<int>((b >> shift) & 0xFF)) > tolerance) {
            return false;
        }
    }
    return true;
}

// The still parts of the pattern: the band along the bottom and the dark
// background above the bar.
void ExpectStillParts(const Frame& f, int tolerance) {
    for (int x : {4, 160, 315}) {
        ASSERT_TRUE(Near(Pixel(f, x, 220), rp::kBand, tolerance)) << "band at " << x;
    }
    ASSERT_TRUE(Near(Pixel(f, 160, 8), rp::kBackground, tolerance)) << "background";
}

// The bar's left edge on the middle row, or -1 when no bar of its width shows.
int BarAt(const Frame& f) {
    int first = -1, bright = 0;
    for (int x = 0; x < rp::kWidth; ++x) {
        if (Near(Pixel(f, x, 100), rp::kBar, 80)) {
            first = first < 0 ? x : first;
            ++bright;
        }
    }
    return bright >= rp::kBarWidth - 6 && bright <= rp::kBarWidth + 6 ? first : -1;
}

void CheckRecording(const Note& note, const std::string& codec) {
    const std::string file = (kFolder / note.at("file")).string();
    SCOPED_TRACE(file);
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(file);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.codecName, codec);
    EXPECT_EQ(p.warnings, "") << "the file decodes whole";
    EXPECT_EQ(p.width, note.count("width") ? std::stoi(note.at("width")) : kScreenWidth);
    EXPECT_EQ(p.height, note.count("height") ? std::stoi(note.at("height")) : kScreenHeight);
    EXPECT_EQ(p.rateNum, 40);
    EXPECT_EQ(p.rateDen, 1);
    // One entry per 25 ms slot from the first frame to the last: the time
    // the test saw the recording run, less the worker's start and stop.
    const double slots = std::stod(note.at("ms")) / 25.0;
    // A recording cut off by a kill: the same allowance for the start, less
    // the one second that may not have reached the system.
    const long long lost = note.at("kind") == "recovered" ? 40 : 0;
    if (lost != 0) {
        std::printf("%s: %lld entries of %.0f slots\n", file.c_str(), p.entries, slots);
    }
    EXPECT_GE(p.entries, static_cast<long long>(slots * 0.75) - 10 - lost)
        << "of " << slots << " slots";
    EXPECT_LE(p.entries, static_cast<long long>(slots * 1.15) + 12) << "of " << slots << " slots";
    EXPECT_GT(p.packets, 3);

    std::vector<Frame> frames;
    ASSERT_TRUE(DecodePattern(file, note, &frames));
    ASSERT_EQ(static_cast<long long>(frames.size()), p.packets);
    const bool lossy = p.codecName == "msvideo1" || p.codecName == "mjpeg";
    std::set<int> positions;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        ExpectStillParts(frames[i], lossy ? 48 : 0);
        const int bar = BarAt(frames[i]);
        ASSERT_GE(bar, 0) << "no bar";
        positions.insert(bar);
    }
    EXPECT_GT(positions.size(), frames.size() / 2) << "the bar moves from frame to frame";
}

void CheckPicture(const Note& note, const std::string& codec) {
    const std::string file = (kFolder / note.at("file")).string();
    SCOPED_TRACE(file);
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(file);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.codecName, codec);
    EXPECT_EQ(p.width, kScreenWidth);
    EXPECT_EQ(p.height, kScreenHeight);
    std::vector<Frame> frames;
    ASSERT_TRUE(DecodePattern(file, note, &frames));
    ASSERT_EQ(frames.size(), 1u);
    ExpectStillParts(frames[0], p.codecName == "mjpeg" ? 48 : 0);
    EXPECT_GE(BarAt(frames[0]), 0) << "no bar";
}

// Each case's file, with the format ffmpeg must find in it: the compressor
// `Codec` chose (catalogue order MSVC, ZMBV, MJPG, DIB) or the picture's.
const std::map<std::string, std::string> kExpected = {
    {"hotkeys-msvc", "msvideo1"}, {"hotkeys-zmbv", "zmbv"},         {"hotkeys-mjpg", "mjpeg"},
    {"hotkeys-dib", "rawvideo"},  {"exit-while-recording", "zmbv"}, {"tray-menu", "mjpeg"},
    {"long-save", "rawvideo"},    {"screenshot-BMP", "bmp"},        {"screenshot-JPG", "mjpeg"},
    {"screenshot-PNG", "png"},    {"area-rectangle", "zmbv"},       {"recovered-output", "zmbv"},
    {"recovered-temp", "zmbv"},   {"settings-screenshot", "mjpeg"}, {"linked-temp", "msvideo1"},
    {"end-session", "zmbv"},      {"hotkeys-during", "msvideo1"},   {"sound-tone", "zmbv"},
    {"sound-off", "zmbv"},        {"sound-sync", "zmbv"},           {"sound-missing-device", "zmbv"},
    {"sound-recovered", "zmbv"}};

// The sound a case noted: "none" (one stream), "tone" (the test's 1 kHz
// tone at its level), "silence", "click" (first loud sound against the
// first white frame) or "any"; the sound lasts as long as the picture.
void CheckSound(const Note& note) {
    const std::string file = (kFolder / note.at("file")).string();
    SCOPED_TRACE(file);
    const std::string what = note.at("sound");
    const kelvora::test::AudioProbe a = kelvora::test::ProbeAudio(file);
    if (what == "none") {
        EXPECT_FALSE(a.ok) << "a sound stream";
        return;
    }
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.codecName, "pcm_s16le");
    const kelvora::test::VideoProbe v = kelvora::test::ProbeVideo(file);
    const double soundMs = 1000.0 * static_cast<double>(a.blocks) / a.sampleRate;
    const double pictureMs = 25.0 * static_cast<double>(v.entries);
    std::printf("%s: sound %.1f ms, picture %.1f ms (%+.1f ms)\n", file.c_str(), soundMs,
                pictureMs, soundMs - pictureMs);
    // A killed run loses up to its last flush of either.
    EXPECT_NEAR(soundMs, pictureMs, what == "any" ? 1000.0 : 25.0);
    std::vector<std::int16_t> s;
    ASSERT_TRUE(kelvora::test::DecodeAudioS16(file, &s));
    const size_t channels = static_cast<size_t>(a.channels);
    const auto left = [&](size_t block) { return s[block * channels]; };
    const size_t blocks = s.size() / channels;
    if (what == "silence") {
        EXPECT_EQ(std::count(s.begin(), s.end(), 0), static_cast<long>(s.size()));
    } else if (what == "tone") {
        // Two seconds from the first: crossings and level of the left channel.
        const size_t from = static_cast<size_t>(a.sampleRate), count = 2 * from;
        ASSERT_GT(blocks, from + count);
        int crossings = 0;
        double sum = 0;
        for (size_t b = from; b < from + count; ++b) {
            crossings += (left(b - 1) < 0) != (left(b) < 0);
            sum += static_cast<double>(left(b)) * left(b);
        }
        const double hertz = crossings / 4.0;
        const double rms = std::sqrt(sum / static_cast<double>(count));
        std::printf("%s: tone %.1f Hz, RMS %.0f (played %.0f)\n", file.c_str(), hertz, rms,
                    16383 / std::sqrt(2.0));
        EXPECT_NEAR(hertz, 1000, 20);
        EXPECT_NEAR(rms, 16383 / std::sqrt(2.0), 16383 * 0.07);
    } else if (what == "click") {
        size_t loud = 0;
        while (loud < blocks && std::abs(left(loud)) < 8000) {
            ++loud;
        }
        ASSERT_LT(loud, blocks) << "no click";
        std::vector<Frame> frames;
        ASSERT_TRUE(DecodePattern(file, note, &frames));
        const std::vector<long long> times = kelvora::test::PacketTimes(file);
        ASSERT_EQ(times.size(), frames.size());
        size_t white = 0;
        while (white < frames.size() &&
               !(Near(Pixel(frames[white], 160, 8), 0xFFFFFF, 16) &&
                 Near(Pixel(frames[white], 4, 220), 0xFFFFFF, 16))) {
            ++white;
        }
        ASSERT_LT(white, frames.size()) << "no white frame";
        const double clickMs = 1000.0 * static_cast<double>(loud) / a.sampleRate;
        const double whiteMs = 25.0 * static_cast<double>(times[white]);
        std::printf("%s: click at %.1f ms, first white frame at %.1f ms: offset %+.1f ms\n",
                    file.c_str(), clickMs, whiteMs, clickMs - whiteMs);
        EXPECT_LE(std::abs(clickMs - whiteMs), 100.0);
    }
}

TEST(KelvoraE2eCheck, RecordingsAndScreenshotsShowTheScreen) {
    ASSERT_TRUE(fs::is_directory(kFolder)) << kFolder << " is missing: kelvora_e2e_test runs first";
    std::set<std::string> checked;
    for (const auto& entry : fs::directory_iterator(kFolder)) {
        if (entry.path().extension() != ".txt") {
            continue;
        }
        const std::string tag = entry.path().stem().string();
        const auto expected = kExpected.find(tag);
        ASSERT_NE(expected, kExpected.end()) << tag;
        const Note note = ReadNote(entry.path());
        if (note.at("kind") != "picture" && tag != "sound-sync") {  // it turns white
            CheckRecording(note, expected->second);
        }
        if (note.count("sound") != 0) {
            CheckSound(note);
        } else if (note.at("kind") == "picture") {
            CheckPicture(note, expected->second);
        }
        checked.insert(tag);
    }
    EXPECT_EQ(checked.size(), kExpected.size());
}

}  // namespace
