// The GDI frame grabber under Wine: a window of known colours grabbed back at
// each depth, inverted, with the cursor painted in, clipped or hidden.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "engine/camera_platform.h"
#include "engine/frame_grabber_win32.h"
#include "engine/screen_camera.h"
#include "engine/tbitmap_win32.h"
#include "engine/vfw/dib.h"
#include "tests/support/desktop.h"
#include "tests/support/png_file.h"
#include "tests/support/test_paths.h"

namespace {

using kelvora::test::PumpFor;

// Four quadrants of colours that every depth shows exactly.
constexpr COLORREF kTopLeft = RGB(255, 0, 0);
constexpr COLORREF kTopRight = RGB(0, 255, 0);
constexpr COLORREF kBottomLeft = RGB(0, 0, 255);
constexpr COLORREF kBottomRight = RGB(255, 255, 255);

// A cursor of known colours: a 32 x 32 black square with a white inner
// square, hotspot at (4, 6).
HCURSOR MakeTestCursor() {
    BYTE andMask[32 * 4];
    BYTE xorMask[32 * 4];
    for (int y = 0; y < 32; ++y) {
        for (int xb = 0; xb < 4; ++xb) {
            BYTE a = 0xFF, x = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int px = xb * 8 + bit;
                if (px < 16 && y < 16) {
                    a &= static_cast<BYTE>(~(0x80 >> bit));  // opaque
                    if (px >= 4 && px < 12 && y >= 4 && y < 12) {
                        x |= static_cast<BYTE>(0x80 >> bit);  // white
                    }
                }
            }
            andMask[y * 4 + xb] = a;
            xorMask[y * 4 + xb] = x;
        }
    }
    return CreateCursor(GetModuleHandleW(nullptr), 4, 6, 32, 32, andMask, xorMask);
}

HCURSOR g_cursor = nullptr;

