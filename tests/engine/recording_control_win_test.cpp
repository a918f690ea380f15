// Under Wine, the camera's recording control with its real windows and real
// input: a pending start confirmed in the rectangle selection (drag, then
// Ctrl+click) and in the window picker (Ctrl+Enter), Esc cancelling, the
// keys free again afterwards, the keys held by another program, the
// full-screen frame, and the camera destroyed while a selection shows. The
// recordings are left with a note of their expected size for
// recording_check_test, which reads them with ffprobe.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/screen_camera.h"
#include "win32/handles.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace {

namespace test = kelvora::test;

constexpr wchar_t kFreeHandClass[] = L"KelvoraFreeHandWindow";
constexpr wchar_t kPickerClass[] = L"KelvoraSelObjWindow";
constexpr wchar_t kHoldEvent[] = L"KelvoraTestKeysHeld";
constexpr wchar_t kReleaseEvent[] = L"KelvoraTestReleaseKeys";

bool Showing(const wchar_t* className) {
    HWND wnd = FindWindowW(className, nullptr);
    return wnd != nullptr && IsWindowVisible(wnd);
}

void Press(WORD vk, bool ctrl = false) {
    if (ctrl) {
        test::Key(VK_CONTROL, true);
    }
    test::Key(vk, true);
    test::Key(vk, false);
    if (ctrl) {
        test::Key(VK_CONTROL, false);
    }
}

bool EscFree() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
    const bool free = RegisterHotKey(probe, 1, 0, VK_ESCAPE) != 0;
    if (free) {
        UnregisterHotKey(probe, 1);
    }
    DestroyWindow(probe);
    return free;
}

// Runs `steps` to their end; they act from a timer, inside the selection's
// modal loop as well.
void RunSteps(test::StepRunner& steps) {
    steps.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return steps.Finished() || steps.Aborted(); }, 30000));
    ASSERT_FALSE(steps.Aborted());
}

class ControlWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        camera_ = std::make_unique<TScreenCamera>(nullptr);
        camera_->FRestoreAppWindowAfterCapture = false;
        for (int i = 0; i < camera_->FCodecCount; ++i) {
            if (camera_->FCodecs[static_cast<size_t>(i)].fccHandler ==
                vfw::mmioFOURCC('D', 'I', 'B', ' ')) {
                camera_->FCodecIndex = i;
            }
        }
        test::MoveMouse(1500, 900);
    }
    void TearDown() override {
        camera_.reset();
        test::PumpFor(100);
    }

    // Stops the recording that the selection started and notes the size the
    // file must have.
    void FinishRecording(const std::string& name, int width, int height) {
        ASSERT_TRUE(test::PumpUntil([this] { return camera_->FRecording.load(); }, 5000));
        test::PumpFor(700);
        camera_->StopRecording();
        ASSERT_TRUE(test::PumpUntil([this] { return camera_->FRecordThread.load() == nullptr; },
                                    30000));
        std::ofstream(test::OutputPath(name + ".txt"))
            << "file " << name << "\nwidth " << width << "\nheight " << height << "\n";
    }

    std::unique_ptr<TScreenCamera> camera_;
};

TEST_F(ControlWinTest, DraggedRectangleIsRecorded) {
    camera_->FRegionType = 1;
    const std::string file = test::OutputPath("area-drag.avi");
    std::filesystem::remove(file);
    EXPECT_FALSE(camera_->StartRecording(file));
    EXPECT_TRUE(PendingStart);
    test::StepRunner steps;
    steps.Until("the selection opens", [] { return Showing(kFreeHandClass); }, 2000);
    steps.Do([] { test::MoveMouse(300, 200); });
    steps.Do([] { test::MouseButton(MOUSEEVENTF_LEFTDOWN); });
    steps.Do([] { test::MoveMouse(400, 300); });
    steps.Do([] { test::MoveMouse(500, 350); });
    steps.Do([] { test::MouseButton(MOUSEEVENTF_LEFTUP); });
    steps.Do([] { test::Key(VK_CONTROL, true); });
    steps.Do([] { test::MouseButton(MOUSEEVENTF_LEFTDOWN); });
    steps.Do([] {
        test::MouseButton(MOUSEEVENTF_LEFTUP);
        test::Key(VK_CONTROL, false);
    });
    RunSteps(steps);
    EXPECT_EQ(camera_->FRegionType, 3);
    EXPECT_EQ(camera_->FLeft, 300);
    EXPECT_EQ(camera_->FWidth, 200);
    FinishRecording("area-drag.avi", 200, 150);
    EXPECT_TRUE(EscFree()) << "Esc is released when the selection closes";
}

