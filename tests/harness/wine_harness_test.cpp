// A window painted with known colours is read back from the screen by the
// tests' own screen grab (BitBlt from the screen's device context): the
// display, the window manager and GDI are real.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/desktop.h"
#include "win32/handles.h"

namespace {

constexpr COLORREF kQuadrants[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                    RGB(255, 255, 0)};

LRESULT CALLBACK PaintQuadrants(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        const int w = rc.right / 2, h = rc.bottom / 2;
        for (int i = 0; i < 4; ++i) {
            RECT q{(i % 2) * w, (i / 2) * h, (i % 2) * w + w, (i / 2) * h + h};
            win32::Brush brush(CreateSolidBrush(kQuadrants[i]));
            FillRect(dc, &q, brush.get());
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

std::uint32_t Bgrx(COLORREF c) {
    return static_cast<std::uint32_t>(GetRValue(c)) << 16 |
           static_cast<std::uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
}

TEST(WineHarness, PaintedWindowIsGrabbedBackFromTheScreen) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PaintQuadrants;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KelvoraHarnessQuadrants";
    ASSERT_NE(RegisterClassW(&wc), 0);
    const int x = 200, y = 150, w = 160, h = 120;
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"harness", WS_POPUP, x, y, w,
                                h, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    kelvora::test::PumpFor(300);

    const kelvora::test::ScreenPicture pic = kelvora::test::GrabScreen({x, y, x + w, y + h});
    ASSERT_TRUE(pic.ok);
    pic.Save("quadrants.png");
    for (int i = 0; i < 4; ++i) {
        const int cx = x + (i % 2) * (w / 2) + w / 4, cy = y + (i / 2) * (h / 2) + h / 4;
        EXPECT_EQ(pic.At(cx, cy) & 0xFFFFFF, Bgrx(kQuadrants[i])) << "quadrant " << i;
    }
    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
