// A CameraPlatform for tests: a clock the test drives, synthetic frames,
// real files under a test folder with locks and failures on demand, scripted
// answers to questions and a UI-thread queue the test runs itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/camera_platform.h"

// The camera's windows as state a test reads and scripts: the timer's
// state, the frame's last placement, and selections answered by `select`.
class FakeCameraWindows : public CameraWindows {
  public:
    bool timerEnabled = false;
    std::uint32_t timerMs = kTimerMs;
    bool frameShowing = false;
    Area frame;
    bool cornersOnly = false;
    int frameRestores = 0;
    // Answers a selection (runs "inside" its modal loop): kOk with the area
    // set, or kCancel. Unset: kCancel.
    std::function<int(Selection, Area*)> select;
    int selectionsShown = 0;
    bool showing[2] = {false, false};
    Area picker;
    std::vector<std::pair<Selection, int>> ended;
    bool* destroyed = nullptr;  // set true by the destructor

    ~FakeCameraWindows() override {
        if (destroyed != nullptr) {
            *destroyed = true;
        }
    }
    void SetTimerEnabled(bool enabled) override {
        timerEnabled = enabled;
        timerMs = kTimerMs;
    }
    bool TimerEnabled() const override { return timerEnabled; }
    void SetTimerPeriod(std::uint32_t ms) override { timerMs = ms; }
    void ShowFrame(const Area& area, bool corners) override {
        frameShowing = true;
        frame = area;
        cornersOnly = corners;
    }
    void HideFrame() override { frameShowing = false; }
    bool FrameShowing() const override { return frameShowing; }
    void RestoreFrame() override { ++frameRestores; }
    std::uint32_t HotKeyId(int n) const override { return 0xC000u + static_cast<std::uint32_t>(n); }
    int ShowSelection(Selection kind, Area* selected) override;
    bool SelectionShowing(Selection kind) const override { return showing[static_cast<int>(kind)]; }
    void EndSelection(Selection kind, int result) override { ended.emplace_back(kind, result); }
    Area PickerArea() const override { return picker; }
};

class FakePlatform : public CameraPlatform {
  public:
    FakePlatform();
    // ---- Clock: each TimeMs() call returns `now` and then adds `step`;
    // WaitMs adds its time to `now`. ----
    std::uint32_t now = 0;
    std::uint32_t step = 0;

    // ---- Screen ----
    std::int32_t screenWidth = 1024;
    std::int32_t screenHeight = 768;
    std::int32_t cursorX = 0;
    std::int32_t cursorY = 0;

    // ---- Grabs: ScreenFrame(width, height, grab index) at the camera's depth.
    struct Grab {
        std::int32_t left, top, width, height, filter;
    };
    std::vector<Grab> grabs;
    std::vector<Grab> previewGrabs;  // GrabToBitmap calls
    // Called before each grab with its index; false makes the grab fail.
    std::function<bool(int index)> onGrab;
    int framesLive = 0;  // frames grabbed and not yet freed

    // ---- Files: real files; names in `locked` cannot be opened exclusively.
    std::string tempDirectory;
    std::set<std::string> locked;
    bool failRemove = false;
    bool failDeleteAtRestart = false;
    // Renames to a name for which this answers true fail.
    std::function<bool(const std::string& to)> refuseRename;
    std::vector<std::string> renames;   // the target of every rename tried
    std::vector<std::uint32_t> writes;  // sizes of every wipe write
    int flushes = 0;
    std::vector<std::string> deletedAtRestart;

    // ---- User interface ----
    bool answerYes = false;
    std::vector<std::string> questions;
    int restores = 0;
    // Runs the work posted to the UI thread for cameras still alive;
    // returns how much ran.
    int RunUiWork();
    // Posts to the UI thread are dropped, as when its queue is full.
    std::atomic<bool> losePosts{false};

    std::uint32_t TimeMs() override;
    void WaitMs(std::uint32_t ms) override;
    void ScreenSize(std::int32_t* width, std::int32_t* height) override;
    void CursorPos(std::int32_t* x, std::int32_t* y) override;
    vfw::BITMAPINFOHEADER* GrabFrame(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                     std::int32_t width, std::int32_t height,
                                     std::int32_t filter) override;
    void FreeFrame(vfw::BITMAPINFOHEADER* frame) override;
    TBitmap* CreateFrameBitmap() override;
    void DestroyFrameBitmap(TBitmap* bitmap) override;
    void SetFrameBitmapDepth(TBitmap* bitmap, int bitCount) override;
    TBitmap* GrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                          std::int32_t width, std::int32_t height, std::int32_t filter) override;
    std::string TempDirectory() override { return tempDirectory; }
    bool FileExists(const std::string& name) override;
    FileKind KindOf(const std::string& name) override;
    std::unique_ptr<File> OpenExclusive(const std::string& name) override;
    bool RemoveFile(const std::string& name) override;
    bool DeleteAtRestart(const std::string& name) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    std::string FileNameForDisplay(const std::string& name) override { return name; }
    // Names are UTF-8 (the host's file names); with `ansiLatinOnly` the code
    // page spells only ASCII, as a Western system's cannot spell Cyrillic.
    bool ansiLatinOnly = false;
    bool FileNameFromUtf8(const std::string& text, std::string* name) override;
    bool AskYesNo(void* owner, const std::string& text, const std::string& caption,
                  const std::atomic<bool>& cancel) override;
    void RestoreApplication(void*) override { ++restores; }
    void SetBusyCursor(bool) override {}
    void WaitServingUi(const std::function<bool()>& done) override;
    void RegisterCamera(TScreenCamera* camera) override { live_.insert(camera); }
    void PostToUiThread(TScreenCamera* camera, std::function<void()> work) override;
    void ForgetCamera(TScreenCamera* camera) override { live_.erase(camera); }
    bool OnUiThread() override;
    std::unique_ptr<CameraWindows> CreateCameraWindows(TScreenCamera& camera) override;
    // The windows of the camera created last (owned by that camera).
    FakeCameraWindows* windows = nullptr;
    void* CurrentThreadHandle() override { return nullptr; }
    void CloseThreadHandle(void*) override {}
    void SetThreadPriority(void*, int) override {}

  private:
    std::thread::id uiThread_;
    std::set<TScreenCamera*> live_;
    std::mutex uiMutex_;
    std::deque<std::pair<TScreenCamera*, std::function<void()>>> uiQueue_;
};
