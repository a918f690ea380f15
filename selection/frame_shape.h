// The red frame around a screen area, with an optional white-on-red label on
// its top-left corner: the shape and the painting shared by the flashing
// frame window and the window picker.
//
// For the area X, Y, W, H the window covers X - 2 .. X + W horizontally and
// Y - TH - 2 .. Y + H vertically (TW x TH: the label's text size). Its
// window region keeps only the one-pixel frame (left column X - 2, right
// column X + W, top row Y - 2, bottom row Y + H) and the label strip above
// the top row, so the area itself is never covered. With corner marks only
// the four corners remain, arms 20 pixels long; where a side is too short
// for two such arms with a gap between them (40 pixels or less), each arm
// covers a third of the side, so the open middle stays as long as an arm.
#pragma once

#include <windows.h>

#include <string>

#include "win32/handles.h"

namespace kelvora {

class FrameShape {
  public:
    // Creates the label font ("MS Sans Serif", height -11; the system maps
    // the name to a font it has). False when no font can be made.
    [[nodiscard]] bool Init();

    // Moves `wnd` around the area, rebuilds its region and hands it to the
    // platform with redraw. `caption` is the label (may be empty). Returns
    // false for bad sizes (nothing changes) or when the platform refuses.
    [[nodiscard]] bool SetFrame(HWND wnd, int x, int y, int width, int height, bool cornersOnly,
                                const std::wstring& caption);
    // Paints the label and the frame on the window now. Returns false when
    // the window gives no device context.
    [[nodiscard]] bool PaintFrame(HWND wnd, const std::wstring& caption);
    // Answers WM_PAINT with the same picture, so that a repaint by the
    // platform between two calls never shows anything else.
    void PaintRequested(HWND wnd);

    // The paint rectangle of the last SetFrame, in window coordinates.
    RECT PaintRect() const { return {FPaintLeft, FPaintTop, FPaintRight, FPaintBottom}; }
    // The region set last; owned by the platform (the window), not by us.
    HRGN FrameRegion() const { return FFrameRegion; }

  private:
    // Text size of `text` in the label font; an empty text has width 0 and
    // the height of a line.
    SIZE TextSize(HWND wnd, const std::wstring& text) const;
    void Paint(HDC dc) const;

    win32::Font font_;
    std::wstring caption_;  // painted by WM_PAINT: the last caption given
    int FPaintLeft = 0;
    int FPaintTop = 0;
    int FPaintRight = 0;
    int FPaintBottom = 0;
    HRGN FFrameRegion = nullptr;
};

}  // namespace kelvora
