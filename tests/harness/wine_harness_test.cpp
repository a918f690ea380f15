// A window painted with known colours is read back from the screen with
// BitBlt + GetDIBits: the display, the window manager and GDI are real.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/png_file.h"
#include "tests/support/test_paths.h"

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
            HBRUSH b = CreateSolidBrush(kQuadrants[i]);
            FillRect(dc, &q, b);
            DeleteObject(b);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    MSG m;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&m);
        }
        Sleep(10);
    }
}

// Reads a rectangle of the screen as 32-bit top-down B, G, R, x pixels.
std::vector<std::uint32_t> GrabScreen(int x, int y, int w, int h) {
    std::vector<std::uint32_t> px(static_cast<size_t>(w) * h);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    const int lines = GetDIBits(mem, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(lines, h);
    return px;
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
    PumpFor(300);

    const std::vector<std::uint32_t> px = GrabScreen(x, y, w, h);
    kelvora::test::SavePngBgrx(kelvora::test::OutputPath("quadrants.png"), w, h,
                               reinterpret_cast<const std::uint8_t*>(px.data()), w * 4);
    for (int i = 0; i < 4; ++i) {
        const int cx = (i % 2) * (w / 2) + w / 4, cy = (i / 2) * (h / 2) + h / 4;
        EXPECT_EQ(px[static_cast<size_t>(cy) * w + cx] & 0xFFFFFF, Bgrx(kQuadrants[i]))
            << "quadrant " << i;
    }
    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
