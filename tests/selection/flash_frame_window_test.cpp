// The red frame window on a real display: its pixels are read back from the
// screen after the camera's tick (ShowAround: SetFrame, PaintFrame, show,
// topmost).
#include "selection/flash_frame_window.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <sstream>
#include <string>

#include "tests/support/desktop.h"

namespace kelvora {
namespace {

using test::kRed;

constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr std::uint32_t kGreyPx = 0x808080;
constexpr RECT kProbe{0, 0, 600, 500};

// The camera's tick that wants a frame (CameraWindows::ShowFrame).
void CameraTick(TFlashingWnd& wnd, int x, int y, int w, int h, bool corners) {
    ASSERT_TRUE(wnd.ShowAround(x, y, w, h, corners));
    ASSERT_TRUE(wnd.Showing());
}

// The frame expected around the area (x, y, w, h) with an empty caption:
// columns x - 2 and x + w, rows y - 2 and y + h; with arms, only the first
// and last `armX` pixels of each row and `armY` of each column are red.
struct Frame {
    int x, y, w, h;
    int armX = INT_MAX / 2, armY = INT_MAX / 2;

    // Empty when `pic` shows exactly this frame (and nothing red around or
    // inside it); otherwise the first difference.
    std::string Mismatch(const test::ScreenPicture& pic) const {
        const int l = x - 2, r = x + w, t = y - 2, b = y + h;
        auto describe = [](const char* what, int px, int py, bool red) {
            std::ostringstream s;
            s << what << " (" << px << "," << py << ") should " << (red ? "" : "not ") << "be red";
            return s.str();
        };
        for (int px = l - 6; px <= r + 6; ++px) {
            for (int row : {t, b}) {
                const bool red = px >= l && px <= r && (px < l + armX || px > r - armX);
                if ((pic.At(px, row) == kRed) != red) {
                    return describe("row", px, row, red);
                }
            }
        }
        for (int py = t - 12; py <= b + 6; ++py) {
            for (int col : {l, r}) {
                const bool red = py >= t && py <= b && (py < t + armY || py > b - armY);
                if ((pic.At(col, py) == kRed) != red) {
                    return describe("column", col, py, red);
                }
            }
        }
        for (int py = t + 1; py < b; ++py) {
            for (int px = l + 1; px < r; ++px) {
                if (pic.At(px, py) == kRed) {
                    return describe("inside", px, py, false);
                }
            }
        }
        return {};
    }
};

// Waits until the screen shows `frame`, then reports any difference left.
test::ScreenPicture ExpectFrame(const Frame& frame) {
    auto pic = test::GrabUntil(kProbe, [&](const auto& p) { return frame.Mismatch(p).empty(); });
    EXPECT_TRUE(pic.ok);
    EXPECT_EQ(frame.Mismatch(pic), "");
    return pic;
}

class FlashWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        background_ = std::make_unique<test::ColourWindow>(RECT{0, 0, 800, 600}, kGrey);
        test::GrabUntil(kProbe, [](const auto& p) { return p.At(300, 300) == kGreyPx; });
        wnd_ = TFlashingWnd::Create(background_->get());
        ASSERT_NE(wnd_, nullptr);
    }

    std::unique_ptr<test::ColourWindow> background_;
    std::unique_ptr<TFlashingWnd> wnd_;
};

TEST_F(FlashWindowTest, CreatedHiddenWithItsInitialBounds) {
    EXPECT_FALSE(wnd_->Showing());
    RECT rc;
    ASSERT_TRUE(GetWindowRect(wnd_->Handle(), &rc));
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 16);
    EXPECT_EQ(rc.right - rc.left, 300);
    EXPECT_EQ(rc.bottom - rc.top, 300);
    EXPECT_EQ(GetWindow(wnd_->Handle(), GW_OWNER), background_->get());
    ShowWindow(wnd_->Handle(), SW_SHOW);
    EXPECT_TRUE(wnd_->Showing());
    EXPECT_NE(GetForegroundWindow(), wnd_->Handle()) << "never takes the focus";
    ShowWindow(wnd_->Handle(), SW_HIDE);
    EXPECT_FALSE(wnd_->Showing());
}

