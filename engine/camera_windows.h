// The camera's windows, on the UI thread: its 30 ms timer (FTimer), the red
// frame around the area (FFlashingWnd), the hidden window that receives the
// camera's hot keys (FHotKeyWnd) and, while one is shown, a selection window
// (the rectangle selection or the window picker).
//
// The camera creates one through its platform at construction and releases
// it in its destructor; every call comes from the UI thread. The timer's
// ticks call TScreenCamera::TimerTick, the hot-key window's WM_HOTKEY calls
// TScreenCamera::HotKeyWndProc and the owner's minimise calls
// TScreenCamera::AppMinimize. Esc (FHotKey2) and Ctrl+Enter (FHotKey3) are
// registered only while a selection window shows; where another program
// holds either, the keys are watched another way for that time, so that a
// selection can always be confirmed or cancelled.
#pragma once

#include <cstdint>

class CameraWindows {
  public:
    enum class Selection { Rectangle, Window };
    struct Area {
        std::int32_t left = 0;
        std::int32_t top = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };
    // Modal results of a selection.
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;

    virtual ~CameraWindows() = default;

    // ---- FTimer ----
    // Every 30 ms; enabling restarts it at that period.
    static constexpr std::uint32_t kTimerMs = 30;
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual bool TimerEnabled() const = 0;
    // Runs an enabled timer every `ms` from now on (until it is enabled again).
    virtual void SetTimerPeriod(std::uint32_t ms) = 0;

    // ---- FFlashingWnd ----
    // Places the frame around `area` (or its corners), paints it, shows it
    // and puts it on top of all windows without activating it.
    virtual void ShowFrame(const Area& area, bool cornersOnly) = 0;
    virtual void HideFrame() = 0;
    virtual bool FrameShowing() const = 0;
    // Brings the frame back after the application was minimised.
    virtual void RestoreFrame() = 0;

    // ---- FHotKeyWnd ----
    // The ids FHotKey1 .. FHotKey3 (n = 1..3): global atoms of "FHotKey1"...
    virtual std::uint32_t HotKeyId(int n) const = 0;

    // ---- Selection windows ----
    // Creates the window (the rectangle selection topmost), shows it
    // modally and frees it: kOk with the chosen area in *selected, or
    // kCancel. Returns kCancel at once while another selection shows. The
    // camera may be destroyed while the loop runs (a close arriving inside
    // it): the window then ends with kCancel and nothing of the camera is
    // touched after that.
    virtual int ShowSelection(Selection kind, Area* selected) = 0;
    // True while a window of `kind` exists and is shown.
    virtual bool SelectionShowing(Selection kind) const = 0;
    // Ends a showing selection with `result`; the picker's tracking timer is
    // stopped first, so the result is what it framed at that moment.
    virtual void EndSelection(Selection kind, int result) = 0;
    // The area the picker frames now (empty when none shows).
    virtual Area PickerArea() const = 0;
};