TEST_F(ControlWinTest, PickedWindowIsRecordedAndEscCancels) {
    test::ColourWindow target({600, 400, 600 + 240, 400 + 160}, RGB(0, 90, 200), true);
    test::PumpFor(200);
    camera_->FRegionType = 0;
    const std::string file = test::OutputPath("area-picked.avi");
    std::filesystem::remove(file);

    // Esc first: the picker closes, nothing is pending, Esc is free again.
    EXPECT_FALSE(camera_->StartRecording(file));
    {
        test::StepRunner steps;
        steps.Until("the picker opens", [] { return Showing(kPickerClass); }, 2000);
        steps.Do([] { Press(VK_ESCAPE); });
        steps.Until("the picker closes", [] { return !Showing(kPickerClass); }, 3000);
        RunSteps(steps);
    }
    EXPECT_FALSE(PendingStart);
    EXPECT_FALSE(camera_->FRecording);
    EXPECT_TRUE(EscFree());

    // Ctrl+Enter over the window records it.
    test::MoveMouse(700, 480);
    EXPECT_FALSE(camera_->StartRecording(file));
    {
        test::StepRunner steps;
        steps.Until("the picker opens", [] { return Showing(kPickerClass); }, 2000);
        steps.Until("the picker frames the window",
                    [this] { return camera_->Windows().PickerArea().width == 240; }, 3000);
        steps.Do([] { Press(VK_RETURN, true); });
        RunSteps(steps);
    }
    FinishRecording("area-picked.avi", 240, 160);
    EXPECT_EQ(camera_->FLeft, 600);
    EXPECT_EQ(camera_->FTop, 400);
}

// Another program holds Esc and Ctrl+Enter: the selection can still be
// confirmed and cancelled.
TEST_F(ControlWinTest, HeldKeysStillConfirmAndCancel) {
    win32::Handle held(CreateEventW(nullptr, TRUE, FALSE, kHoldEvent));
    win32::Handle release(CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = std::wstring(L"\"") + self + L"\" --hold-keys";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    win32::Handle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WaitForSingleObject(held.get(), 20000), WAIT_OBJECT_0);
    EXPECT_FALSE(EscFree()) << "the other program holds Esc";

    test::ColourWindow target({600, 400, 600 + 200, 400 + 120}, RGB(200, 90, 0), true);
    test::PumpFor(200);
    camera_->FRegionType = 0;
    EXPECT_FALSE(camera_->StartRecording(test::OutputPath("held-cancel.avi")));
    {
        test::StepRunner steps;
        steps.Until("the picker opens", [] { return Showing(kPickerClass); }, 2000);
        steps.Do([] { Press(VK_ESCAPE); });
        steps.Until("Esc closes the picker", [] { return !Showing(kPickerClass); }, 3000);
        RunSteps(steps);
    }
    EXPECT_FALSE(PendingStart);

    const std::string file = test::OutputPath("area-held.avi");
    std::filesystem::remove(file);
    test::MoveMouse(700, 460);
    EXPECT_FALSE(camera_->StartRecording(file));
    {
        test::StepRunner steps;
        steps.Until("the picker opens", [] { return Showing(kPickerClass); }, 2000);
        steps.Until("the picker frames the window",
                    [this] { return camera_->Windows().PickerArea().width == 200; }, 3000);
        steps.Do([] { Press(VK_RETURN, true); });
        RunSteps(steps);
    }
    FinishRecording("area-held.avi", 200, 120);

    SetEvent(release.get());
    EXPECT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
}

