// Checks, on the host with ffprobe and ffmpeg, what Kelvora.exe left in
// kelvora_e2e_test's cases: each note names a file. Recordings are whole
// screens (or the area the note gives) at 40 frames a second whose timeline
// matches the time they ran (a recovered one's less at most its last second);
// the moving pattern is cut out of every frame and must move. Screenshots
// decode to the screen's size and show the pattern's still parts.
#include <gtest/gtest.h>

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
    {"end-session", "zmbv"},      {"hotkeys-during", "msvideo1"}};

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
        if (note.at("kind") != "picture") {
            CheckRecording(note, expected->second);
        } else {
            CheckPicture(note, expected->second);
        }
        checked.insert(tag);
    }
    EXPECT_EQ(checked.size(), kExpected.size());
}

}  // namespace
