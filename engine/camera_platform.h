// What the screen camera needs from the system: the clock, the screen, the
// grabber, files, message boxes and the UI thread. The Windows build uses
// the real one (camera_platform_win32.cpp); tests install fakes to control
// time, frames and the failures the real system cannot produce on demand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/camera_windows.h"
#include "engine/sound_input.h"
#include "engine/vfw/vfw.h"

class TScreenCamera;
class TBitmap;

// Frames of one size grabbed into a fixed set of buffers that are reused:
// each grab lends a buffer until it is given back, from any thread (the
// compressing stream gives it back once it has read it).
class FramePool {
  public:
    struct Frame {
        FramePool* pool;
        const std::uint8_t* bits;  // bottom-up rows, as in a packed DIB
        std::uint32_t bytes;
    };
    virtual ~FramePool() = default;
    // The rectangle at (left, top) of the pool's size, grabbed into a free
    // buffer (waiting while every buffer is lent); null when the grab fails.
    virtual Frame* Grab(std::int32_t left, std::int32_t top, std::int32_t filter) = 0;
    virtual void GiveBack(Frame* frame) = 0;
    // A vfw::FrameRelease for a Frame.
    static void Release(void* frame) {
        auto* f = static_cast<Frame*>(frame);
        f->pool->GiveBack(f);
    }
};

class CameraPlatform {
  public:
    virtual ~CameraPlatform() = default;

    // ---- Clock ----
    // Milliseconds of a free-running 32-bit counter (wraps after 49.7 days).
    virtual std::uint32_t TimeMs() = 0;
    // Lets about `ms` milliseconds pass on this counter's scale.
    virtual void WaitMs(std::uint32_t ms) = 0;

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
    // The recording loop's frames of width x height at the camera's depth;
    // null when the buffers cannot be had. By default each grab is a
    // GrabFrame of its own, freed when given back.
    virtual std::unique_ptr<FramePool> CreateFramePool(TScreenCamera& camera, std::int32_t width,
                                                       std::int32_t height);
    // The preview picture (main thread).
    virtual TBitmap* CreateFrameBitmap() = 0;
    virtual void DestroyFrameBitmap(TBitmap* bitmap) = 0;
    virtual void SetFrameBitmapDepth(TBitmap* bitmap, int bitCount) = 0;
    virtual TBitmap* GrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                  std::int32_t width, std::int32_t height, std::int32_t filter) = 0;

    // ---- Files (names in the ANSI code page) ----
    // The system's temporary directory as reported, possibly without a
    // trailing backslash; empty when there is none.
    virtual std::string TempDirectory() = 0;
    // True when anything (a file, a folder, a link) has this name.
    virtual bool FileExists(const std::string& name) = 0;
    // What a name stands for, links not followed. Only a Plain file is ever
    // written in place: anything else may lead to another file of the user.
    enum class FileKind {
        Missing,
        Plain,      // a file that has this one name
        Linked,     // a symbolic link to a file, or a file with more names (hard links)
        Directory,  // a folder, or a link to one (a junction)
    };
    virtual FileKind KindOf(const std::string& name) = 0;
    // Exclusive read/write access to an existing Plain file, checked on the
    // opened file itself; null when it cannot be had or is not Plain.
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
    // UTF-8 text as a file name in the ANSI code page; false when the code
    // page cannot spell every character of it.
    virtual bool FileNameFromUtf8(const std::string& text, std::string* name) = 0;

    // ---- User interface ----
    // Yes/No question with the warning icon, owned by `owner`; true for Yes.
    // Callable from any thread: the box itself is shown on the UI thread
    // while the caller waits. Once `cancel` becomes true the box is closed
    // (if shown) and the answer is No.
    virtual bool AskYesNo(void* owner, const std::string& text, const std::string& caption,
                          const std::atomic<bool>& cancel) = 0;
    // Restores the minimised application without waiting for the UI thread.
    virtual void RestoreApplication(void* owner) = 0;
    // The hourglass while busy, then the cursor shown before; from any
    // thread, nestable.
    virtual void SetBusyCursor(bool busy) = 0;
    // Waits until `done` answers true. On the UI thread, messages that other
    // threads send to its windows are still served meanwhile, so a worker
    // that asks the UI thread something synchronously does not deadlock.
    virtual void WaitServingUi(const std::function<bool()>& done) = 0;
    // A camera was created on the UI thread; work may be posted for it.
    virtual void RegisterCamera(TScreenCamera* camera) = 0;
    // Runs `work` on the UI thread later; dropped when `camera` is gone first.
    virtual void PostToUiThread(TScreenCamera* camera, std::function<void()> work) = 0;
    // Called by the camera's destructor: drops work still posted for it.
    virtual void ForgetCamera(TScreenCamera* camera) = 0;

    // True on the thread that runs the camera's windows (the UI thread).
    virtual bool OnUiThread() = 0;
    // The camera's timer and windows (camera_windows.h), made on the UI
    // thread by the camera's constructor.
    virtual std::unique_ptr<CameraWindows> CreateCameraWindows(TScreenCamera& camera) = 0;

    // ---- Threads ----
    // The calling thread's handle for SetThreadPriority (null where none).
    virtual void* CurrentThreadHandle() = 0;
    virtual void CloseThreadHandle(void* handle) = 0;
    // Sets a thread's priority: one of -15, -2, -1, 0, 1, 2, 15.
    virtual void SetThreadPriority(void* handle, int priority) = 0;

    // ---- Sound ----
    // Starts the input device (sound_input.h). The Windows build records
    // through the system's wave input; elsewhere there is no device.
    virtual std::unique_ptr<SoundInput> StartSoundInput(const std::string& device,
                                                        SoundInputSink* sink, std::string* reason);
};

// The platform every camera of the process uses.
CameraPlatform& ActivePlatform();
// Tests install their own; null restores the real one (Windows build).
void InstallPlatform(CameraPlatform* platform);
