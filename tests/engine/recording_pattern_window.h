// The moving pattern (recording_pattern.h) as a window on the screen, for
// the tests that record it under Wine: a timer of the window's own thread
// repaints it; no cursor is shown over it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "tests/engine/recording_pattern.h"

namespace recording_pattern {

// GetTickCount() when the pattern started moving.
inline DWORD PatternStart = 0;

inline LRESULT CALLBACK PatternProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            InvalidateRect(hwnd, nullptr, FALSE);
            UpdateWindow(hwnd);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            auto fill = [dc](int l, int t, int r, int b, std::uint32_t c) {
                RECT rc{l, t, r, b};
                HBRUSH brush = CreateSolidBrush(RGB(c >> 16, (c >> 8) & 0xFF, c & 0xFF));
                FillRect(dc, &rc, brush);
                DeleteObject(brush);
            };
            const int bar = BarLeft(GetTickCount() - PatternStart);
            fill(0, 0, kWidth, kBandTop, kBackground);
            fill(bar, 20, bar + kBarWidth, kBandTop - 20, kBar);
            fill(0, kBandTop, kWidth, kHeight, kBand);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_SETCURSOR:
            SetCursor(nullptr);  // no cursor over the pattern
            return TRUE;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace recording_pattern
