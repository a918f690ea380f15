// TFlashingWnd: the thin red frame that marks the recorded area on the
// screen, drawn just outside it (or only its four corners).
//
// The camera owns one, created hidden; at each tick that wants a frame it
// calls ShowAround (SetFrame, PaintFrame, show, topmost again without
// moving, sizing or activating); otherwise it hides it. The window is
// borderless, never fills its background and is shaped by a window region to
// the frame lines, so everything inside and around the frame stays visible
// and clickable, and a grab of the area never contains the frame. A repaint
// by the platform between two ticks paints the same frame again.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "win32/form_window.h"
#include "selection/frame_shape.h"

namespace kelvora {

class TFlashingWnd : public FormWindow {
  public:
    // Creates the window hidden, 300 x 300 at (0, 16), owned by `owner`
    // (the camera's owner form; may be null). Null when the platform refuses
    // a window or a font. The caller owns the result.
    [[nodiscard]] static std::unique_ptr<TFlashingWnd> Create(HWND owner);
    ~TFlashingWnd() override;

    // Places the window around the screen area (X, Y, Width, Height) and
    // shapes it to the frame (CornersOnly: four corner marks), with Caption
    // as a label above the frame's top-left corner (the camera passes "").
    // The region is rebuilt at every call. False for negative sizes or
    // coordinates out of range (nothing changes) or when the platform refuses.
    [[nodiscard]] bool SetFrame(int X, int Y, int Width, int Height, bool CornersOnly,
                                const std::wstring& Caption);
    // Paints the label (white on red) and the red frame now. False when the
    // window gives no device context.
    [[nodiscard]] bool PaintFrame(const std::wstring& Caption);
    // A tick's frame without caption: placed, painted and shown around the
    // area without activating, and put back on top when another window went
    // above it. The region is rebuilt only when the area changes (ticks come
    // every 30 ms; the window repaints itself when uncovered). An area that
    // cannot be framed hides the window (false): a frame left at the last
    // area would mark what is not recorded.
    bool ShowAround(int X, int Y, int Width, int Height, bool CornersOnly);

    // The paint rectangle (FPaintLeft, FPaintTop, FPaintRight, FPaintBottom).
    RECT PaintRect() const { return shape_.PaintRect(); }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    TFlashingWnd() = default;

    FrameShape shape_;
    // The area ShowAround placed the frame around (x, y, width, height),
    // while it is placed.
    bool placed_ = false;
    int area_[4] = {};
    bool corners_ = false;
};

}  // namespace kelvora
