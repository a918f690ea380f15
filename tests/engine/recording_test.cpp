// Real recordings under Wine: the camera records a moving pattern on the
// screen through each built-in compressor (and the system's MS-RLE), keeps,
// discards, cancels and fails saves. The files are left in the test's output
// folder with a note of what the camera reported; recording_check_test.cpp
// then reads them with ffprobe and ffmpeg on the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/screen_camera.h"
#include "engine/vfw/vfw.h"
#include "engine/vfw/ic_provider.h"
#include "tests/engine/recording_pattern.h"
#include "tests/engine/recording_pattern_window.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace {

namespace rp = recording_pattern;
using kelvora::test::PumpFor;
using kelvora::test::PumpUntil;

constexpr int kLeft = 200, kTop = 150;

class RecordingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = rp::PatternProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoraRecordingPattern";
        RegisterClassW(&wc);
        rp::PatternStart = GetTickCount();
        window_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"pattern", WS_POPUP, kLeft,
                                  kTop, rp::kWidth, rp::kHeight, nullptr, nullptr, wc.hInstance,
                                  nullptr);
        ShowWindow(window_, SW_SHOW);
        SetTimer(window_, 1, 10, nullptr);
        SetCursorPos(kLeft + rp::kWidth + 40, kTop + rp::kHeight + 40);  // out of the picture
        PumpFor(300);
    }
    static void TearDownTestSuite() { DestroyWindow(window_); }

    void SetUp() override {
        camera_ = std::make_unique<TScreenCamera>(nullptr);
        camera_->FRegionType = 3;
        camera_->FLeft = kLeft;
        camera_->FTop = kTop;
        camera_->FWidth = rp::kWidth;
        camera_->FHeight = rp::kHeight;
        camera_->FRestoreAppWindowAfterCapture = false;
        camera_->FOnError = [this](TScreenCamera*, const std::string& m) {
            std::lock_guard<std::mutex> lock(mutex_);
            errors_.push_back(m);
        };
    }
    void TearDown() override { camera_.reset(); }

    int Slot(vfw::FOURCC handler) {
        for (int i = 0; i < camera_->FCodecCount; ++i) {
            if (vfw::FourccUpper(camera_->FCodecs[i].fccHandler) == vfw::FourccUpper(handler)) {
                return i;
            }
        }
        return -1;
    }

    // Records for `ms` milliseconds into `name`, stops with StopRecording
    // and waits for the worker to finish saving.
    bool Record(const std::string& name, DWORD ms) {
        target_ = kelvora::test::OutputPath(name);
        std::error_code ignored;  // a held file stays; the session deals with it
        std::filesystem::remove(target_, ignored);
        if (!camera_->StartRecording(target_)) {
            return false;
        }
        PumpFor(ms);
        camera_->StopRecording();
        return PumpUntil([this] { return camera_->FRecordThread.load() == nullptr; }, 60000);
    }

    // What the camera reported, for the host-side check.
    void WriteNote(const std::string& name, const std::string& kind) {
        std::ofstream note(kelvora::test::OutputPath(name + ".txt"));
        note << "kind " << kind << "\n"
             << "file " << name << "\n"
             << "written " << camera_->FFramesWritten << "\n"
             << "last_position " << camera_->FCurrentFrame << "\n"
             << "width " << camera_->FFrameWidth << "\n"
             << "height " << camera_->FFrameHeight << "\n"
             << "rate " << camera_->FFrameRatePlayback << "\n"
             << "bits " << camera_->FBitCount << "\n";
    }

    static bool TempFilesGone() {
        return !std::filesystem::exists(VideoTempFile.get()) &&
               !std::filesystem::exists(AudioTempFile.get());
    }

    static HWND window_;
    std::unique_ptr<TScreenCamera> camera_;
    std::string target_;
    std::mutex mutex_;
    std::vector<std::string> errors_;
};
HWND RecordingTest::window_ = nullptr;

