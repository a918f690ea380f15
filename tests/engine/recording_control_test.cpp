// The camera's recording control with scripted windows and an injected
// screen: region modes and pending starts through the selection windows,
// the hot keys, follow-mouse clamping, the preview events (and what they
// grab), and stops made on the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/screen_camera.h"
#include "tests/engine/fake_platform.h"
#include "tests/support/test_paths.h"

namespace {

using Selection = CameraWindows::Selection;

struct PreviewEvent {
    bool bitmap, shown, recording;
    bool operator==(const PreviewEvent& o) const {
        return bitmap == o.bitmap && shown == o.shown && recording == o.recording;
    }
};

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kelvora::test::OutputPath(
            std::string("control-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ + "/temp");
        fake_.tempDirectory = dir_ + "/temp/";
        fake_.step = 10;
        InstallPlatform(&fake_);
        camera_ = std::make_unique<TScreenCamera>(nullptr);
        windows_ = fake_.windows;
        camera_->FCodecIndex = 3;  // 'DIB ': every size is taken
        camera_->FOnPreview = [this](TScreenCamera*, TBitmap* b, bool shown, bool recording) {
            previews_.push_back({b != nullptr, shown, recording});
        };
        PendingStart = false;
    }
    void TearDown() override {
        if (camera_ && camera_->FRecording) {
            camera_->StopRecording();
        }
        WaitForWorker();
        camera_.reset();
        InstallPlatform(nullptr);
    }
    void WaitForWorker() {
        while (camera_ && camera_->FRecordThread != nullptr) {
            fake_.RunUiWork();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    FakePlatform fake_;
    std::unique_ptr<TScreenCamera> camera_;
    FakeCameraWindows* windows_ = nullptr;
    std::string dir_;
    std::vector<PreviewEvent> previews_;
};

TEST_F(ControlTest, ModesTwoToFourRecordAtOnce) {
    for (std::uint8_t mode : {2, 3, 4}) {
        SCOPED_TRACE(static_cast<int>(mode));
        camera_->FRegionType = mode;
        camera_->FWidth = 64;
        camera_->FHeight = 48;
        ASSERT_TRUE(camera_->StartRecording(dir_ + "/m" + std::to_string(mode) + ".avi"));
        EXPECT_TRUE(windows_->timerEnabled);
        EXPECT_FALSE(PendingStart);
        if (mode == 4) {
            EXPECT_EQ(camera_->FWidth, 1024);
            EXPECT_EQ(camera_->FHeight, 768);
        }
        EXPECT_FALSE(camera_->StartRecording(dir_ + "/second.avi")) << "one recording at a time";
        camera_->StopRecording();
        EXPECT_FALSE(camera_->StartRecording(dir_ + "/second.avi")) << "the first is finishing";
        WaitForWorker();
    }
}

// The state through a recording whose area is selected first; afterwards,
// with the preview on and the mode back at 0 or 1, no selection opens: one
// opens only for a pending start.
TEST_F(ControlTest, SelectionStartsThePendingRecordingWithItsArea) {
    for (std::uint8_t mode : {0, 1}) {
        SCOPED_TRACE(static_cast<int>(mode));
        camera_->FRegionType = mode;
        const std::string file = dir_ + "/sel" + std::to_string(mode) + ".avi";
        windows_->select = [&](Selection kind, CameraWindows::Area* area) {
            EXPECT_EQ(kind, mode == 0 ? Selection::Window : Selection::Rectangle);
            EXPECT_FALSE(windows_->timerEnabled) << "no ticks while the window shows";
            EXPECT_FALSE(camera_->StartRecording(dir_ + "/nested.avi"))
                << "one selection at a time";
            EXPECT_EQ(camera_->State(), TCameraState::Selecting);
            *area = {40, 30, 120, 80};
            return CameraWindows::kOk;
        };
        EXPECT_EQ(camera_->State(), TCameraState::Idle);
        EXPECT_FALSE(camera_->StartRecording(file));
        EXPECT_TRUE(PendingStart);
        EXPECT_EQ(camera_->State(), TCameraState::Selecting);
        EXPECT_TRUE(windows_->timerEnabled);
        camera_->TimerTick();
        EXPECT_EQ(windows_->selectionsShown, mode == 0 ? 1 : 2);
        EXPECT_TRUE(camera_->FRecording);
        EXPECT_EQ(camera_->State(), TCameraState::Recording);
        EXPECT_EQ(camera_->FRegionType, 3);
        EXPECT_EQ(RecordFileName.get(), file);
        EXPECT_EQ(camera_->FLeft, 40);
        EXPECT_EQ(camera_->FWidth, 120);
        EXPECT_TRUE(windows_->frameShowing);
        EXPECT_EQ(windows_->frame.top, 30);
        camera_->StopRecording();
        EXPECT_EQ(camera_->State(), TCameraState::Finishing);
        WaitForWorker();
        EXPECT_EQ(camera_->State(), TCameraState::Idle);
        EXPECT_TRUE(std::filesystem::exists(file));

        camera_->FRegionType = mode;  // as a program would put its choice back
        camera_->SetPreview(true);
        for (int i = 0; i < 3; ++i) {
            camera_->TimerTick();
        }
        EXPECT_EQ(windows_->selectionsShown, mode == 0 ? 1 : 2) << "a selection opened unasked";
        EXPECT_FALSE(windows_->frameShowing) << "no area before a selection";
        EXPECT_EQ(camera_->State(), TCameraState::Idle);
        camera_->SetPreview(false);
    }
}

// Stop while a start waits for its selection: the window closes with Cancel,
// nothing is pending and nothing records; the preview goes on as it was.
TEST_F(ControlTest, StopDuringTheSelectionCancelsItAndThePendingStart) {
    camera_->FRegionType = 1;
    camera_->SetPreview(true);
    windows_->select = [&](Selection kind, CameraWindows::Area* area) {
        camera_->StopRecording();  // "Остановить" chosen while the window shows
        EXPECT_EQ(windows_->ended.back(), std::make_pair(kind, CameraWindows::kCancel));
        EXPECT_FALSE(PendingStart);
        *area = {10, 10, 50, 50};
        return CameraWindows::kCancel;
    };
    EXPECT_FALSE(camera_->StartRecording(dir_ + "/never.avi"));
    camera_->TimerTick();
    ASSERT_EQ(windows_->selectionsShown, 1);
    EXPECT_EQ(camera_->State(), TCameraState::Idle);
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_TRUE(windows_->timerEnabled) << "the preview's ticks go on";
    camera_->TimerTick();
    EXPECT_EQ(windows_->selectionsShown, 1);

    // A stop while the window has not opened yet (a plain cancel left the
    // start pending): the same.
    windows_->select = [](Selection, CameraWindows::Area*) { return CameraWindows::kCancel; };
    camera_->SetPreview(false);
    EXPECT_FALSE(camera_->StartRecording(dir_ + "/never.avi"));
    camera_->TimerTick();
    EXPECT_EQ(camera_->State(), TCameraState::Selecting);
    camera_->StopRecording();
    EXPECT_EQ(camera_->State(), TCameraState::Idle);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/never.avi"));
}

// Esc (the camera's cancel key) while the last recording is still being
// saved belongs to no recording: the save goes on and keeps the file.
TEST_F(ControlTest, CancelKeyWhileTheLastRecordingIsSavedKeepsIt) {
    camera_->FRegionType = 3;
    camera_->FWidth = 64;
    camera_->FHeight = 48;
    std::atomic<bool> stopped{false}, go{false};
    camera_->FOnRecordStop = [&](TScreenCamera*) {  // the worker, before it saves
        stopped = true;
        while (!go) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    const std::string file = dir_ + "/kept.avi";
    ASSERT_TRUE(camera_->StartRecording(file));
    camera_->StopRecording();
    while (!stopped) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(camera_->State(), TCameraState::Finishing);
    camera_->HotKeyWndProc(kWmHotKey, camera_->FHotKey2);
    camera_->HotKeyWndProc(kWmHotKey, camera_->FHotKey1);
    EXPECT_EQ(StopReason.load(), kStopKeep);
    go = true;
    WaitForWorker();
    EXPECT_TRUE(std::filesystem::exists(file));
    camera_->FOnRecordStop = nullptr;
}

TEST_F(ControlTest, CancelKeepsThePendingStartUntilEscClearsIt) {
    camera_->FRegionType = 1;
    windows_->select = [](Selection, CameraWindows::Area*) { return CameraWindows::kCancel; };
    EXPECT_FALSE(camera_->StartRecording(dir_ + "/a.avi"));
    camera_->TimerTick();
    EXPECT_TRUE(PendingStart) << "a plain cancel keeps the start pending";
    EXPECT_FALSE(windows_->timerEnabled);

    // The preview switched on re-opens the selection at the next tick; Esc
    // inside it cancels the window and the pending start.
    windows_->select = [&](Selection kind, CameraWindows::Area*) {
        camera_->HotKeyWndProc(kWmHotKey, camera_->FHotKey2);
        EXPECT_EQ(windows_->ended.back(), std::make_pair(kind, CameraWindows::kCancel));
        return CameraWindows::kCancel;
    };
    camera_->SetPreview(true);
    EXPECT_TRUE(windows_->timerEnabled);
    camera_->TimerTick();
    EXPECT_EQ(windows_->selectionsShown, 2);
    EXPECT_FALSE(PendingStart);
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_FALSE(camera_->FPreview) << "Esc during the preview switches it off";
}

TEST_F(ControlTest, PickerConfirmsOnlyAFramedRectangle) {
    windows_->showing[1] = true;  // as while the picker shows
    windows_->picker = {10, 10, 0, 50};
    camera_->HotKeyWndProc(kWmHotKey, camera_->FHotKey3);
    EXPECT_EQ(windows_->ended.back(), std::make_pair(Selection::Window, CameraWindows::kCancel));
    windows_->picker = {10, 10, 30, 50};
    camera_->HotKeyWndProc(kWmHotKey, camera_->FHotKey3);
    EXPECT_EQ(windows_->ended.back(), std::make_pair(Selection::Window, CameraWindows::kOk));
    windows_->showing[1] = false;
}

TEST_F(ControlTest, FollowMouseClampsToTheScreen) {
    camera_->FRegionType = 2;
    camera_->SetPreview(true);
    camera_->FWidth = 300;
    camera_->FHeight = 300;
    fake_.cursorX = 10;
    fake_.cursorY = 10;
    camera_->TimerTick();
    EXPECT_EQ(camera_->FLeft, 0);
    EXPECT_EQ(camera_->FTop, 0);
    fake_.cursorX = 1020;
    fake_.cursorY = 700;
    camera_->TimerTick();
    EXPECT_EQ(camera_->FLeft, 1024 - 300);
    EXPECT_EQ(camera_->FTop, 768 - 300);
    camera_->FWidth = 1100;  // wider than the screen
    camera_->TimerTick();
    EXPECT_EQ(camera_->FLeft, -76);
}

// Idle with no picture wanted, a frame's ticks come only as often as it can
// move; a picture wanted or a recording brings the 30 ms back at once.
TEST_F(ControlTest, IdleFramesTickOnlyAsOftenAsTheyCanMove) {
    camera_->FRegionType = 2;
    camera_->FWidth = camera_->FHeight = 100;
    camera_->SetPreview(true);
    camera_->FPreviewPictureWanted = false;
    const struct {
        int x;
        std::uint32_t ms;
    } ticks[] = {{500, 30}, {500, 100}, {500, 100}, {520, 30}, {520, 100}};
    for (const auto& t : ticks) {
        fake_.cursorX = t.x;
        camera_->TimerTick();
        EXPECT_EQ(windows_->timerMs, t.ms) << "mouse at " << t.x;
        EXPECT_EQ(windows_->frame.left, t.x - 50);
    }
    camera_->FPreviewPictureWanted = true;
    camera_->TimerTick();
    EXPECT_EQ(windows_->timerMs, 30u);
    camera_->FPreviewPictureWanted = false;
    camera_->FRegionType = 3;  // a fixed area
    camera_->TimerTick();
    EXPECT_EQ(windows_->timerMs, 250u);
    EXPECT_TRUE(windows_->frameShowing);
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/fixed.avi"));
    EXPECT_EQ(windows_->timerMs, 30u);
    camera_->TimerTick();
    EXPECT_EQ(windows_->timerMs, 30u);
    camera_->FRecording = false;
    WaitForWorker();
}

TEST_F(ControlTest, PreviewDuringARecordingGrabsOnlySmallAreas) {
    camera_->FRegionType = 3;
    camera_->SetPreview(true);
    camera_->FRecording = true;  // the tick only reads the flag
    camera_->FWidth = 800;
    camera_->FHeight = 600;
    camera_->TimerTick();
    camera_->FWidth = 801;
    camera_->TimerTick();
    camera_->FRecording = false;
    EXPECT_EQ(previews_, (std::vector<PreviewEvent>{{true, true, true}, {false, false, true}}));
    ASSERT_EQ(fake_.previewGrabs.size(), 1u);
    EXPECT_EQ(fake_.previewGrabs[0].width, 800);
}

// A tray program shows no preview: its handler says so, and the ticks then
// grab nothing while raising the same events.
TEST_F(ControlTest, PreviewThatIgnoresThePictureGrabsNothing) {
    camera_->FRegionType = 4;
    camera_->SetPreview(true);
    for (bool wanted : {true, false}) {
        camera_->FPreviewPictureWanted = wanted;
        previews_.clear();
        fake_.previewGrabs.clear();
        for (int i = 0; i < 10; ++i) {
            camera_->TimerTick();
        }
        EXPECT_EQ(fake_.previewGrabs.size(), wanted ? 10u : 0u);
        ASSERT_EQ(previews_.size(), 10u);
        EXPECT_EQ(previews_.back(), (PreviewEvent{wanted, true, false}));
        EXPECT_TRUE(windows_->frameShowing);
        EXPECT_EQ(windows_->frame.width, 1024);
    }
}

TEST_F(ControlTest, IdleTickHidesTheFrameAndFullScreenRecordingWithoutPreviewToo) {
    camera_->FRegionType = 4;
    camera_->SetPreview(true);
    camera_->TimerTick();
    EXPECT_TRUE(windows_->frameShowing);
    camera_->SetPreview(false);
    EXPECT_FALSE(windows_->timerEnabled);
    EXPECT_EQ(previews_.back(), (PreviewEvent{false, false, false}));
    // A tick that comes although nothing is to be shown hides the frame.
    windows_->frameShowing = true;
    camera_->TimerTick();
    EXPECT_FALSE(windows_->frameShowing);
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/full.avi"));
    windows_->frameShowing = true;
    camera_->TimerTick();
    EXPECT_FALSE(windows_->frameShowing);
    EXPECT_EQ(previews_.back(), (PreviewEvent{false, false, true}));
}

// A stop made on the worker (the timed stop) changes the flags at once and
// leaves the timer and the frame to the UI thread.
TEST_F(ControlTest, WorkerStopHandsTheWindowWorkToTheUiThread) {
    camera_->FRegionType = 3;
    camera_->FWidth = 64;
    camera_->FHeight = 48;
    camera_->FTimerCapture = TTimerCapture{1, 0, 0, 0};
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/timed.avi"));
    while (camera_->FRecording) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(StopReason.load(), kStopKeep);
    EXPECT_TRUE(windows_->timerEnabled) << "not touched from the worker";
    WaitForWorker();
    EXPECT_FALSE(windows_->timerEnabled) << "the preview is off: the timer stops";
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/timed.avi"));

    // The grabber's abort (a picture it cannot convert) made on the worker:
    // the same, although the flag is down before the UI thread runs.
    camera_->FTimerCapture = TTimerCapture{};
    ASSERT_TRUE(camera_->StartRecording(dir_ + "/aborted.avi"));
    std::thread([this] { camera_->AbortRecording(); }).join();
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    WaitForWorker();
    EXPECT_FALSE(windows_->timerEnabled) << "the timer would run on for good";
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/aborted.avi"));
}

}  // namespace
