// Checks, on the host with ffprobe and ffmpeg, the recordings that
// recording_test made under Wine: each note beside a file says what the
// camera reported; the decoded frames must show the moving pattern.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/engine/recording_pattern.h"
#include "tests/support/ffmpeg.h"
#include "tests/support/test_paths.h"

namespace {

namespace rp = recording_pattern;
namespace fs = std::filesystem;

const fs::path kFolder = fs::path(kelvora::test::WindowsTestOut(KELVORA_WIN_TEST_OUT)) / "recording_test";

std::map<std::string, std::string> ReadNote(const fs::path& path) {
    std::map<std::string, std::string> note;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // written in text mode under Windows
        }
        const auto space = line.find(' ');
        if (space != std::string::npos) {
            note[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    return note;
}

std::uint32_t Pixel(const std::vector<std::uint8_t>& frame, int x, int y) {
    const size_t i = (static_cast<size_t>(y) * rp::kWidth + x) * 4;
    return static_cast<std::uint32_t>(frame[i + 2]) << 16 | frame[i + 1] << 8 | frame[i];
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
            tolerance) {
            return false;
        }
    }
    return true;
}

void CheckRecording(const std::map<std::string, std::string>& note) {
    const std::string file = (kFolder / note.at("file")).string();
    SCOPED_TRACE(file);
    const kelvora::test::VideoProbe p = kelvora::test::ProbeVideo(file);
    ASSERT_TRUE(p.ok) << p.error;
    // Our own files decode without a complaint; the system's run-length
    // compressor (Wine's) ends its frames in a way the decoder mentions.
    if (p.codecName != "msrle") {
        EXPECT_EQ(p.warnings, "");
    }
    EXPECT_EQ(p.width, std::stoi(note.at("width")));
    EXPECT_EQ(p.height, std::stoi(note.at("height")));
    EXPECT_EQ(p.rateNum, std::stoi(note.at("rate")));
    EXPECT_EQ(p.rateDen, 1);
    EXPECT_EQ(p.entries, std::stoll(note.at("last_position")) + 1)
        << "the stream is last written position + 1 long";
    EXPECT_EQ(p.packets, std::stoll(note.at("written")));

    std::vector<std::vector<std::uint8_t>> frames;
    ASSERT_TRUE(kelvora::test::DecodeFramesBgra(file, rp::kWidth, rp::kHeight, &frames));
    ASSERT_EQ(static_cast<long long>(frames.size()), p.packets);
    // Lossy compressors blur edges; lossless ones show the colours exactly.
    const bool lossy = p.codecName == "msvideo1" || p.codecName == "mjpeg";
    const int tolerance = lossy ? 48 : 0;
    std::set<int> positions;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& f = frames[i];
        for (int x : {4, 160, 315}) {
            ASSERT_TRUE(Near(Pixel(f, x, 220), rp::kBand, tolerance)) << "band at " << x;
        }
        ASSERT_TRUE(Near(Pixel(f, 160, 8), rp::kBackground, tolerance));
        // One bar of the pattern's width on the middle row.
        int first = -1, bright = 0;
        for (int x = 0; x < rp::kWidth; ++x) {
            if (Near(Pixel(f, x, 100), rp::kBar, 80)) {
                first = first < 0 ? x : first;
                ++bright;
            }
        }
        ASSERT_GE(bright, rp::kBarWidth - 6);
        ASSERT_LE(bright, rp::kBarWidth + 6);
        positions.insert(first);
    }
    EXPECT_GT(positions.size(), frames.size() / 2) << "the bar moves from frame to frame";
}

TEST(RecordingCheck, RecordingsShowThePatternAndTheirTimeline) {
    ASSERT_TRUE(fs::is_directory(kFolder)) << kFolder << " is missing: recording_test runs first";
    std::set<std::string> checked;
    for (const auto& entry : fs::directory_iterator(kFolder)) {
        if (entry.path().extension() == ".txt") {
            const auto note = ReadNote(entry.path());
            CheckRecording(note);
            checked.insert(note.at("file"));
        }
    }
    for (const char* expected : {"rec-msvc.avi", "rec-zmbv.avi", "rec-mjpg.avi", "rec-dib.avi",
                                 "rec-mrle.avi", "held (2).avi"}) {
        EXPECT_EQ(checked.count(expected), 1u) << expected;
    }
}

// The areas chosen in the selection windows (recording_control_win_test).
TEST(RecordingCheck, SelectedAreasAreRecordedAtTheirSize) {
    const fs::path folder = fs::path(kelvora::test::WindowsTestOut(KELVORA_WIN_TEST_OUT)) / "recording_control_win_test";
    std::set<std::string> checked;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".txt") {
            const auto note = ReadNote(entry.path());
            const kelvora::test::VideoProbe p =
                kelvora::test::ProbeVideo((folder / note.at("file")).string());
            ASSERT_TRUE(p.ok) << note.at("file") << ": " << p.error;
            EXPECT_EQ(p.width, std::stoi(note.at("width"))) << note.at("file");
            EXPECT_EQ(p.height, std::stoi(note.at("height"))) << note.at("file");
            EXPECT_GT(p.frames, 5) << note.at("file");
            checked.insert(note.at("file"));
        }
    }
    EXPECT_EQ(checked, (std::set<std::string>{"area-drag.avi", "area-picked.avi", "area-held.avi"}));
}

TEST(RecordingCheck, NothingIsLeftOfDiscardedCancelledOrAbortedRecordings) {
    for (const char* name : {"discarded.avi", "cancelled.avi", "cancelled (1).avi",
                             "destroyed.avi"}) {
        EXPECT_FALSE(fs::exists(kFolder / name)) << name;
    }
}

}  // namespace
