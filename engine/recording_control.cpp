// Recording control and area tracking: starting and stopping recordings, the
// preview switch, the 30 ms timer that turns the region mode into an area,
// opens the selection windows for a pending start, keeps the red frame
// around the area and raises the preview events, and the camera's hot keys.
// Everything here runs on the UI thread; a stop made on the worker hands its
// window work to that thread.
#include <exception>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"

std::atomic<bool> PendingStart{false};

namespace {

// A recording's preview picture is grabbed only for areas up to this size.
constexpr std::int32_t kPreviewMaxWidth = 800;
constexpr std::int32_t kPreviewMaxHeight = 600;
// Idle ticks that only keep a frame in place: one that follows a resting
// mouse notices it moving within a tenth of a second, and a fixed area's
// frame comes back on top of a window raised over it within a quarter.
constexpr std::uint32_t kRestingMouseTickMs = 100;
constexpr std::uint32_t kFixedFrameTickMs = 250;

}  // namespace

void TScreenCamera::SetPreview(bool Value) {
    if (Value) {
        FPreview = true;
        windows_->SetTimerEnabled(false);
        windows_->HideFrame();
        windows_->SetTimerEnabled(true);  // the next tick shows the frame again
        return;
    }
    FPreview = false;
    if (FRecording) {
        return;
    }
    windows_->SetTimerEnabled(false);
    windows_->HideFrame();
    RaisePreview(nullptr, false, false);
}

void TScreenCamera::StopRecording() {
    if (FRecording) {
        StopReason = kStopKeep;
        FRecording = false;
    } else if (PendingStart) {
        OnUiThread([this] { CancelPendingStart(); });
    }
    ReapplyPreviewOnUiThread();
}

TCameraState TScreenCamera::State() {
    ReapEndedWorker();
    if (FRecording) {
        return TCameraState::Recording;
    }
    if (FRecordThread != nullptr) {
        return TCameraState::Finishing;
    }
    return PendingStart ? TCameraState::Selecting : TCameraState::Idle;
}

void TScreenCamera::ReapEndedWorker() {
    if (platform_.OnUiThread()) {
        ThreadTerminated();
    }
}

void TScreenCamera::CancelPendingStart() {
    PendingStart = false;
    for (const auto kind :
         {CameraWindows::Selection::Rectangle, CameraWindows::Selection::Window}) {
        if (windows_->SelectionShowing(kind)) {
            windows_->EndSelection(kind, CameraWindows::kCancel);
        }
    }
}

void TScreenCamera::ReapplyPreviewOnUiThread() {
    OnUiThread([this] { SetPreview(FPreview); });
}

void TScreenCamera::OnUiThread(std::function<void()> work) {
    if (platform_.OnUiThread()) {
        work();
    } else {
        platform_.PostToUiThread(this, std::move(work));
    }
}

bool TScreenCamera::SelectionShowing() const {
    return windows_->SelectionShowing(CameraWindows::Selection::Rectangle) ||
           windows_->SelectionShowing(CameraWindows::Selection::Window);
}

bool TScreenCamera::StartRecording(const std::string& FileName) {
    // A start arriving while a selection shows would nest a second one in
    // the first one's loop.
    ReapEndedWorker();
    if (FRecording || FRecordThread != nullptr || SelectionShowing()) {
        return false;
    }
    RecordFileName = FileName;
    ApplyRegionMode();
    windows_->SetTimerEnabled(true);
    if (FSelectRegionPending || FPickWindowPending) {
        // The area is chosen in a selection window first.
        PendingStart = true;
        return false;
    }
    PendingStart = false;
    if (FFullScreen) {
        SetFullScreenArea();
    }
    FRecording = true;
    try {
        FRecordThread = new TRecordAVIThread(this);
    } catch (const std::exception&) {
        // No thread could be had: the start fails like a recording that
        // failed at once, and the next start is accepted.
        FailureStop(true);
        return false;
    }
    return true;
}

void TScreenCamera::ApplyRegionMode() {
    const std::uint8_t mode = FRegionType;
    if (mode > 4) {
        return;
    }
    FPickWindowPending = mode == 0;
    FSelectRegionPending = mode == 1;
    FFollowMouse = mode == 2;
    FFullScreen = mode == 4;
}

