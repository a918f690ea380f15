// What the screen camera needs from the system: the clock, the screen, the
// grabber, files, message boxes and the UI thread. The Windows build uses
// the real one (camera_platform_win32.cpp); tests install fakes to control
// time, frames and the failures the real system cannot produce on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/vfw/vfw.h"

class TScreenCamera;
class TBitmap;

class CameraPlatform {
public:
    virtual ~CameraPlatform() = default;

    // ---- Clock ----
    // Milliseconds of a free-running 32-bit counter (wraps after 49.7 days).
    virtual std::uint32_t TimeMs() = 0;

    // ---- Screen ----
    // The desktop device's resolution in pixels.
    virtual void ScreenSize(std::int32_t* width, std::int32_t* height) = 0;
    // The pointer's position in screen pixels.
    virtual void CursorPos(std::int32_t* x, std::int32_t* y) = 0;
    // A packed DIB of the rectangle (see TScreenCamera::GrabFrame) or null.
    virtual vfw::BITMAPINFOHEADER* GrabFrame(TScreenCamera& camera, std::int32_t left,
                                             std::int32_t top, std::int32_t width,
                                             std::int32_t height, std::int32_t filter) = 0;
    virtual void FreeFrame(vfw::BITMAPINFOHEADER* frame) = 0;
    // The preview picture (main thread).
    virtual TBitmap* CreateFrameBitmap() = 0;
    virtual void DestroyFrameBitmap(TBitmap* bitmap) = 0;
    virtual void SetFrameBitmapDepth(TBitmap* bitmap, int bitCount) = 0;
    virtual TBitmap* GrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                  std::int32_t width, std::int32_t height,
                                  std::int32_t filter) = 0;

    // ---- Files (names in the ANSI code page) ----
    // The system's temporary directory as reported, possibly without a
    // trailing backslash; empty when there is none.
    virtual std::string TempDirectory() = 0;
    virtual bool FileExists(const std::string& name) = 0;
    // Exclusive read/write access to an existing file, or null.
    class File {
    public:
        virtual ~File() = default;
        virtual bool Size(std::uint64_t* size) = 0;
        virtual bool SeekStart() = 0;
        virtual bool Write(const void* data, std::uint32_t size) = 0;
        virtual bool Flush() = 0;
    };
    virtual std::unique_ptr<File> OpenExclusive(const std::string& name) = 0;
    virtual bool RemoveFile(const std::string& name) = 0;
    // Schedules the deletion for the next restart of the system.
    virtual bool DeleteAtRestart(const std::string& name) = 0;
    // Moves a file, also to another volume, failing when the target exists.
    virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
    // A file name (ANSI) as UTF-8, for messages.
    virtual std::string FileNameForDisplay(const std::string& name) = 0;

    // ---- User interface ----
    // Yes/No question with the warning icon, owned by `owner`; true for Yes.
    virtual bool AskYesNo(void* owner, const std::string& text, const std::string& caption) = 0;
    // Restores the minimised application.
    virtual void RestoreApplication(void* owner) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // A camera was created on the UI thread; work may be posted for it.
    virtual void RegisterCamera(TScreenCamera* camera) = 0;
    // Runs `work` on the UI thread later; dropped when `camera` is gone first.
    virtual void PostToUiThread(TScreenCamera* camera, std::function<void()> work) = 0;
    // Called by the camera's destructor: drops work still posted for it.
    virtual void ForgetCamera(TScreenCamera* camera) = 0;

    // ---- Threads ----
    // The calling thread's handle for SetThreadPriority (null where none).
    virtual void* CurrentThreadHandle() = 0;
    virtual void CloseThreadHandle(void* handle) = 0;
    // Sets a thread's priority: one of -15, -2, -1, 0, 1, 2, 15.
    virtual void SetThreadPriority(void* handle, int priority) = 0;
};

// The platform every camera of the process uses.
CameraPlatform& ActivePlatform();
// Tests install their own; null restores the real one (Windows build).
void InstallPlatform(CameraPlatform* platform);