TEST_F(FlashWindowTest, FullFrameLiesJustOutsideTheArea) {
    CameraTick(*wnd_, 100, 100, 300, 200, false);
    const auto pic = ExpectFrame({100, 100, 300, 200});
    pic.Save("frame_full.png");
    // The gap pixel and the area show what lies beneath.
    EXPECT_EQ(pic.At(99, 150), kGreyPx);
    EXPECT_EQ(pic.At(250, 99), kGreyPx);
    EXPECT_EQ(pic.At(100, 100), kGreyPx);
    EXPECT_EQ(pic.At(399, 299), kGreyPx);
}

TEST_F(FlashWindowTest, CornerMarksHaveTwentyPixelArms) {
    CameraTick(*wnd_, 100, 100, 300, 200, true);
    ExpectFrame({100, 100, 300, 200, 20, 20}).Save("frame_corners.png");
}

// On short sides each arm is a third of the side: the corners stay corners,
// with an open middle as long as an arm.
TEST_F(FlashWindowTest, CornerMarksOfSmallAreasKeepAnOpenMiddle) {
    const Frame cases[] = {{200, 200, 20, 10, 7, 4},
                           {200, 200, 37, 37, 13, 13},
                           {200, 200, 38, 5, 20, 2},
                           {200, 200, 0, 0, 1, 1},
                           {200, 200, 1, 60, 1, 20}};
    for (const Frame& f : cases) {
        SCOPED_TRACE(testing::Message() << f.w << " x " << f.h);
        CameraTick(*wnd_, f.x, f.y, f.w, f.h, true);
        const auto pic = ExpectFrame(f);
        if (f.w == 20) {
            pic.Save("frame_corners_small.png");
        }
    }
}

TEST_F(FlashWindowTest, FullScreenAreaShowsNoFrame) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    CameraTick(*wnd_, 0, 0, sw, sh, false);
    test::PumpFor(100);
    const auto pic = test::GrabWholeScreen();
    ASSERT_TRUE(pic.ok);
    long red = 0;
    for (const auto p : pic.px) {
        red += p == kRed ? 1 : 0;
    }
    EXPECT_EQ(red, 0);
    RECT rc;
    ASSERT_TRUE(GetWindowRect(wnd_->Handle(), &rc));
    EXPECT_EQ(rc.left, -2);
    EXPECT_EQ(rc.top, -2 - wnd_->PaintRect().top);
    EXPECT_EQ(rc.right - 1, sw);
    EXPECT_EQ(rc.bottom - 1, sh);
    EXPECT_TRUE(wnd_->Showing());
}

TEST_F(FlashWindowTest, CaptionWiderThanTheFrameIsCutAtTheRightColumn) {
    const std::wstring caption = L"A caption much wider than the frame";
    ASSERT_TRUE(wnd_->SetFrame(300, 300, 40, 30, false, caption));
    ASSERT_TRUE(wnd_->PaintFrame(caption));
    ShowWindow(wnd_->Handle(), SW_SHOW);
    const int th = wnd_->PaintRect().top;
    ASSERT_GT(th, 5);
    // Label rows: only red and white up to the right column (x = 340), some
    // white letters, and the background right after it.
    auto labelCut = [&](const test::ScreenPicture& pic) {
        int white = 0;
        for (int y = 298 - th; y < 298; ++y) {
            for (int x = 298; x <= 340; ++x) {
                const auto p = pic.At(x, y);
                if (p != kRed && p != test::kWhite) {
                    return false;
                }
                white += p == test::kWhite ? 1 : 0;
            }
            for (int x = 341; x < 360; ++x) {
                if (pic.At(x, y) != kGreyPx) {
                    return false;
                }
            }
        }
        return white > 20;
    };
    const auto pic = test::GrabUntil(kProbe, labelCut);
    pic.Save("frame_caption_cut.png");
    EXPECT_TRUE(labelCut(pic));
    EXPECT_EQ(pic.At(297, 298 - th), kGreyPx);
    EXPECT_EQ(pic.At(340, 320), kRed);
}

