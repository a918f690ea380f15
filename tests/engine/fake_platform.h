// A CameraPlatform for tests: a clock the test drives, synthetic frames,
// real files under a test folder with locks and failures on demand, scripted
// answers to questions and a UI-thread queue the test runs itself.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/camera_platform.h"

class FakePlatform : public CameraPlatform {
public:
    // ---- Clock: each TimeMs() call returns `now` and then adds `step`. ----
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

    std::uint32_t TimeMs() override;
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
    std::unique_ptr<File> OpenExclusive(const std::string& name) override;
    bool RemoveFile(const std::string& name) override;
    bool DeleteAtRestart(const std::string& name) override;
    bool RenameFile(const std::string& from, const std::string& to) override;
    std::string FileNameForDisplay(const std::string& name) override { return name; }
    bool AskYesNo(void* owner, const std::string& text, const std::string& caption) override;
    void RestoreApplication(void*) override { ++restores; }
    void SetBusyCursor(bool) override {}
    void RegisterCamera(TScreenCamera* camera) override { live_.insert(camera); }
    void PostToUiThread(TScreenCamera* camera, std::function<void()> work) override;
    void ForgetCamera(TScreenCamera* camera) override { live_.erase(camera); }
    void* CurrentThreadHandle() override { return nullptr; }
    void CloseThreadHandle(void*) override {}
    void SetThreadPriority(void*, int) override {}

private:
    std::set<TScreenCamera*> live_;
    std::mutex uiMutex_;
    std::deque<std::pair<TScreenCamera*, std::function<void()>>> uiQueue_;
};