TEST_F(ControlWinTest, FullScreenFrameLiesOutsideTheScreen) {
    camera_->FRegionType = 4;
    camera_->SetPreview(true);
    ASSERT_TRUE(test::PumpUntil([this] { return camera_->Windows().FrameShowing(); }, 2000));
    const test::ScreenPicture screen = test::GrabUntil(
        {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)},
        [](const test::ScreenPicture& p) { return p.ok; });
    ASSERT_TRUE(screen.ok);
    screen.Save("full-screen-preview.png");
    const int w = screen.area.right, h = screen.area.bottom;
    for (int x = 0; x < w; x += 7) {
        ASSERT_NE(screen.At(x, 0), test::kRed) << x;
        ASSERT_NE(screen.At(x, h - 1), test::kRed) << x;
    }
    for (int y = 0; y < h; y += 7) {
        ASSERT_NE(screen.At(0, y), test::kRed) << y;
        ASSERT_NE(screen.At(w - 1, y), test::kRed) << y;
    }
    // Recording the whole screen without the preview: no frame at all.
    camera_->SetPreview(false);
    ASSERT_TRUE(camera_->StartRecording(test::OutputPath("full-no-preview.avi")));
    test::PumpFor(300);
    EXPECT_FALSE(camera_->Windows().FrameShowing());
    camera_->StopRecording();
    ASSERT_TRUE(test::PumpUntil([this] { return camera_->FRecordThread.load() == nullptr; }, 30000));
    std::filesystem::remove(test::OutputPath("full-no-preview.avi"));
}

// The camera goes while its selection shows (the program's exit): the
// window closes, the keys are free, and what the camera left in its
// temporary file (a recording it wrote earlier, say) is wiped.
TEST_F(ControlWinTest, CameraDestroyedWhileASelectionShowsLeavesNothing) {
    std::string temp;
    test::ExpectGdiObjectsReturn(
        [&](int) {
            camera_ = std::make_unique<TScreenCamera>(nullptr);
            camera_->FRegionType = 1;
            EXPECT_FALSE(camera_->StartRecording(test::OutputPath("never.avi")));
            temp = VideoTempFile;
            test::StepRunner steps;
            steps.Until("the selection opens", [] { return Showing(kFreeHandClass); }, 2000);
            steps.Do([&] {
                std::ofstream(temp) << "what an earlier recording left";
                ASSERT_TRUE(std::filesystem::exists(temp));
                camera_.reset();
            });
            steps.Start();
            EXPECT_TRUE(test::PumpUntil([&] { return steps.Finished() || steps.Aborted(); }, 5000));
            EXPECT_FALSE(Showing(kFreeHandClass));
            EXPECT_EQ(FindWindowW(L"KelvoraFlashingWnd", nullptr), nullptr);
            EXPECT_FALSE(std::filesystem::exists(temp));
        },
        5);
    EXPECT_TRUE(EscFree());
}

}  // namespace

// The helper process of HeldKeysStillConfirmAndCancel: holds Esc and
// Ctrl+Enter as another program would, until told to let go.
int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--hold-keys") {
        HWND wnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   nullptr, nullptr);
        const bool ok = RegisterHotKey(wnd, 1, 0, VK_ESCAPE) &&
                        RegisterHotKey(wnd, 2, MOD_CONTROL, VK_RETURN);
        HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, kHoldEvent);
        HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kReleaseEvent);
        if (!ok || held == nullptr || release == nullptr) {
            return 2;
        }
        SetEvent(held);
        while (MsgWaitForMultipleObjects(1, &release, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
        }
        CloseHandle(held);
        CloseHandle(release);
        DestroyWindow(wnd);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