// Between two ticks the platform may repaint the window (a new shape, a
// window passing over it, an invalidation); the frame must still show red.
TEST_F(FlashWindowTest, FrameSurvivesRepaintsBetweenTicks) {
    CameraTick(*wnd_, 100, 100, 300, 200, false);
    ExpectFrame({100, 100, 300, 200});
    // A new shape without PaintFrame: only the platform's repaint paints it.
    ASSERT_TRUE(wnd_->SetFrame(150, 120, 200, 150, false, L""));
    ExpectFrame({150, 120, 200, 150});
    {
        test::ColourWindow cover({120, 100, 380, 300}, RGB(0, 200, 0), true);
        test::GrabUntil(kProbe, [](const auto& p) { return p.At(148, 118) == 0x00C800u; });
    }
    ExpectFrame({150, 120, 200, 150});
    RedrawWindow(wnd_->Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    ExpectFrame({150, 120, 200, 150});
}

// Ticks moving the area back and forth leave the frame right every time.
TEST_F(FlashWindowTest, RepeatedTicksKeepTheFrameShowing) {
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(testing::Message() << "tick " << i);
        const int x = 100 + (i % 2) * 10;
        CameraTick(*wnd_, x, 100, 300, 200, i % 3 == 0);
        ExpectFrame(i % 3 == 0 ? Frame{x, 100, 300, 200, 20, 20} : Frame{x, 100, 300, 200});
    }
}

TEST_F(FlashWindowTest, BadSizesAreRefusedAndChangeNothing) {
    CameraTick(*wnd_, 100, 100, 300, 200, false);
    RECT before;
    ASSERT_TRUE(GetWindowRect(wnd_->Handle(), &before));
    EXPECT_FALSE(wnd_->SetFrame(100, 100, -1, 200, false, L""));
    EXPECT_FALSE(wnd_->SetFrame(100, 100, 300, -5, true, L""));
    EXPECT_FALSE(wnd_->SetFrame(INT_MIN, 100, 300, 200, false, L""));
    EXPECT_FALSE(wnd_->SetFrame(100, 100, INT_MAX, INT_MAX, false, L""));
    RECT after;
    ASSERT_TRUE(GetWindowRect(wnd_->Handle(), &after));
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_TRUE(wnd_->PaintFrame(L""));
    ExpectFrame({100, 100, 300, 200});
    // A tick with such an area hides the frame: left where it was, it would
    // mark what is not recorded. The next good tick shows it again.
    EXPECT_FALSE(wnd_->ShowAround(100, 100, 300, -5, false));
    EXPECT_FALSE(wnd_->Showing());
    CameraTick(*wnd_, 120, 100, 300, 200, false);
    ExpectFrame({120, 100, 300, 200});
}

// Regions, fonts and device contexts all go back: create, shape, paint, show
// and destroy many windows; the process's GDI objects return to their count.
TEST(FlashWindowResources, GdiObjectsReturnAfterManyCycles) {
    const long start = test::LiveGdiObjects();
    if (start < 0) {
        GTEST_SKIP() << "no count of GDI objects on this platform";
    }
    // The measure itself must see objects come and go.
    {
        HBRUSH b[5];
        for (auto& brush : b) {
            brush = CreateSolidBrush(RGB(1, 2, 3));
        }
        EXPECT_EQ(test::LiveGdiObjects(), start + 5);
        for (auto& brush : b) {
            DeleteObject(brush);
        }
        ASSERT_EQ(test::LiveGdiObjects(), start);
    }
    auto cycle = [](int i) {
        auto wnd = TFlashingWnd::Create(nullptr);
        ASSERT_NE(wnd, nullptr);
        ASSERT_TRUE(wnd->SetFrame(50 + i, 60, 100, 80, i % 2 == 0, L"label"));
        ASSERT_TRUE(wnd->PaintFrame(L"label"));
        ShowWindow(wnd->Handle(), SW_SHOW);
        ASSERT_TRUE(wnd->SetFrame(60, 60 + i, 90, 70, i % 2 != 0, L""));
        ASSERT_TRUE(wnd->PaintFrame(L""));
        test::PumpFor(2);
    };
    test::ExpectGdiObjectsReturn(cycle);
}

}  // namespace
}  // namespace kelvora