LRESULT CALLBACK QuadrantProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT rc;
            GetClientRect(hwnd, &rc);
            const int w = rc.right / 2, h = rc.bottom / 2;
            const COLORREF colours[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
            for (int i = 0; i < 4; ++i) {
                RECT q{(i % 2) * w, (i / 2) * h, (i % 2) ? rc.right : w, (i / 2) ? rc.bottom : h};
                HBRUSH b = CreateSolidBrush(colours[i]);
                FillRect(dc, &q, b);
                DeleteObject(b);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_SETCURSOR:
            SetCursor(g_cursor);
            return TRUE;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

class GrabberTest : public ::testing::Test {
  protected:
    static constexpr int kX = 300, kY = 200, kW = 301, kH = 200;

    static void SetUpTestSuite() {
        g_cursor = MakeTestCursor();
        WNDCLASSW wc{};
        wc.lpfnWndProc = QuadrantProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoraGrabberQuadrants";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"quadrants", WS_POPUP, kX, kY,
                                  kW, kH, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
        camera_ = new TScreenCamera(nullptr);
        PumpFor(300);
    }
    static void TearDownTestSuite() {
        delete camera_;
        DestroyWindow(window_);
        DestroyCursor(g_cursor);
    }

    // Puts the pointer at (x, y) and lets the window set its cursor.
    static void PointAt(int x, int y) {
        SetCursorPos(x, y);
        PumpFor(150);
    }

    static HWND window_;
    static TScreenCamera* camera_;
};
HWND GrabberTest::window_ = nullptr;
TScreenCamera* GrabberTest::camera_ = nullptr;

// 0x00RRGGBB of pixel (x, y), y from the top, of a packed DIB.
std::uint32_t PixelAt(const vfw::BITMAPINFOHEADER* bi, int x, int y) {
    const auto* base = reinterpret_cast<const std::uint8_t*>(bi);
    const auto* colours = reinterpret_cast<const RGBQUAD*>(base + bi->biSize);
    const std::uint8_t* bits = base + bi->biSize + bi->biClrUsed * 4;
    const size_t row = vfw::DibRowBytes(bi->biWidth, bi->biBitCount);
    const std::uint8_t* p = bits + row * static_cast<size_t>(bi->biHeight - 1 - y);
    auto widen = [](unsigned v) { return (v << 3) | (v >> 2); };
    switch (bi->biBitCount) {
        case 8: {
            const RGBQUAD q = colours[p[x]];
            return static_cast<std::uint32_t>(q.rgbRed) << 16 | q.rgbGreen << 8 | q.rgbBlue;
        }
        case 16: {
            const unsigned v = p[x * 2] | p[x * 2 + 1] << 8;
            return widen(v >> 10 & 31) << 16 | widen(v >> 5 & 31) << 8 | widen(v & 31);
        }
        case 24:
            return static_cast<std::uint32_t>(p[x * 3 + 2]) << 16 | p[x * 3 + 1] << 8 | p[x * 3];
        default:
            return static_cast<std::uint32_t>(p[x * 4 + 2]) << 16 | p[x * 4 + 1] << 8 | p[x * 4];
    }
}

std::uint32_t Rgb(COLORREF c) {
    return static_cast<std::uint32_t>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

void SaveFrame(const vfw::BITMAPINFOHEADER* bi, const std::string& name) {
    std::vector<std::uint32_t> px(static_cast<size_t>(bi->biWidth) * bi->biHeight);
    for (int y = 0; y < bi->biHeight; ++y) {
        for (int x = 0; x < bi->biWidth; ++x) {
            px[static_cast<size_t>(y) * bi->biWidth + x] = PixelAt(bi, x, y);
        }
    }
    kelvora::test::SavePngBgrx(kelvora::test::OutputPath(name), bi->biWidth, bi->biHeight,
                               reinterpret_cast<const std::uint8_t*>(px.data()), bi->biWidth * 4);
}

TEST_F(GrabberTest, PackedBitmapAtEveryDepth) {
    PointAt(5, 5);  // away from the window
    struct Depth {
        int index, bits;
        DWORD rowBytes, colours;
    };
    for (const Depth& d : {Depth{0, 8, 304, 256}, Depth{1, 16, 604, 0}, Depth{2, 24, 904, 0},
                           Depth{3, 32, 1204, 0}}) {
        SCOPED_TRACE(d.bits);
        camera_->SetColorDepth(d.index);
        vfw::BITMAPINFOHEADER* f = camera_->GrabFrame(kX, kY, kW, kH, 0);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->biSize, 40u);
        EXPECT_EQ(f->biWidth, kW);
        EXPECT_EQ(f->biHeight, kH) << "positive: bottom-up rows";
        EXPECT_EQ(f->biPlanes, 1);
        EXPECT_EQ(f->biBitCount, d.bits);
        EXPECT_EQ(f->biCompression, static_cast<vfw::DWORD>(BI_RGB));
        EXPECT_EQ(f->biSizeImage, d.rowBytes * kH);
        EXPECT_EQ(f->biClrUsed, d.colours);
        EXPECT_EQ(GlobalSize(GlobalHandle(f)), 40 + d.colours * 4 + d.rowBytes * kH);
        // The first row in memory is the bottom of the rectangle.
        EXPECT_EQ(PixelAt(f, 10, 10), Rgb(kTopLeft));
        EXPECT_EQ(PixelAt(f, kW - 10, 10), Rgb(kTopRight));
        EXPECT_EQ(PixelAt(f, 10, kH - 10), Rgb(kBottomLeft));
        EXPECT_EQ(PixelAt(f, kW - 10, kH - 10), Rgb(kBottomRight));
        SaveFrame(f, "grab-" + std::to_string(d.bits) + ".png");
        camera_->FreeFrame(f);
        EXPECT_EQ(f, nullptr);
    }
    camera_->SetColorDepth(3);
}

TEST_F(GrabberTest, InvertedColoursLeaveTheCursorItsOwn) {
    PointAt(kX + 100, kY + 50);  // in the red quadrant
    for (int filter : {0, 1, 2}) {
        SCOPED_TRACE(filter);
        vfw::BITMAPINFOHEADER* f = camera_->GrabFrame(kX, kY, kW, kH, filter);
        ASSERT_NE(f, nullptr);
        const bool inverted = filter == 1;
        EXPECT_EQ(PixelAt(f, 10, 10), inverted ? 0x00FFFFu : Rgb(kTopLeft));
        EXPECT_EQ(PixelAt(f, kW - 10, kH - 10), inverted ? 0u : 0xFFFFFFu);
        // Hotspot (4, 6) on the pointer: the cursor's top-left at (96, 44),
        // its black frame at (97, 45), its white inner square at (104, 52).
        EXPECT_EQ(PixelAt(f, 96 + 1, 44 + 1), 0u) << "black frame of the cursor";
        EXPECT_EQ(PixelAt(f, 96 + 8, 44 + 8), 0xFFFFFFu) << "white inside of the cursor";
        EXPECT_EQ(PixelAt(f, 96 + 20, 44 + 20), inverted ? 0x00FFFFu : Rgb(kTopLeft))
            << "beyond the cursor";
        SaveFrame(f, "cursor-filter-" + std::to_string(filter) + ".png");
        camera_->FreeFrame(f);
    }
}

TEST_F(GrabberTest, CursorAtTheEdgeIsClipped) {
    PointAt(kX + 100, kY + 50);
    // A picture whose left edge lies 8 pixels right of the cursor's left
    // side: only the cursor's right part shows.
    vfw::BITMAPINFOHEADER* f = camera_->GrabFrame(kX + 96 + 8, kY + 44, 100, 100, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(PixelAt(f, 0, 5), 0xFFFFFFu) << "white inside, clipped";
    EXPECT_EQ(PixelAt(f, 7, 5), 0u) << "black right edge";
    EXPECT_EQ(PixelAt(f, 9, 5), Rgb(kTopLeft));
    camera_->FreeFrame(f);
}

TEST_F(GrabberTest, HiddenOrUnwantedCursorIsNotPainted) {
    PointAt(kX + 100, kY + 50);
    camera_->FRecordCursor = false;
    vfw::BITMAPINFOHEADER* f = camera_->GrabFrame(kX, kY, kW, kH, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(PixelAt(f, 104, 52), Rgb(kTopLeft));
    camera_->FreeFrame(f);
    camera_->FRecordCursor = true;

    ShowCursor(FALSE);
    PumpFor(100);
    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    GetCursorInfo(&ci);
    f = camera_->GrabFrame(kX, kY, kW, kH, 0);
    ASSERT_NE(f, nullptr);
    if (ci.flags == 0) {
        EXPECT_EQ(PixelAt(f, 104, 52), Rgb(kTopLeft)) << "a hidden cursor is not painted";
    } else {
        ADD_FAILURE() << "the platform still reports the cursor as showing: " << ci.flags;
    }
    camera_->FreeFrame(f);
    ShowCursor(TRUE);
}

TEST_F(GrabberTest, PreviewPictureIsFilledInPlace) {
    PointAt(5, 5);
    camera_->SetColorDepth(1);
    TBitmap* b = camera_->GrabToBitmap(kX, kY, 120, 80, 0);
    ASSERT_EQ(b, camera_->FFrameBitmap);
    EXPECT_EQ(b->Width(), 120);
    EXPECT_EQ(b->Height(), 80);
    EXPECT_EQ(b->BitCount(), 16);
    EXPECT_EQ(GetPixel(b->Canvas(), 5, 5), kTopLeft);
    camera_->SetColorDepth(3);
    b = camera_->GrabToBitmap(kX + kW - 50, kY + kH - 50, 50, 50, 1);
    EXPECT_EQ(b->BitCount(), 32);
    EXPECT_EQ(GetPixel(b->Canvas(), 10, 10), RGB(0, 0, 0)) << "white, inverted";
}

TEST_F(GrabberTest, GrabsReleaseTheirGdiObjects) {
    PointAt(kX + 100, kY + 50);
    const long before = kelvora::test::LiveGdiObjects();
    ASSERT_GE(before, 0);
    for (int i = 0; i < 300; ++i) {
        vfw::BITMAPINFOHEADER* f = camera_->GrabFrame(kX, kY, 64, 64, i % 2);
        ASSERT_NE(f, nullptr);
        camera_->FreeFrame(f);
        camera_->GrabToBitmap(kX, kY, 32 + i % 7, 32, 0);
    }
    EXPECT_LE(kelvora::test::LiveGdiObjects(), before + 2);
}

// The recording loop's pool: its frames are GrabFrame's pixels at every
// depth; with every frame lent a grab waits for one to come back instead of
// making another or reusing a lent one, and the pool holds the same GDI
// objects however many frames it grabs.
TEST_F(GrabberTest, PoolLendsAFixedSetOfFrames) {
    PointAt(kX + 100, kY + 50);
    CameraPlatform& platform = ActivePlatform();
    for (int depth : {0, 1, 2, 3}) {
        SCOPED_TRACE(depth);
        camera_->SetColorDepth(depth);
        std::unique_ptr<FramePool> pool = platform.CreateFramePool(*camera_, kW, kH);
        ASSERT_NE(pool, nullptr);
        FramePool::Frame* f = pool->Grab(kX, kY, 1);
        vfw::BITMAPINFOHEADER* dib = camera_->GrabFrame(kX, kY, kW, kH, 1);
        ASSERT_NE(f, nullptr);
        ASSERT_NE(dib, nullptr);
        ASSERT_EQ(f->bytes, dib->biSizeImage);
        const auto* packed = reinterpret_cast<const std::uint8_t*>(dib) + 40 + dib->biClrUsed * 4;
        EXPECT_EQ(std::memcmp(f->bits, packed, f->bytes), 0) << "the same pixels, bit for bit";
        camera_->FreeFrame(dib);
        pool->GiveBack(f);
    }
    camera_->SetColorDepth(3);

    std::unique_ptr<FramePool> pool = platform.CreateFramePool(*camera_, kW, kH);
    ASSERT_NE(pool, nullptr);
    const long before = kelvora::test::LiveGdiObjects();
    std::vector<FramePool::Frame*> lent;
    std::vector<std::vector<std::uint8_t>> copies;
    for (int i = 0; i < kGrabPoolFrames; ++i) {
        lent.push_back(pool->Grab(kX, kY, 0));
        ASSERT_NE(lent.back(), nullptr);
        copies.emplace_back(lent.back()->bits, lent.back()->bits + lent.back()->bytes);
    }
    std::atomic<FramePool::Frame*> waiting{nullptr};
    std::thread grabber([&] { waiting = pool->Grab(kX, kY, 1); });  // inverted: unlike the rest
    PumpFor(300);
    EXPECT_EQ(waiting.load(), nullptr) << "waits while every frame is lent";
    pool->GiveBack(lent[1]);
    grabber.join();
    EXPECT_EQ(waiting.load(), lent[1]) << "the frame given back is grabbed into again";
    for (size_t i = 0; i < lent.size(); ++i) {
        if (i != 1) {
            EXPECT_EQ(std::vector<std::uint8_t>(lent[i]->bits, lent[i]->bits + lent[i]->bytes),
                      copies[i])
                << "lent frame " << i << " was written over";
        }
        pool->GiveBack(lent[i]);
    }
    for (int i = 0; i < 200; ++i) {
        FramePool::Frame* a = pool->Grab(kX, kY, i % 2);
        FramePool::Frame* b = pool->Grab(kX, kY, 0);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        pool->GiveBack(a);
        pool->GiveBack(b);
    }
    EXPECT_EQ(kelvora::test::LiveGdiObjects(), before);
}

TEST_F(GrabberTest, EmptyOrImpossibleSizesGiveNoFrame) {
    EXPECT_EQ(camera_->GrabFrame(0, 0, 0, 10, 0), nullptr);
    EXPECT_EQ(camera_->GrabFrame(0, 0, 10, -1, 0), nullptr);
    EXPECT_EQ(camera_->GrabFrame(0, 0, 100000, 100000, 0), nullptr);
}

}  // namespace
