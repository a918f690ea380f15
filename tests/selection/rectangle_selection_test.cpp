// The rectangle selection driven by real input: SendInput moves the mouse,
// presses and releases its buttons and holds Ctrl, while ShowModal's loop
// dispatches the messages. Esc acts as the camera's hot key does: it sets the
// modal result from inside the loop.
#include "selection/rectangle_selection.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/desktop.h"

namespace kelvora {
namespace {

using test::GrabScreen;

constexpr std::uint32_t kGreenPx = 0x00C800;
constexpr std::uint32_t kMagentaPx = 0xFF00FF;
constexpr std::uint32_t kGreyPx = 0x808080;

std::wstring Hyphens() {
    return std::wstring(40, L'-');
}

// The hint for the cursor at (x, y) and a w x h rectangle, lines joined by
// `breakPair` (the stored hint uses line feed then carriage return).
std::wstring HintAt(int x, int y, int w = 0, int h = 0, const std::wstring& breakPair = L"\n\r") {
    std::wstring s = L"X: " + std::to_wstring(x) + L" Y: " + std::to_wstring(y);
    if (w != 0 && h != 0) {
        s += breakPair + L"Selected Area : " + std::to_wstring(w) + L" x " + std::to_wstring(h);
    }
    return s + breakPair + Hyphens() + breakPair + L"Для отмены нажмите (ESC)" + breakPair +
           L"Для записи нажмите (Ctrl+Left Click)";
}

std::wstring TooltipControlText(HWND tip, HWND owner) {
    wchar_t buf[512] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = owner;
    ti.uId = 1;
    ti.lpszText = buf;
    SendMessageW(tip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    return buf;
}

class FreeHandWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_ = std::make_unique<test::ColourWindow>(RECT{0, 0, 1, 1}, RGB(0, 0, 0));
        ShowWindow(app_->get(), SW_HIDE);
        backdrop_ = std::make_unique<test::ColourWindow>(RECT{0, 0, 1000, 700}, RGB(128, 128, 128));
        target_ = std::make_unique<test::ColourWindow>(RECT{700, 450, 900, 600}, RGB(0, 200, 0));
        ASSERT_TRUE(test::MoveMouse(5, 5));
        ASSERT_EQ(test::GrabUntil({0, 0, 1000, 700},
                                  [](const auto& p) {
                                      return p.At(800, 500) == kGreenPx &&
                                             p.At(500, 300) == kGreyPx;
                                  })
                      .At(800, 500),
                  kGreenPx);
        wnd_ = TFreeHandWindow::Create(app_->get());
        ASSERT_NE(wnd_, nullptr);
        // As the camera does before ShowModal.
        SetWindowPos(wnd_->Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        run_ = std::make_unique<test::StepRunner>([this] {
            test::Key(VK_CONTROL, false);
            static_cast<void>(wnd_->SetModalResult(kModalCancel));
        });
        run_->Until("shown", [this] { return wnd_->Showing(); });
    }

    void TearDown() override {
        test::Key(VK_CONTROL, false);
        run_.reset();
        wnd_.reset();
    }

    // Moves the cursor and waits until the window has seen it there.
    void MoveTo(int x, int y) {
        run_->Do([x, y] {
            POINT p;
            GetCursorPos(&p);
            if (p.x == x && p.y == y) {
                test::MoveMouse(x + 3, y + 3);
            }
            ASSERT_TRUE(test::MoveMouse(x, y));
        });
        const std::wstring prefix =
            L"X: " + std::to_wstring(x) + L" Y: " + std::to_wstring(y) + L"\n";
        run_->Until("cursor seen at " + std::to_string(x) + "," + std::to_string(y),
                    [this, prefix] { return wnd_->Hint().rfind(prefix, 0) == 0; });
    }
    // Presses or releases a button; the next tick comes after the window
    // has handled it (timer messages come last).
    void Button(DWORD flag) {
        run_->Do([flag] { ASSERT_TRUE(test::MouseButton(flag)); });
        run_->Wait(30);
    }
    void Ctrl(bool down) {
        run_->Do([down] { ASSERT_TRUE(test::Key(VK_CONTROL, down)); });
        run_->Wait(30);
    }
    void Drag(POINT from, POINT to) {
        MoveTo(from.x, from.y);
        Button(MOUSEEVENTF_LEFTDOWN);
        MoveTo((from.x + to.x) / 2, (from.y + to.y) / 2);
        MoveTo(to.x, to.y);
        Button(MOUSEEVENTF_LEFTUP);
    }
    void Check(std::function<void()> check) { run_->Do(std::move(check)); }
    // Ctrl + left press: the window closes on it, so this ends the script;
    // Released() lets the button and the key go afterwards.
    void CtrlLeftPress() {
        Ctrl(true);
        run_->Do([] { ASSERT_TRUE(test::MouseButton(MOUSEEVENTF_LEFTDOWN)); });
    }
    static void Released() {
        test::MouseButton(MOUSEEVENTF_LEFTUP);
        test::Key(VK_CONTROL, false);
        test::PumpFor(30);
    }
    void Esc() {
        run_->Do([this] { ASSERT_TRUE(wnd_->SetModalResult(kModalCancel)); });
    }
    int RunModal() {
        run_->Start();
        const int result = wnd_->ShowModal();
        EXPECT_TRUE(run_->Finished()) << "the window closed before the script ended";
        return result;
    }
    void ExpectRect(int l, int t, int w, int h) const {
        EXPECT_EQ(wnd_->FSelLeft, l);
        EXPECT_EQ(wnd_->FSelTop, t);
        EXPECT_EQ(wnd_->FSelWidth, w);
        EXPECT_EQ(wnd_->FSelHeight, h);
    }

    std::unique_ptr<test::ColourWindow> app_;
    std::unique_ptr<test::ColourWindow> backdrop_;
    std::unique_ptr<test::ColourWindow> target_;
    std::unique_ptr<TFreeHandWindow> wnd_;
    std::unique_ptr<test::StepRunner> run_;
};

TEST_F(FreeHandWindowTest, DragsInAllFourDirectionsGiveTheSameRectangle) {
    const POINT corners[4][2] = {{{100, 150}, {640, 400}},
                                 {{640, 400}, {100, 150}},
                                 {{640, 150}, {100, 400}},
                                 {{100, 400}, {640, 150}}};
    for (const auto& c : corners) {
        Drag(c[0], c[1]);
        Check([this, c] {
            SCOPED_TRACE(testing::Message() << "drag from " << c[0].x << "," << c[0].y);
            EXPECT_FALSE(wnd_->Dragging());
            EXPECT_TRUE(wnd_->Selected());
            ExpectRect(100, 150, 540, 250);
            const auto& s = wnd_->Shapes();
            for (const auto& line : s) {
                EXPECT_TRUE(line.visible);
            }
            EXPECT_EQ(s[0].bounds.left, c[0].x);
            EXPECT_EQ(s[1].bounds.top, c[0].y);
            EXPECT_EQ(s[2].bounds.left, c[1].x);
            EXPECT_EQ(s[3].bounds.top, c[1].y);
        });
    }
    // The first drag again, to read its tooltip and its lines on the screen.
    Drag({100, 150}, {640, 400});
    Check([&] {
        EXPECT_EQ(wnd_->Hint(), HintAt(640, 400, 540, 250));
        HWND tip = wnd_->TooltipHandle();
        EXPECT_TRUE(IsWindowVisible(tip));
        EXPECT_EQ(TooltipControlText(tip, wnd_->Handle()), HintAt(640, 400, 540, 250, L"\r\n"))
            << "the control shows the usual line breaks";
        RECT tr;
        GetWindowRect(tip, &tr);
        EXPECT_GT(tr.left, 640);
        EXPECT_LT(tr.left, 640 + 40);
        EXPECT_GT(tr.top, 400);
        EXPECT_LT(tr.top, 400 + 40);
        EXPECT_GT(tr.bottom - tr.top, 4 * 12) << "five lines";
    });
    auto linesShown = [](const test::ScreenPicture& pic) {
        for (int y = 0; y < 700; y += 7) {
            if (pic.At(100, y) != test::kBlue || pic.At(640, y) != test::kBlue) {
                return false;
            }
        }
        for (int x = 0; x < 630; x += 7) {
            if (pic.At(x, 150) != test::kBlue || pic.At(x, 400) != test::kBlue) {
                return false;
            }
        }
        return pic.At(101, 151) == kGreyPx && pic.At(99, 149) == kGreyPx;
    };
    test::ScreenPicture pic;
    run_->Until("the lines on the screen", [&] {
        pic = test::GrabWholeScreen();
        return linesShown(pic);
    });
    Check([&] { pic.Save("free_hand_marked.png"); });
    // Ctrl + left click accepts without moving anything, here on a line.
    MoveTo(100, 300);
    CtrlLeftPress();
    EXPECT_EQ(RunModal(), kModalOk);
    Released();
    ExpectRect(100, 150, 540, 250);
    EXPECT_EQ(wnd_->Shapes()[0].bounds.left, 100);
    EXPECT_EQ(wnd_->Shapes()[2].bounds.left, 640);
    EXPECT_FALSE(wnd_->Showing());
    EXPECT_FALSE(IsWindowVisible(wnd_->TooltipHandle()));
}

TEST_F(FreeHandWindowTest, BareClickMarksNothingAndCtrlClickThenStartsANewRectangle) {
    MoveTo(300, 200);
    Check([this] {
        EXPECT_EQ(wnd_->Hint(), HintAt(300, 200));
        EXPECT_TRUE(wnd_->Shapes()[0].visible) << "crosshair";
        EXPECT_FALSE(wnd_->Shapes()[2].visible);
    });
    Button(MOUSEEVENTF_LEFTDOWN);
    Check([this] {
        EXPECT_TRUE(wnd_->Dragging());
        EXPECT_TRUE(wnd_->Hint().empty());
        EXPECT_FALSE(IsWindowVisible(wnd_->TooltipHandle()));
    });
    Button(MOUSEEVENTF_LEFTUP);
    Check([this] {
        EXPECT_FALSE(wnd_->Dragging());
        EXPECT_FALSE(wnd_->Selected());
    });
    // The end point is still the origin: the size shown is origin-to-click.
    MoveTo(310, 205);
    Check([this] {
        EXPECT_EQ(wnd_->Hint(), HintAt(310, 205, 300, 200));
        EXPECT_FALSE(wnd_->Selected());
    });
    Ctrl(true);
    Button(MOUSEEVENTF_LEFTDOWN);
    Check([this] {
        EXPECT_EQ(wnd_->ModalResult(), kModalNone);
        EXPECT_TRUE(wnd_->Dragging()) << "a new rectangle starts";
        ExpectRect(0, 0, 0, 0);
    });
    Button(MOUSEEVENTF_LEFTUP);
    Ctrl(false);
    // In the screen's corner the tooltip moves to the cursor's other side.
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    MoveTo(sw - 3, sh - 3);
    Check([&] {
        RECT tr;
        GetWindowRect(wnd_->TooltipHandle(), &tr);
        EXPECT_TRUE(IsWindowVisible(wnd_->TooltipHandle()));
        EXPECT_GE(tr.left, 0);
        EXPECT_LE(tr.right, sw - 3);
        EXPECT_LE(tr.bottom, sh - 3);
    });
    Esc();
    EXPECT_EQ(RunModal(), kModalCancel);
}

// A drag that goes on past the frozen picture (onto a second monitor; here a
// picture smaller than the screen) ends at the picture's edge: the rectangle
// holds nothing the picture did not show.
TEST_F(FreeHandWindowTest, DragPastThePictureEndsAtItsEdge) {
    wnd_.reset();
    TFreeHandWindow::SetPictureSizeForTesting(600, 400);
    wnd_ = TFreeHandWindow::Create(app_->get());
    TFreeHandWindow::SetPictureSizeForTesting(0, 0);
    ASSERT_NE(wnd_, nullptr);
    MoveTo(500, 300);
    Button(MOUSEEVENTF_LEFTDOWN);
    run_->Do([] { ASSERT_TRUE(test::MoveMouse(750, 520)); });
    run_->Until("the move past the picture seen",
                [this] { return wnd_->Hint().rfind(L"X: 600 Y: 400\n", 0) == 0; });
    Button(MOUSEEVENTF_LEFTUP);
    Check([this] {
        EXPECT_TRUE(wnd_->Selected());
        ExpectRect(500, 300, 100, 100);
    });
    Esc();
    EXPECT_EQ(RunModal(), kModalCancel);
}

TEST_F(FreeHandWindowTest, DragEndingInItsStartingColumnOrRowMarksNothing) {
    Drag({200, 200}, {200, 300});
    Check([this] {
        EXPECT_FALSE(wnd_->Selected());
        EXPECT_TRUE(wnd_->Shapes()[2].visible);
    });
    Drag({200, 200}, {320, 200});
    Check([this] { EXPECT_FALSE(wnd_->Selected()); });
    // Out and back: the drag moved, but ended where it began.
    MoveTo(250, 250);
    Button(MOUSEEVENTF_LEFTDOWN);
    MoveTo(300, 320);
    MoveTo(250, 250);
    Button(MOUSEEVENTF_LEFTUP);
    Check([this] { EXPECT_FALSE(wnd_->Selected()); });
    // Nothing marked, so Ctrl + left click starts over instead of accepting.
    MoveTo(260, 260);
    Ctrl(true);
    Button(MOUSEEVENTF_LEFTDOWN);
    Button(MOUSEEVENTF_LEFTUP);
    Ctrl(false);
    Check([this] { EXPECT_EQ(wnd_->ModalResult(), kModalNone); });
    Esc();
    EXPECT_EQ(RunModal(), kModalCancel);
}

TEST_F(FreeHandWindowTest, RightAndMiddlePressesChangeOnlyTheHint) {
    Drag({150, 120}, {400, 330});
    auto unchanged = [this] {
        EXPECT_TRUE(wnd_->Selected());
        EXPECT_FALSE(wnd_->Dragging());
        ExpectRect(150, 120, 250, 210);
        EXPECT_EQ(wnd_->Shapes()[0].bounds.left, 150);
        EXPECT_EQ(wnd_->Shapes()[3].bounds.top, 330);
    };
    Check([this] { EXPECT_FALSE(wnd_->Hint().empty()); });
    for (DWORD down : {DWORD{MOUSEEVENTF_RIGHTDOWN}, DWORD{MOUSEEVENTF_MIDDLEDOWN}}) {
        Button(down);
        Check([this, unchanged] {
            EXPECT_TRUE(wnd_->Hint().empty());
            unchanged();
        });
        Button(down == MOUSEEVENTF_RIGHTDOWN ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_MIDDLEUP);
        Check(unchanged);
    }
    // Ctrl with the right button accepts nothing.
    Ctrl(true);
    Button(MOUSEEVENTF_RIGHTDOWN);
    Button(MOUSEEVENTF_RIGHTUP);
    Ctrl(false);
    Check([this, unchanged] {
        EXPECT_EQ(wnd_->ModalResult(), kModalNone);
        unchanged();
    });
    // A release of another button ends a drag.
    MoveTo(500, 500);
    Button(MOUSEEVENTF_LEFTDOWN);
    MoveTo(560, 580);
    Button(MOUSEEVENTF_RIGHTDOWN);
    Check([this] { EXPECT_TRUE(wnd_->Dragging()); });
    Button(MOUSEEVENTF_RIGHTUP);
    Check([this] {
        EXPECT_FALSE(wnd_->Dragging());
        EXPECT_TRUE(wnd_->Selected());
        ExpectRect(500, 500, 60, 80);
    });
    Button(MOUSEEVENTF_LEFTUP);
    CtrlLeftPress();
    EXPECT_EQ(RunModal(), kModalOk);
    Released();
    ExpectRect(500, 500, 60, 80);
}

// The window shows the screen as it was when it opened, even after what
// lies underneath changes and the window is repainted.
TEST_F(FreeHandWindowTest, ShowsTheScreenAsItWasBeforeItOpened) {
    const test::ScreenPicture before = test::GrabWholeScreen();
    ASSERT_TRUE(before.ok);
    // Up on the screen once its crosshair shows.
    MoveTo(300, 300);
    run_->Until("the window on the screen", [] {
        return GrabScreen({300, 10, 301, 11}).At(300, 10) == test::kBlue;
    });
    Check([this] {
        target_->SetColour(RGB(255, 0, 255));
        RedrawWindow(wnd_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    });
    run_->Wait(300);
    test::ScreenPicture during;
    RECT tip{};
    Check([&] {
        during = test::GrabWholeScreen();
        GetWindowRect(wnd_->TooltipHandle(), &tip);
    });
    Esc();
    EXPECT_EQ(RunModal(), kModalCancel);
    ASSERT_TRUE(during.ok);
    during.Save("free_hand_frozen.png");
    EXPECT_EQ(during.At(800, 500), kGreenPx);
    // Pixel for pixel the same picture, apart from the crosshair and the
    // tooltip beside the cursor.
    long differing = 0;
    for (int y = 0; y < 700; ++y) {
        for (int x = 0; x < 1000; ++x) {
            const POINT p{x, y};
            if (x != 300 && y != 300 && !PtInRect(&tip, p) && during.At(x, y) != before.At(x, y)) {
                ++differing;
            }
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(test::GrabUntil({800, 500, 801, 501},
                              [](const auto& p) { return p.At(800, 500) == kMagentaPx; })
                  .At(800, 500),
              kMagentaPx)
        << "closed, the live screen shows again";
}

// Bitmaps, device contexts and the tooltip of many windows all go back.
TEST(FreeHandWindowResources, GdiObjectsReturnAfterManyOpenCloseCycles) {
    auto cycle = [](int i) {
        auto wnd = TFreeHandWindow::Create(nullptr);
        ASSERT_NE(wnd, nullptr);
        TFreeHandWindow* w = wnd.get();
        test::StepRunner run([w] { static_cast<void>(w->SetModalResult(kModalCancel)); });
        // Every fourth time a move draws the crosshair and shows the
        // tooltip first; then Esc.
        if (i % 4 == 0) {
            run.Do([i] { ASSERT_TRUE(test::MoveMouse(300 + i % 7, 300 + i % 5)); });
            run.Until("hint", [w] { return !w->Hint().empty(); });
        }
        run.Do([w] { ASSERT_TRUE(w->SetModalResult(kModalCancel)); });
        run.Start();
        EXPECT_EQ(w->ShowModal(), kModalCancel);
    };
    test::ExpectGdiObjectsReturn(cycle);
}

}  // namespace
}  // namespace kelvora
