// TSelObjWindow: the window picker. While it is open, a thin red frame with
// the label "Cancel: Esc -- Select: Ctrl+Enter" on its top-left corner
// follows the mouse: every 40 ms (Timer1) the picker reads the window under
// the cursor (WindowFromPoint, so a button inside a dialog is framed rather
// than the dialog), keeps its screen rectangle in FSelLeft..FSelHeight and
// wraps itself around it. The picker's shape is only the frame and the label,
// so the framed window stays visible and usable.
//
// The camera creates it, shows it modally and frees it afterwards. Esc and
// Ctrl+Enter reach it as the camera's global hot keys, whose handlers run
// inside ShowModal's loop: they stop Timer1 (so the result is what was
// framed when the key was pressed) and set the modal result; Ctrl+Enter
// accepts only a rectangle of non-zero width and height.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "win32/form_window.h"
#include "selection/frame_shape.h"

namespace kelvora {

// The picker's label.
inline constexpr wchar_t kSelObjLabel[] = L"Cancel: Esc -- Select: Ctrl+Enter";

class TSelObjWindow : public ModalForm {
  public:
    // Creates the picker hidden, owned by `owner` (the application's window;
    // may be null), and starts Timer1. It has no shape until the first tick.
    // Null when the platform refuses a window, a font or the timer. The
    // caller owns the result.
    [[nodiscard]] static std::unique_ptr<TSelObjWindow> Create(HWND owner);
    ~TSelObjWindow() override;

    // Results, valid after kModalOk: the screen rectangle of the window that
    // was under the cursor at the last tick. Written by the picker's ticks.
    int FSelLeft = 0;
    int FSelTop = 0;
    int FSelWidth = 0;
    int FSelHeight = 0;

    // Starts or stops Timer1 (40 ms). Returns false when the platform refuses
    // to start it.
    [[nodiscard]] bool SetTimer1Enabled(bool enabled);
    bool Timer1Enabled() const { return timerOn_; }

    // Places the picker around the screen rectangle (X, Y, Width, Height)
    // with Text as its label and gives it its hollow shape; see FrameShape.
    // False for negative sizes or when the platform refuses.
    [[nodiscard]] bool SetFrame(int X, int Y, int Width, int Height, bool CornersOnly,
                                const std::wstring& Text);
    // Paints the label (white on red) and the red frame now.
    [[nodiscard]] bool PaintFrame(const std::wstring& Text);

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    TSelObjWindow() = default;
    // One tick: frame the window under the cursor and stay on top.
    void Timer1Timer();

    FrameShape shape_;
    bool timerOn_ = false;
};

}  // namespace kelvora