void TScreenCamera::TimerTick() {
    // Modes.
    if (!FRecording) {
        ApplyRegionMode();
    } else if (FRegionType == 0 || FRegionType == 1) {
        FRegionType = 3;
        FPickWindowPending = false;
        FSelectRegionPending = false;
        FFollowMouse = false;
        FFullScreen = false;
    }

    // Nothing to show. Modes 0 and 1 have no area before their selection,
    // and a selection opens only for a pending start.
    const bool unselected = !FRecording && (FSelectRegionPending || FPickWindowPending);
    if (!PendingStart && ((!FPreview && (!FRecording || FFullScreen)) || unselected)) {
        windows_->HideFrame();
        RaisePreview(nullptr, false, FRecording);
        return;
    }

    // The area.
    bool moved = false;  // a frame that follows the mouse
    if (FFullScreen) {
        SetFullScreenArea();
    } else if (FSelectRegionPending || FPickWindowPending) {
        windows_->SetTimerEnabled(false);
        const std::shared_ptr<bool> alive = alive_;
        const bool selected = FSelectRegionPending ? SelectRegion() : SelectWindow();
        if (!*alive) {
            return;  // the camera went while the selection was open
        }
        // A cancel leaves the timer off, unless a stop cancelled the pending
        // start with the preview on: the preview goes on.
        windows_->SetTimerEnabled(selected || (FPreview && !PendingStart));
        if (!selected) {
            return;
        }
    } else if (FFollowMouse) {
        const std::int32_t wasLeft = FLeft, wasTop = FTop;
        std::int32_t x = 0, y = 0, screenW = 0, screenH = 0;
        platform_.ScreenSize(&screenW, &screenH);
        const std::int32_t width = FWidth, height = FHeight;
        platform_.CursorPos(&x, &y);
        std::int32_t left = x - width / 2;
        platform_.CursorPos(&x, &y);
        std::int32_t top = y - height / 2;
        left = left < 0 ? 0 : left;
        top = top < 0 ? 0 : top;
        // Right and bottom last: an area larger than the screen ends with a
        // negative corner.
        if (left + width > screenW) {
            left = screenW - width;
        }
        if (top + height > screenH) {
            top = screenH - height;
        }
        FLeft = left;
        FTop = top;
        moved = left != wasLeft || top != wasTop;
    }

    // The frame.
    if (FDrawAreaCapture) {
        windows_->ShowFrame({FLeft, FTop, FWidth, FHeight}, FLineRectClear);
    } else {
        windows_->HideFrame();
    }

    // The preview event.
    if (!FOnPreview) {
        return;
    }
    const bool recording = FRecording;
    const bool grab =
        FPreview && (!recording || (FWidth <= kPreviewMaxWidth && FHeight <= kPreviewMaxHeight));
    if (grab) {
        TBitmap* picture = FPreviewPictureWanted
                               ? GrabToBitmap(FLeft, FTop, FWidth, FHeight, FFilterColor)
                               : nullptr;
        RaisePreview(picture, true, recording);
    } else {
        RaisePreview(nullptr, false, recording);
    }
    RestIfNothingChanges(moved);
}

void TScreenCamera::RestIfNothingChanges(bool frameMoved) {
    if (FRecording || PendingStart || FPreviewPictureWanted) {
        windows_->SetTimerPeriod(CameraWindows::kTimerMs);
        return;
    }
    // Idle over the whole screen with no picture wanted, every later tick
    // would repeat this one: the area is the screen (a start takes it
    // afresh), its frame lies outside it and the event carries no picture.
    // The timer rests until a start or a preview switch enables it again.
    if (FFullScreen) {
        windows_->SetTimerEnabled(false);
        return;
    }
    // Idle with a frame and no picture: the ticks only keep the frame in
    // place, as often as it can move.
    windows_->SetTimerPeriod(!FFollowMouse ? kFixedFrameTickMs
                             : frameMoved  ? CameraWindows::kTimerMs
                                           : kRestingMouseTickMs);
}

void TScreenCamera::SetFullScreenArea() {
    std::int32_t w = 0, h = 0;
    platform_.ScreenSize(&w, &h);
    FLeft = 0;
    FTop = 0;
    FWidth = w;
    FHeight = h;
}

bool TScreenCamera::SelectRegion() {
    return RunSelection(CameraWindows::Selection::Rectangle);
}

bool TScreenCamera::SelectWindow() {
    return RunSelection(CameraWindows::Selection::Window);
}

bool TScreenCamera::RunSelection(CameraWindows::Selection kind) {
    const std::shared_ptr<bool> alive = alive_;
    CameraWindows::Area area;
    const int result = windows_->ShowSelection(kind, &area);
    if (!*alive || result != CameraWindows::kOk) {
        return false;  // a cancel keeps PendingStart
    }
    FLeft = area.left;
    FTop = area.top;
    FWidth = area.width;
    FHeight = area.height;
    FRegionType = 3;
    if (PendingStart) {
        PendingStart = false;
        const std::string name = RecordFileName;
        if (!name.empty()) {
            StartRecording(name);
        }
    }
    return true;
}

void TScreenCamera::HotKeyWndProc(std::uint32_t Msg, std::uintptr_t Id) {
    if (Msg != kWmHotKey) {
        return;
    }
    using Selection = CameraWindows::Selection;
    // The reason belongs to a running recording only: one that is being
    // saved already must not be discarded by a key meant for a selection.
    if (Id == FHotKey1) {
        if (FRecording) {
            StopReason = kStopKeep;
        }
    } else if (Id == FHotKey2) {
        if (FRecording) {
            StopReason = kStopDiscard;
        }
        if (windows_->SelectionShowing(Selection::Rectangle)) {
            windows_->EndSelection(Selection::Rectangle, CameraWindows::kCancel);
        }
        if (windows_->SelectionShowing(Selection::Window)) {
            windows_->EndSelection(Selection::Window, CameraWindows::kCancel);
        }
        PendingStart = false;
        if ((FPreview || FRecording) && FRestoreAppWindowAfterCapture) {
            platform_.RestoreApplication(FOwnerForm);
        }
        if (FPreview && !FRecording) {
            SetPreview(false);
        }
    } else if (Id == FHotKey3) {
        if (windows_->SelectionShowing(Selection::Window)) {
            const CameraWindows::Area framed = windows_->PickerArea();
            windows_->EndSelection(Selection::Window, framed.width != 0 && framed.height != 0
                                                          ? CameraWindows::kOk
                                                          : CameraWindows::kCancel);
        }
    }
    if (FRecording) {
        FRecording = false;
        SetPreview(FPreview);
    }
}

void TScreenCamera::AppMinimize() {
    if (windows_->FrameShowing()) {
        windows_->RestoreFrame();
    }
}

void TScreenCamera::AbortRecording() {
    if (FRecording) {
        StopReason = kStopDiscard;
        FRecording = false;
    }
    // The flag is down already, so the hot-key path does not re-apply the
    // preview itself: without it the timer would run on for good.
    OnUiThread([this] {
        HotKeyWndProc(kWmHotKey, FHotKey2);
        SetPreview(FPreview);
    });
}
