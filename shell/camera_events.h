// CameraEvents: every event of the screen camera, delivered to the shell on
// its UI thread.
//
// The camera raises its events on the thread that causes them: the UI
// thread (its timer, a stop, a start that fails at once) or the recording
// worker (start, stop, errors, the recording time, the save's progress, the
// preview event of a failed recording). Windows may be touched only on their
// own thread, and the controller's state is the UI thread's, so the
// controller never binds the camera's events itself: it gives its handlers
// to a CameraEvents, which binds the camera's events to them.
//
// Protocol:
//  - Create it on the UI thread, before the camera, and keep it until the
//    camera has been released; Attach(camera) once the camera exists.
//  - Error, start, stop and time events are queued and run on the UI thread
//    in the order raised, never inside the camera's own call (a message box
//    there would run a message loop inside the camera). Time events are
//    coalesced: one waits at most.
//  - Preview and progress events raised on the UI thread run at once; the
//    camera relies on their effect (the preview switch, the Continue
//    answer). Raised on another thread, a preview event is queued and a
//    progress event is sent: the worker waits for its answer, and while the
//    UI thread waits for the worker (the camera's release) sent calls are
//    still served.
//  - Detach() before the camera is released: from then on handlers receive
//    a null Sender (a message box of the last save still shows; nothing may
//    touch the camera). Handlers otherwise receive the raising camera.
//  - RunPending() runs what is queued now; the owner calls it from a timer
//    as well, so that an event whose wake-up message was lost (a full
//    message queue) still arrives.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "win32/handles.h"

class TScreenCamera;

namespace kelvora {

struct CameraHandlers {
    std::function<void(TScreenCamera* Sender, const std::string& Msg)> error;
    std::function<void(TScreenCamera* Sender)> recordStart;
    std::function<void(TScreenCamera* Sender)> recordStop;
    std::function<void(TScreenCamera* Sender)> recordTime;
    std::function<void(TScreenCamera* Sender, bool PreviewShown, bool Recording)> preview;
    // Returns Continue. `direct`: raised on the UI thread itself, not sent
    // by the worker.
    std::function<bool(TScreenCamera* Sender, int Percent, const std::string& Caption,
                       bool direct)>
        progress;
    // The sound of a recording stopped; `reason` completes the balloon's text.
    std::function<void(TScreenCamera* Sender, const std::string& reason)> soundProblem;
};

class CameraEvents {
  public:
    explicit CameraEvents(CameraHandlers handlers);
    ~CameraEvents();
    CameraEvents(const CameraEvents&) = delete;
    CameraEvents& operator=(const CameraEvents&) = delete;

    // Binds the camera's events (FOnError ... FOnProgress, FOnSoundProblem).
    void Attach(TScreenCamera& camera);
    // The camera is about to be released: later handlers get a null Sender.
    void Detach();
    void RunPending();

  private:
    static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    bool OnUiThread() const;
    // Queues `work` for the UI thread; it gets the camera still attached.
    void Post(std::function<void(TScreenCamera* sender)> work);
    bool Progress(int percent, const std::string& caption);

    CameraHandlers handlers_;
    win32::Window window_;  // message-only, on the UI thread
    DWORD uiThread_ = 0;
    std::atomic<TScreenCamera*> camera_{nullptr};
    std::atomic<bool> timePending_{false};
    std::mutex mutex_;
    std::deque<std::function<void(TScreenCamera*)>> queue_;
};

}  // namespace kelvora
