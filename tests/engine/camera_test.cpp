// The camera object: its defaults, colour depth, temporary file names and
// the worker's life cycle.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/screen_camera.h"
#include "tests/engine/fake_platform.h"
#include "tests/support/test_paths.h"

namespace {

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kelvora::test::OutputPath(
            std::string("camera-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        fake_.tempDirectory = dir_ + "\\";
        InstallPlatform(&fake_);
    }
    void TearDown() override { InstallPlatform(nullptr); }

    FakePlatform fake_;
    std::string dir_;
};

TEST_F(CameraTest, StartsWithItsDefaults) {
    fake_.screenWidth = 1280;
    fake_.screenHeight = 1024;
    TScreenCamera camera(reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(CurrentCamera.load(), &camera);
    EXPECT_EQ(camera.FOwnerForm, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(camera.FRegionType, 2);
    EXPECT_EQ(camera.FLeft, 0);
    EXPECT_EQ(camera.FTop, 0);
    EXPECT_EQ(camera.FWidth, 300);
    EXPECT_EQ(camera.FHeight, 300);
    EXPECT_EQ(camera.FColorDepth, 3);
    EXPECT_EQ(camera.FBitCount, 32);
    EXPECT_EQ(camera.FFilterColor, 0);
    EXPECT_TRUE(camera.FRecordCursor);
    EXPECT_TRUE(camera.FDrawAreaCapture);
    EXPECT_TRUE(camera.FLineRectClear);
    EXPECT_TRUE(camera.FRestoreAppWindowAfterCapture);
    EXPECT_TRUE(camera.FMinimizeAppOnStart);
    EXPECT_EQ(camera.FVideoPriority, 3);
    EXPECT_EQ(camera.FMSPFRecord, 25);
    EXPECT_EQ(camera.FFrameRatePlayback, 40);
    EXPECT_EQ(camera.FKeyFramesEvery, 15);
    EXPECT_EQ(camera.FCompressionQuality, 9000);
    EXPECT_EQ(camera.FCodecIndex, -1);
    EXPECT_EQ(camera.FVideoCodecHandler, 0x4356534Du);
    EXPECT_EQ(camera.FCodecName.get(), "MS Video Codec");
    EXPECT_EQ(camera.FTimerCapture.load().Enabled, 0);
    EXPECT_FALSE(camera.FRecordAudio);
    EXPECT_FALSE(camera.FRecording);
    EXPECT_EQ(camera.FRecordThread.load(), nullptr);
    EXPECT_FALSE(camera.FPreview);
    EXPECT_FALSE(camera.FFollowMouse || camera.FFullScreen || camera.FPickWindowPending ||
                 camera.FSelectRegionPending);
    EXPECT_EQ(camera.FScreenWidth, 1280);
    EXPECT_EQ(camera.FScreenHeight, 1024);
    EXPECT_EQ(StopReason.load(), kStopNone);
    // The construction enumerated the compressors with a frame of the area.
    ASSERT_FALSE(fake_.grabs.empty());
    EXPECT_EQ(fake_.grabs[0].width, 300);
    EXPECT_EQ(fake_.grabs[0].height, 300);
    EXPECT_GE(camera.FCodecCount, 4);
    EXPECT_EQ(fake_.framesLive, 0) << "the test frame was freed";
}

TEST_F(CameraTest, ColorDepthIndexChoosesBitsPerPixel) {
    TScreenCamera camera(nullptr);
    camera.SetColorDepth(0);
    EXPECT_EQ(camera.FBitCount, 8);
    camera.SetColorDepth(1);
    EXPECT_EQ(camera.FBitCount, 16);
    camera.SetColorDepth(2);
    EXPECT_EQ(camera.FBitCount, 24);
    camera.SetColorDepth(7);
    EXPECT_EQ(camera.FColorDepth, 7);
    EXPECT_EQ(camera.FBitCount, 32);
    EXPECT_EQ(*reinterpret_cast<int*>(camera.FFrameBitmap), 32);
    camera.FBitCount = 5;  // only a real change of index recomputes it
    camera.SetColorDepth(7);
    EXPECT_EQ(camera.FBitCount, 5);
}

TEST_F(CameraTest, TemporaryFilesLieInTheTemporaryDirectory) {
    {
        fake_.tempDirectory = "C:\\Temp";
        TScreenCamera camera(nullptr);
        EXPECT_EQ(VideoTempFile.get(), "C:\\Temp\\~vstream.avi");
        EXPECT_EQ(AudioTempFile.get(), "C:\\Temp\\~astream.wav");
    }
    {
        fake_.tempDirectory = "C:\\Temp\\";
        TScreenCamera camera(nullptr);
        EXPECT_EQ(VideoTempFile.get(), "C:\\Temp\\~vstream.avi");
    }
    {
        fake_.tempDirectory = "";
        TScreenCamera camera(nullptr);
        EXPECT_EQ(VideoTempFile.get(), "\\~vstream.avi");
    }
    // A leftover not recovered yet (another program held it at the start):
    // the camera records beside it and never wipes it.
    fake_.tempDirectory = dir_ + "\\";
    std::ofstream(dir_ + "\\~vstream.avi") << "a cut-off recording";
    {
        TScreenCamera camera(nullptr);
        EXPECT_EQ(VideoTempFile.get(), dir_ + "\\~vstream (2).avi");
    }
    EXPECT_TRUE(std::filesystem::exists(dir_ + "\\~vstream.avi"));
    std::filesystem::remove(dir_ + "\\~vstream.avi");
}

TEST_F(CameraTest, RegionModeSetsOneFlag) {
    TScreenCamera camera(nullptr);
    for (std::uint8_t mode = 0; mode <= 4; ++mode) {
        camera.FRegionType = mode;
        camera.ApplyRegionMode();
        EXPECT_EQ(camera.FPickWindowPending, mode == 0);
        EXPECT_EQ(camera.FSelectRegionPending, mode == 1);
        EXPECT_EQ(camera.FFollowMouse, mode == 2);
        EXPECT_EQ(camera.FFullScreen, mode == 4);
    }
    camera.FRegionType = 9;  // leaves the flags as they were
    camera.ApplyRegionMode();
    EXPECT_TRUE(camera.FFullScreen);
}

// Waits until `done` holds, running the UI-thread work meanwhile.
template <typename Pred>
bool RunUiUntil(FakePlatform& fake, Pred done) {
    for (int i = 0; i < 2000; ++i) {
        fake.RunUiWork();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(CameraTest, DestroyingTheCameraWhileRecordingAbortsAndWaits) {
    const std::string target = dir_ + "/aborted.avi";
    auto camera = std::make_unique<TScreenCamera>(nullptr);
    camera->FRegionType = 3;
    camera->FCodecIndex = 3;  // uncompressed
    camera->FWidth = 64;
    camera->FHeight = 48;
    fake_.step = 7;
    std::atomic<int> grabbed{0};
    fake_.onGrab = [&](int) {
        ++grabbed;
        return true;
    };
    ASSERT_TRUE(camera->StartRecording(target));
    EXPECT_FALSE(camera->StartRecording(target)) << "a second start is refused";
    ASSERT_TRUE(RunUiUntil(fake_, [&] { return grabbed > 20; }));
    const std::string video = VideoTempFile;
    camera.reset();  // waits for the worker
    EXPECT_EQ(StopReason.load(), kStopDiscard);
    EXPECT_FALSE(std::filesystem::exists(target)) << "an aborted recording is not saved";
    EXPECT_FALSE(std::filesystem::exists(video));
    EXPECT_EQ(fake_.framesLive, 0);
    EXPECT_EQ(fake_.RunUiWork(), 0) << "work posted for the dead camera is dropped";
}

TEST_F(CameraTest, TheWorkerEndsOnTheUiThreadAndAllowsTheNextStart) {
    TScreenCamera camera(nullptr);
    camera.FRegionType = 3;
    camera.FCodecIndex = 3;
    camera.FWidth = 32;
    camera.FHeight = 32;
    fake_.step = 5;
    fake_.onGrab = [&](int index) {
        if (index > 30) {
            camera.StopRecording();
        }
        return true;
    };
    const std::string target = dir_ + "/first.avi";
    ASSERT_TRUE(camera.StartRecording(target));
    ASSERT_TRUE(RunUiUntil(fake_, [&] { return camera.FRecordThread.load() == nullptr; }));
    EXPECT_FALSE(camera.FRecording);
    EXPECT_EQ(StopReason.load(), kStopKeep);
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(VideoTempFile.get()));
    fake_.onGrab = [&](int) {
        camera.StopRecording();
        return true;
    };
    // The worker's end never reaches the UI thread (its queue was full):
    // the camera still takes the next start once the worker has ended.
    fake_.losePosts = true;
    EXPECT_TRUE(camera.StartRecording(dir_ + "/second.avi"));
    ASSERT_TRUE(RunUiUntil(fake_, [&] {
        const TRecordAVIThread* worker = camera.FRecordThread;
        return worker == nullptr || worker->Ended();
    }));
    EXPECT_TRUE(camera.StartRecording(dir_ + "/third.avi"));
    fake_.losePosts = false;
    ASSERT_TRUE(RunUiUntil(fake_, [&] { return camera.FRecordThread.load() == nullptr; }));
}

}  // namespace