TEST_F(RecordingTest, EachBuiltInCompressorRecordsThePattern) {
    const struct {
        const char* name;
        vfw::FOURCC handler;
    } codecs[] = {{"msvc", vfw::mmioFOURCC('M', 'S', 'V', 'C')},
                  {"zmbv", vfw::mmioFOURCC('Z', 'M', 'B', 'V')},
                  {"mjpg", vfw::mmioFOURCC('M', 'J', 'P', 'G')},
                  {"dib", vfw::mmioFOURCC('D', 'I', 'B', ' ')}};
    for (const auto& c : codecs) {
        SCOPED_TRACE(c.name);
        camera_->FCodecIndex = Slot(c.handler);
        ASSERT_GE(camera_->FCodecIndex, 0);
        const std::string name = std::string("rec-") + c.name + ".avi";
        ASSERT_TRUE(Record(name, 2500));
        EXPECT_EQ(StopReason.load(), kStopKeep);
        EXPECT_TRUE(std::filesystem::exists(target_));
        EXPECT_TRUE(TempFilesGone());
        EXPECT_GT(camera_->FFramesWritten, 10);
        WriteNote(name, "pattern");
    }
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(RecordingTest, SystemRunLengthCompressorRecordsEightBitFrames) {
    camera_->SetColorDepth(0);
    camera_->GetVideoCompressors();
    const int slot = Slot(vfw::mmioFOURCC('M', 'R', 'L', 'E'));
    ASSERT_GE(slot, 4) << "the system's MS-RLE is listed after the built-ins";
    camera_->FCodecIndex = slot;
    ASSERT_TRUE(Record("rec-mrle.avi", 2000));
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(std::filesystem::exists(target_));
    WriteNote("rec-mrle.avi", "pattern");
}

TEST_F(RecordingTest, DiscardedRecordingLeavesNothing) {
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('M', 'S', 'V', 'C'));
    target_ = kelvora::test::OutputPath("discarded.avi");
    std::filesystem::remove(target_);
    ASSERT_TRUE(camera_->StartRecording(target_));
    PumpFor(800);
    StopReason = kStopDiscard;
    camera_->FRecording = false;
    ASSERT_TRUE(PumpUntil([this] { return camera_->FRecordThread.load() == nullptr; }, 30000));
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_TRUE(TempFilesGone());
}

TEST_F(RecordingTest, CancelledSaveLeavesNoRecording) {
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('Z', 'M', 'B', 'V'));
    camera_->FOnProgress = [](TScreenCamera*, std::int32_t, const std::string& caption,
                              bool& go) {
        if (caption == "Saving Video...") {
            go = false;
        }
    };
    ASSERT_TRUE(Record("cancelled.avi", 800));
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_FALSE(std::filesystem::exists(kelvora::test::OutputPath("cancelled (1).avi")));
    EXPECT_TRUE(TempFilesGone());
    EXPECT_TRUE(errors_.empty());
}

// Another program holds a file of the recording's name open without
// sharing: it is left alone, and the recording takes the next free name.
TEST_F(RecordingTest, HeldFileOfTheNameStaysAndTheRecordingTakesTheNext) {
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('M', 'S', 'V', 'C'));
    const std::string held = kelvora::test::OutputPath("held.avi");
    const std::string next = kelvora::test::OutputPath("held (2).avi");
    std::filesystem::remove(next);
    { std::ofstream(held) << "in use"; }
    HANDLE lock = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Record("held.avi", 1200));
    CloseHandle(lock);
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(std::filesystem::exists(next));
    EXPECT_EQ(std::filesystem::file_size(held), 6u) << "the held file was touched";
    EXPECT_TRUE(TempFilesGone());
    WriteNote("held (2).avi", "pattern");
}

TEST_F(RecordingTest, LockedTemporaryFileIsScheduledTwentyFiveTimes) {
    const std::string path = kelvora::test::OutputPath("locked.tmp");
    { std::ofstream(path) << "locked"; }
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsFileLocked(path));
    std::vector<int> percents;
    camera_->FOnProgress = [&](TScreenCamera*, std::int32_t p, const std::string&, bool&) {
        percents.push_back(p);
    };
    const bool scheduled = DeleteTempFile(path);
    CloseHandle(lock);
    camera_->FOnProgress = nullptr;
    EXPECT_TRUE(scheduled);
    ASSERT_EQ(percents.size(), 25u);
    EXPECT_EQ(percents.front(), 4);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::filesystem::exists(path)) << "deleted only at the next restart";
    EXPECT_FALSE(IsFileLocked(path));
    EXPECT_TRUE(DeleteTempFile(path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RecordingTest, DestroyingTheCameraAbortsTheRecording) {
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    target_ = kelvora::test::OutputPath("destroyed.avi");
    std::filesystem::remove(target_);
    ASSERT_TRUE(camera_->StartRecording(target_));
    PumpFor(600);
    camera_.reset();
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_FALSE(std::filesystem::exists(target_));
    EXPECT_TRUE(TempFilesGone());
    PumpFor(100);  // the worker's end notice, posted for a camera now gone
}

}  // namespace
