// Under Wine: the worker never makes the UI thread wait for it. The camera is
// destroyed on the UI thread while the worker needs that thread (restoring a
// minimised owner, asking the default-compressor question); a watchdog fails
// the test instead of letting a deadlock hang it. The save's hourglass is
// set on the UI thread and the cursor shown before comes back.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "tests/engine/test_codecs.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace {

using kelvora::test::ColourWindow;
using kelvora::test::PumpUntil;

constexpr wchar_t kQuestionCaption[] = L"Уведомление";

// Ends the process with a message when a step takes too long: a deadlock
// would otherwise hang the test until ctest's timeout.
class Watchdog {
public:
    explicit Watchdog(const char* what, DWORD ms) : what_(what) {
        thread_ = std::thread([this, ms] {
            const DWORD start = GetTickCount();
            while (!done_) {
                if (GetTickCount() - start > ms) {
                    std::fprintf(stderr, "deadlock: %s did not end\n", what_);
                    std::_Exit(3);
                }
                Sleep(20);
            }
        });
    }
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }

private:
    const char* what_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class CameraExitTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner_ = std::make_unique<ColourWindow>(RECT{100, 100, 300, 200}, RGB(0, 128, 0));
        camera_ = std::make_unique<TScreenCamera>(owner_->get());
        camera_->FRegionType = 3;
        camera_->FLeft = 100;
        camera_->FTop = 100;
        camera_->FWidth = 64;
        camera_->FHeight = 64;
        camera_->FOnRecordStart = [this](TScreenCamera*) { started_ = true; };
        camera_->FOnError = [this](TScreenCamera*, const std::string&) { ++errors_; };
    }
    void TearDown() override {
        camera_.reset();
        owner_.reset();
    }

    int Slot(vfw::FOURCC handler) {
        for (int i = 0; i < camera_->FCodecCount; ++i) {
            if (camera_->FCodecs[static_cast<size_t>(i)].fccHandler == handler) {
                return i;
            }
        }
        return -1;
    }

    static bool TempFilesGone() {
        return !std::filesystem::exists(VideoTempFile.get()) &&
               !std::filesystem::exists(AudioTempFile.get());
    }

    std::unique_ptr<ColourWindow> owner_;
    std::unique_ptr<TScreenCamera> camera_;
    std::atomic<bool> started_{false};
    std::atomic<int> errors_{0};
};

TEST_F(CameraExitTest, DestroyedDuringARecordingWithItsOwnerMinimised) {
    ShowWindow(owner_->get(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(owner_->get()));
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('D', 'I', 'B', ' '));
    const std::string target = kelvora::test::OutputPath("exit-minimised.avi");
    std::filesystem::remove(target);
    ASSERT_TRUE(camera_->StartRecording(target));
    ASSERT_TRUE(PumpUntil([this] { return started_.load(); }, 10000));
    {
        // The aborted worker restores the owner on its way out.
        Watchdog watchdog("destroying the camera during a recording", 20000);
        camera_.reset();
    }
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(TempFilesGone());
    EXPECT_TRUE(PumpUntil([this] { return !IsIconic(owner_->get()); }, 3000));
}

TEST_F(CameraExitTest, DestroyedWhileTheQuestionIsOpen) {
    TestCodecProvider codecs;
    codecs.codecs = {{vfw::mmioFOURCC('T', 'F', 'M', 'T'), "no format", 1, false, false, true}};
    ScopedTestCodecs scoped(codecs);
    camera_->GetVideoCompressors();
    camera_->FCodecIndex = Slot(vfw::mmioFOURCC('T', 'F', 'M', 'T'));
    ASSERT_GE(camera_->FCodecIndex, 0);
    ASSERT_TRUE(camera_->StartRecording(kelvora::test::OutputPath("exit-question.avi")));

    // The box runs its own message loop on this thread; the steps run from
    // a timer inside it, as an exit chosen from the tray menu would. Another
    // window of this thread is activated meanwhile (the options dialog,
    // say): the box's close must still reach the box.
    ColourWindow other({400, 100, 500, 200}, RGB(0, 0, 128));
    bool destroyed = false;
    kelvora::test::StepRunner steps;
    steps.Until("the question box", [] { return FindWindowW(nullptr, kQuestionCaption) != nullptr; },
                10000);
    steps.Do([&] {
        SetActiveWindow(other.get());
        Watchdog watchdog("destroying the camera during the question", 20000);
        camera_.reset();
        destroyed = true;
    });
    steps.Start();
    ASSERT_TRUE(PumpUntil([&] { return steps.Finished() || steps.Aborted(); }, 30000));
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(PumpUntil([] { return FindWindowW(nullptr, kQuestionCaption) == nullptr; }, 3000))
        << "the box closes with the camera";
    EXPECT_TRUE(IsWindow(other.get()));
    EXPECT_TRUE(TempFilesGone());
}

TEST_F(CameraExitTest, BusyCursorIsSetOnTheUiThreadAndRestored) {
    HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    SetCursor(cross);
    std::thread([] { ActivePlatform().SetBusyCursor(true); }).join();
    EXPECT_TRUE(PumpUntil([&] { return GetCursor() == wait; }, 2000));
    std::thread([] {
        ActivePlatform().SetBusyCursor(true);  // nested: the wipe inside the save
        ActivePlatform().SetBusyCursor(false);
    }).join();
    kelvora::test::PumpFor(100);
    EXPECT_EQ(GetCursor(), wait);
    std::thread([] { ActivePlatform().SetBusyCursor(false); }).join();
    EXPECT_TRUE(PumpUntil([&] { return GetCursor() == cross; }, 2000));
}

}  // namespace
