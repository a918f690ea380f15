// TFreeHandWindow: the rectangle selection on a frozen picture of the screen.
//
// As it is shown, the window copies the primary screen into FScreenBitmap
// and covers the screen with that picture, so the user drags a rectangle on
// a still image while the applications underneath keep running. Four blue
// one-pixel lines (Shape1 .. Shape4) mark the two corners; a tooltip beside
// the cursor tells its position, the rectangle's size and the commands.
//
// Mouse protocol (positions always from GetCursorPos, in screen pixels,
// which are the window's pixels as it covers the screen from (0, 0); a
// position past the picture's edges, on another monitor, counts as the
// edge):
//   left press        starts a rectangle at the cursor (Shape1, Shape2);
//   move while down   moves the opposite corner (Shape3, Shape4);
//   release (any)     ends the drag; the rectangle counts as marked only if
//                     the drag ended on another column and another row;
//   Ctrl + left press on a marked rectangle of non-zero size: modal result
//                     kModalOk, with the rectangle in FSelLeft..FSelHeight;
//   right or middle   press: only the hint is cleared.
// Esc reaches the window as the camera's hot key, which sets kModalCancel.
//
// The camera creates the window, makes it topmost, calls ShowModal and frees
// it afterwards; the picture and the tooltip go with it.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "win32/form_window.h"
#include "win32/handles.h"

namespace kelvora {

class TFreeHandWindow : public ModalForm {
  public:
    // One of the four lines: a 1-pixel-wide (or high) rectangle in window
    // coordinates, drawn blue while visible.
    struct LineShape {
        RECT bounds{};
        bool visible = false;
    };

    // Creates the window hidden, owned by `owner` (the application's window;
    // may be null), with a screen-sized bitmap in the display's format and
    // its tooltip. Null when the platform refuses any of them. The caller
    // owns the result.
    [[nodiscard]] static std::unique_ptr<TFreeHandWindow> Create(HWND owner);
    ~TFreeHandWindow() override;

    // Results, valid after kModalOk: the normalised rectangle in screen
    // pixels (width and height are the plain differences, no +1).
    int FSelLeft = 0;
    int FSelTop = 0;
    int FSelWidth = 0;
    int FSelHeight = 0;

    // State, for the camera and for tests.
    bool Dragging() const { return FDragging; }
    bool Selected() const { return FSelected; }
    // Shape1 .. Shape4 at indexes 0 .. 3.
    const std::array<LineShape, 4>& Shapes() const { return shapes_; }
    // The tooltip text exactly as built: lines separated by line feed then
    // carriage return. Empty after a press until the next move.
    const std::wstring& Hint() const { return hint_; }
    // The tooltip control (owned by this window).
    HWND TooltipHandle() const { return tooltip_.get(); }

    // Tests only: windows created afterwards freeze a picture of this size
    // (0, 0: the primary screen's), so that the cursor can leave it as it
    // does onto a second monitor.
    static void SetPictureSizeForTesting(int width, int height);

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
    void FormShow() override;
    void FormHide() override;

  private:
    TFreeHandWindow() = default;

    [[nodiscard]] bool FormCreate();
    void FormPaint();
    void FormMouseDown(bool left, bool ctrl);
    void FormMouseMove();
    void FormMouseUp();
    void Normalise();
    // The cursor, held to the picture.
    POINT PointOnPicture() const;
    void ShowHint(POINT cursor);
    void HideHint();
    // Moves, shows or hides line `index`, repainting the strips it leaves
    // and the strip it covers.
    void SetShape(int index, const RECT& bounds, bool visible);
    void SetShapeVisible(int index, bool visible);
    // Full-length vertical / horizontal lines through `pos`.
    RECT VerticalLine(int x) const;
    RECT HorizontalLine(int y) const;

    // The bitmap stays selected into its memory DC; the DC goes first.
    win32::Bitmap FScreenBitmap;
    win32::MemoryDc bitmapDc_;
    win32::Window tooltip_;
    std::wstring hint_;
    std::wstring tooltipText_;
    std::array<LineShape, 4> shapes_{};
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    int FStartX = 0;
    int FStartY = 0;
    int FEndX = 0;
    int FEndY = 0;
    bool FDragging = false;
    bool FSelected = false;
};

}  // namespace kelvora
