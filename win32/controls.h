// Child controls of a form, created from one table per window.
//
// A table lists each control once: its id (the key of its handlers, see
// FormWindow::OnCommand), window class, caption, rectangle in 96-DPI units
// and styles. CreateControls (FormWindow) creates them as children of the
// form, scaled by the system DPI (the process is DPI-aware), with the shared
// dialog font. The font lives until the process ends; callers never free it.
#pragma once

#include <windows.h>

#include "win32/dpi_scale.h"

namespace kelvora {

struct ControlSpec {
    int id = 0;                          // control id, unique within the form
    const wchar_t* className = nullptr;  // WC_BUTTONW, WC_COMBOBOXW, TRACKBAR_CLASSW, ...
    const wchar_t* caption = L"";
    Rect96 bounds;    // client coordinates of the form, 96-DPI units
    DWORD style = 0;  // WS_CHILD is added; WS_VISIBLE when it is to be seen
    DWORD exStyle = 0;
};

// The system DPI (LOGPIXELSY of the screen), 96 when it cannot be read, or
// the value set by SetDpiForTesting.
int SystemDpi();

// Tests: lay out the windows created from now on as if the system ran at
// `dpi` (reviewers' screenshots of scaled dialogs on a 96-DPI display);
// 0 returns to the system's value.
void SetDpiForTesting(int dpi);

// Tahoma 8 pt at the system DPI: the font of every dialog and control. One
// font per DPI for the whole run; callers never free it.
HFONT DialogFont();

// Creates one control of `entry` as a child of `parent` at `dpi`, with the
// dialog font; null when the platform refuses. The parent owns the control.
HWND CreateControl(HWND parent, const ControlSpec& entry, int dpi);

}  // namespace kelvora
