#include "shell/camera_events.h"

#include <utility>

#include "engine/screen_camera.h"
#include "win32/form_window.h"

namespace kelvora {

namespace {

constexpr wchar_t kClassName[] = L"KelvoraCameraEvents";
constexpr UINT kRunQueuedMsg = WM_APP + 1;
constexpr UINT kProgressMsg = WM_APP + 2;

// A progress call sent by the worker, answered on the UI thread.
struct ProgressCall {
    int percent;
    const std::string* caption;
    bool Continue;
};

}  // namespace

CameraEvents::CameraEvents(CameraHandlers handlers)
    : handlers_(std::move(handlers)), uiThread_(GetCurrentThreadId()) {
    window_ = CreateMessageWindow(kClassName, &CameraEvents::WndProc, this);
}

CameraEvents::~CameraEvents() {
    if (window_) {
        SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    }
}

bool CameraEvents::OnUiThread() const {
    return GetCurrentThreadId() == uiThread_;
}

void CameraEvents::Attach(TScreenCamera& camera) {
    camera_ = &camera;
    camera.FOnError = [this](TScreenCamera*, const std::string& msg) {
        Post([this, msg](TScreenCamera* sender) {
            if (handlers_.error) {
                handlers_.error(sender, msg);
            }
        });
    };
    camera.FOnRecordStart = [this](TScreenCamera*) {
        Post([this](TScreenCamera* sender) {
            if (handlers_.recordStart) {
                handlers_.recordStart(sender);
            }
        });
    };
    camera.FOnRecordStop = [this](TScreenCamera*) {
        Post([this](TScreenCamera* sender) {
            if (handlers_.recordStop) {
                handlers_.recordStop(sender);
            }
        });
    };
    // Raised every 50 ms while recording: one waits at most, and reads the
    // time when it runs.
    camera.FOnRecordTime = [this](TScreenCamera*) {
        if (timePending_.exchange(true)) {
            return;
        }
        Post([this](TScreenCamera* sender) {
            timePending_ = false;
            if (handlers_.recordTime) {
                handlers_.recordTime(sender);
            }
        });
    };
    camera.FOnPreview = [this](TScreenCamera*, TBitmap*, bool shown, bool recording) {
        if (!handlers_.preview) {
            return;
        }
        if (OnUiThread()) {
            handlers_.preview(camera_, shown, recording);
            return;
        }
        Post([this, shown, recording](TScreenCamera* sender) {
            handlers_.preview(sender, shown, recording);
        });
    };
    camera.FOnProgress = [this](TScreenCamera*, std::int32_t percent, const std::string& caption,
                                bool& Continue) { Continue = Progress(percent, caption); };
    camera.FOnSoundProblem = [this](TScreenCamera*, const std::string& reason) {
        Post([this, reason](TScreenCamera* sender) {
            if (handlers_.soundProblem) {
                handlers_.soundProblem(sender, reason);
            }
        });
    };
}

void CameraEvents::Detach() {
    camera_ = nullptr;
}

bool CameraEvents::Progress(int percent, const std::string& caption) {
    if (!handlers_.progress) {
        return true;
    }
    if (OnUiThread()) {
        return handlers_.progress(camera_, percent, caption, true);
    }
    ProgressCall call{percent, &caption, true};
    if (window_) {
        SendMessageW(window_.get(), kProgressMsg, 0, reinterpret_cast<LPARAM>(&call));
    }
    return call.Continue;
}

void CameraEvents::Post(std::function<void(TScreenCamera* sender)> work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(work));
    }
    // Only a wake-up: what it fails to carry, RunPending takes later.
    if (window_) {
        PostMessageW(window_.get(), kRunQueuedMsg, 0, 0);
    }
}

void CameraEvents::RunPending() {
    for (;;) {
        std::function<void(TScreenCamera*)> work;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) {
                return;
            }
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work(camera_);
    }
}

LRESULT CALLBACK CameraEvents::WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CameraEvents*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (self != nullptr && msg == kRunQueuedMsg) {
        self->RunPending();
        return 0;
    }
    if (self != nullptr && msg == kProgressMsg) {
        // Sent by the worker: the UI thread is in a message loop of its own
        // (the main loop, a menu's, a message box's), which processes the
        // pending messages; pumping them here would take the input a tray
        // menu's loop waits for.
        auto* call = reinterpret_cast<ProgressCall*>(lp);
        call->Continue = self->handlers_.progress(self->camera_, call->percent, *call->caption,
                                                  false);
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

}  // namespace kelvora
