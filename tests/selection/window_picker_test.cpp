// The window picker on a real display, driven the way the camera drives it:
// the cursor moved with SendInput, Esc and Ctrl+Enter acting as the camera's
// hot keys do (stop Timer1, set the modal result) from inside the modal loop.
#include "selection/window_picker.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/support/desktop.h"

namespace kelvora {
namespace {

using test::GrabScreen;
using test::kRed;
using test::kWhite;

constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr std::uint32_t kGreyPx = 0x808080;

// What the camera's Ctrl+Enter hot key does to the picker.
void CtrlEnter(TSelObjWindow& picker) {
    ASSERT_TRUE(picker.SetTimer1Enabled(false));
    ASSERT_TRUE(picker.SetModalResult(
        picker.FSelWidth != 0 && picker.FSelHeight != 0 ? kModalOk : kModalCancel));
}

RECT ScreenRect(HWND wnd) {
    RECT rc{};
    GetWindowRect(wnd, &rc);
    return rc;
}

// True when top-level window `a` lies above `b` in the z-order.
bool Above(HWND a, HWND b) {
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == a || w == b) {
            return w == a;
        }
    }
    return false;
}

bool Frames(const TSelObjWindow& picker, const RECT& rc) {
    return picker.FSelLeft == rc.left && picker.FSelTop == rc.top &&
           picker.FSelWidth == rc.right - rc.left && picker.FSelHeight == rc.bottom - rc.top;
}

// A grey dialog-like window with a wide and a narrow push button.
class ButtonDialog {
  public:
    ButtonDialog() : frame_({200, 150, 700, 450}, kGrey) {
        wide_ = CreateWindowExW(0, L"BUTTON", L"Wide", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 40,
                                60, 260, 30, frame_.get(), nullptr, nullptr, nullptr);
        narrow_ = CreateWindowExW(0, L"BUTTON", L"N", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 40,
                                  200, 60, 24, frame_.get(), nullptr, nullptr, nullptr);
        UpdateWindow(frame_.get());
    }
    HWND frame() const { return frame_.get(); }
    HWND wide() const { return wide_; }
    HWND narrow() const { return narrow_; }

  private:
    test::ColourWindow frame_;
    HWND wide_;
    HWND narrow_;
};

class SelObjWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_ = std::make_unique<test::ColourWindow>(RECT{0, 0, 1, 1}, kGrey);
        ShowWindow(app_->get(), SW_HIDE);
        dialog_ = std::make_unique<ButtonDialog>();
        test::PumpFor(50);
        picker_ = TSelObjWindow::Create(app_->get());
        ASSERT_NE(picker_, nullptr);
    }

    void AimAt(HWND wnd) {
        const RECT rc = ScreenRect(wnd);
        ASSERT_TRUE(test::MoveMouse((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2));
    }

    // Runs ShowModal while `runner` works; a failed step cancels the picker.
    int RunModal(test::StepRunner& runner) {
        runner.Start();
        const int result = picker_->ShowModal();
        EXPECT_TRUE(runner.Finished()) << "the picker closed before the script ended";
        return result;
    }

    std::unique_ptr<test::ColourWindow> app_;
    std::unique_ptr<ButtonDialog> dialog_;
    std::unique_ptr<TSelObjWindow> picker_;
};

// The frame around `rc` as the screen shows it: left column two pixels
// before it, right column and bottom row just after it, nothing red over it.
bool FrameAround(const test::ScreenPicture& pic, const RECT& rc) {
    const int l = rc.left - 2, t = rc.top - 2, r = rc.right, b = rc.bottom;
    for (int y = t; y <= b; ++y) {
        if (pic.At(l, y) != kRed || pic.At(r, y) != kRed) {
            return false;
        }
    }
    for (int x = l; x <= r; ++x) {
        if (pic.At(x, b) != kRed) {
            return false;
        }
    }
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x) {
            if (pic.At(x, y) == kRed) {
                return false;
            }
        }
    }
    return true;
}

// The label over the frame around `rc`, th rows high: the last column of its
// white-on-red strip (left column - 1 when there is none) and how many white
// pixels it holds. Any other colour in the strip ends it.
struct Label {
    int right = 0;
    int white = 0;
};
Label ReadLabel(const test::ScreenPicture& pic, const RECT& rc, int th) {
    Label label{rc.left - 3, 0};
    for (int x = rc.left - 2; x < pic.area.right; ++x) {
        int white = 0;
        for (int y = rc.top - 2 - th; y < rc.top - 2; ++y) {
            const auto p = pic.At(x, y);
            if (p != kRed && p != kWhite) {
                return label;
            }
            white += p == kWhite ? 1 : 0;
        }
        label.right = x;
        label.white += white;
    }
    return label;
}

// Label height: the picker's top lies th + 2 rows above the framed window.
int LabelHeight(const TSelObjWindow& picker) {
    return picker.FSelTop - 2 - ScreenRect(picker.Handle()).top;
}

TEST_F(SelObjWindowTest, FramesTheButtonUnderTheCursorAndAcceptsIt) {
    const RECT button = ScreenRect(dialog_->wide());
    AimAt(dialog_->wide());
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    test::ScreenPicture pic;
    run.Until("the button is framed", [&] { return Frames(*picker_, button); });
    run.Until("frame and label on the screen", [&] {
        pic = GrabScreen({150, 100, 600, 300});
        return FrameAround(pic, button) && ReadLabel(pic, button, LabelHeight(*picker_)).white > 0;
    });
    run.Do([&] {
        EXPECT_TRUE(picker_->Showing());
        EXPECT_FALSE(IsWindowEnabled(app_->get())) << "the owner is disabled while modal";
        EXPECT_NE(GetForegroundWindow(), picker_->Handle());
        EXPECT_TRUE(GetWindowLongW(picker_->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
        pic.Save("picker_button.png");
    });
    run.Do([&] { CtrlEnter(*picker_); });
    EXPECT_EQ(RunModal(run), kModalOk);
    EXPECT_TRUE(Frames(*picker_, button));
    EXPECT_FALSE(picker_->Showing());
    EXPECT_TRUE(IsWindowEnabled(app_->get()));
    // The whole label, flush with the left column and narrower than this
    // button, then the dialog's grey.
    const int th = LabelHeight(*picker_);
    ASSERT_GT(th, 5);
    const Label label = ReadLabel(pic, button, th);
    EXPECT_GT(label.white, 10);
    EXPECT_GT(label.right - button.left, 100) << "the label is the whole text";
    EXPECT_LT(label.right, button.right - 20);
    EXPECT_EQ(pic.At(label.right + 1, button.top - 2 - th / 2), kGreyPx);
    EXPECT_EQ(pic.At(button.left - 3, button.top - 2 - th / 2), kGreyPx);
}

TEST_F(SelObjWindowTest, LabelWiderThanTheButtonIsCutAtTheRightColumn) {
    const RECT button = ScreenRect(dialog_->narrow());
    AimAt(dialog_->narrow());
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    test::ScreenPicture pic;
    run.Until("the narrow button is framed", [&] { return Frames(*picker_, button); });
    run.Until("frame and label on the screen", [&] {
        pic = GrabScreen({150, 300, 450, 450});
        return FrameAround(pic, button) && ReadLabel(pic, button, LabelHeight(*picker_)).white > 0;
    });
    run.Do([&] { ASSERT_TRUE(picker_->SetModalResult(kModalCancel)); });
    EXPECT_EQ(RunModal(run), kModalCancel);
    pic.Save("picker_label_cut.png");
    const Label label = ReadLabel(pic, button, LabelHeight(*picker_));
    EXPECT_GT(label.white, 10);
    EXPECT_EQ(label.right, button.right) << "cut at the frame's right column";
    EXPECT_EQ(pic.At(button.right + 1, button.top - 5), kGreyPx);
}

TEST_F(SelObjWindowTest, FollowsTheCursorUntilTimer1Stops) {
    const RECT wide = ScreenRect(dialog_->wide());
    const RECT narrow = ScreenRect(dialog_->narrow());
    const RECT dialog = ScreenRect(dialog_->frame());
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    run.Do([&] { AimAt(dialog_->wide()); });
    run.Until("wide button framed", [&] { return Frames(*picker_, wide); });
    // The dialog's own surface, away from both buttons.
    run.Do([&] { ASSERT_TRUE(test::MoveMouse(dialog.left + 400, dialog.top + 250)); });
    run.Until(
        "dialog framed", [&] { return Frames(*picker_, dialog); }, 500);
    run.Do([&] { ASSERT_TRUE(picker_->SetTimer1Enabled(false)); });
    run.Do([&] { AimAt(dialog_->narrow()); });
    run.Wait(250);
    run.Do([&] {
        EXPECT_FALSE(picker_->Timer1Enabled());
        EXPECT_TRUE(Frames(*picker_, dialog)) << "no tick while Timer1 is off";
        ASSERT_TRUE(picker_->SetTimer1Enabled(true));
    });
    run.Until(
        "narrow button framed", [&] { return Frames(*picker_, narrow); }, 500);
    run.Do([&] { CtrlEnter(*picker_); });
    EXPECT_EQ(RunModal(run), kModalOk);
    EXPECT_TRUE(Frames(*picker_, narrow));
}

// With the cursor on the picker's own label, the last window stays framed:
// the picker never frames (and so grows around) itself.
TEST_F(SelObjWindowTest, CursorOnItsOwnLabelKeepsTheLastWindow) {
    const RECT wide = ScreenRect(dialog_->wide());
    AimAt(dialog_->wide());
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    RECT shaped{};
    run.Until("wide button framed", [&] { return Frames(*picker_, wide); });
    run.Wait(100);
    run.Do([&] {
        shaped = ScreenRect(picker_->Handle());
        ASSERT_TRUE(test::MoveMouse(shaped.left + 3, shaped.top + 3));
    });
    run.Wait(300);
    run.Do([&] {
        EXPECT_EQ(WindowFromPoint({shaped.left + 3, shaped.top + 3}), picker_->Handle());
        EXPECT_TRUE(Frames(*picker_, wide));
        const RECT now = ScreenRect(picker_->Handle());
        EXPECT_TRUE(EqualRect(&now, &shaped));
    });
    run.Do([&] { ASSERT_TRUE(picker_->SetModalResult(kModalCancel)); });
    EXPECT_EQ(RunModal(run), kModalCancel);
}

// The picker goes back on top at every tick, over a topmost window that
// came up after it.
TEST_F(SelObjWindowTest, StaysAboveWindowsBroughtForward) {
    const RECT wide = ScreenRect(dialog_->wide());
    AimAt(dialog_->wide());
    std::unique_ptr<test::ColourWindow> cover;
    test::ScreenPicture pic;
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    run.Until("wide button framed", [&] { return Frames(*picker_, wide); });
    run.Do([&] {
        // Covers the frame's bottom-left corner but not the cursor.
        cover = std::make_unique<test::ColourWindow>(
            RECT{wide.left - 20, wide.bottom - 10, wide.left + 40, wide.bottom + 20},
            RGB(0, 200, 0), true);
        EXPECT_TRUE(Above(cover->get(), picker_->Handle()));
    });
    // Back on top within a few ticks.
    const RECT probe{wide.left - 20, wide.bottom - 10, wide.left + 40, wide.bottom + 20};
    run.Until("the frame is over the cover", [&] {
        pic = GrabScreen(probe);
        return pic.At(wide.left - 2, wide.bottom - 5) == kRed &&
               pic.At(wide.left + 10, wide.bottom) == kRed &&
               pic.At(wide.left + 10, wide.bottom + 10) == 0x00C800u;
    });
    run.Do([&] { ASSERT_TRUE(picker_->SetModalResult(kModalCancel)); });
    EXPECT_EQ(RunModal(run), kModalCancel);
    EXPECT_TRUE(Above(picker_->Handle(), cover->get()));
}

// Over the desktop the frame lies beyond the screen's edges; Ctrl+Enter
// still accepts the desktop's rectangle.
TEST_F(SelObjWindowTest, WholeScreenWindowIsAcceptedWithoutAVisibleFrame) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_TRUE(test::MoveMouse(sw - 100, sh - 100));
    test::ScreenPicture pic;
    test::StepRunner run([this] { static_cast<void>(picker_->SetModalResult(kModalCancel)); });
    run.Until("the screen is framed", [&] { return Frames(*picker_, {0, 0, sw, sh}); });
    run.Wait(100);
    run.Do([&] {
        pic = test::GrabWholeScreen();
        const RECT rc = ScreenRect(picker_->Handle());
        EXPECT_EQ(rc.left, -2);
        EXPECT_EQ(rc.right - 1, sw);
        EXPECT_EQ(rc.bottom - 1, sh);
    });
    run.Do([&] { CtrlEnter(*picker_); });
    EXPECT_EQ(RunModal(run), kModalOk);
    ASSERT_TRUE(pic.ok);
    for (int x = 0; x < sw; ++x) {
        ASSERT_NE(pic.At(x, 0), kRed) << x;
        ASSERT_NE(pic.At(x, sh - 1), kRed) << x;
    }
    for (int y = 0; y < sh; ++y) {
        ASSERT_NE(pic.At(0, y), kRed) << y;
        ASSERT_NE(pic.At(sw - 1, y), kRed) << y;
    }
}

TEST_F(SelObjWindowTest, ModalResultRulesAndQuit) {
    EXPECT_FALSE(picker_->SetModalResult(3));
    EXPECT_FALSE(picker_->SetModalResult(-1));
    EXPECT_EQ(picker_->ModalResult(), kModalNone);
    // A WM_QUIT inside the loop cancels and is passed on to the outer loop.
    test::StepRunner run;
    run.Do([] { PostQuitMessage(7); });
    run.Start();
    EXPECT_EQ(picker_->ShowModal(), kModalCancel);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(picker_->Showing());
    EXPECT_TRUE(IsWindowEnabled(app_->get()));
}

// Regions, fonts, device contexts and timers of many pickers all go back.
TEST(SelObjWindowResources, GdiObjectsReturnAfterManyOpenCloseCycles) {
    ButtonDialog dialog;
    RECT wide;
    GetWindowRect(dialog.wide(), &wide);
    ASSERT_TRUE(test::MoveMouse((wide.left + wide.right) / 2, (wide.top + wide.bottom) / 2));
    auto cycle = [&](int i) {
        auto picker = TSelObjWindow::Create(nullptr);
        ASSERT_NE(picker, nullptr);
        TSelObjWindow* p = picker.get();
        test::StepRunner run([p] { static_cast<void>(p->SetModalResult(kModalCancel)); });
        run.Until("a tick framed the button", [&] { return Frames(*p, wide); });
        run.Do([&] {
            if (i % 2 == 0) {
                CtrlEnter(*p);
            } else {
                ASSERT_TRUE(p->SetModalResult(kModalCancel));
            }
        });
        run.Start();
        EXPECT_EQ(p->ShowModal(), i % 2 == 0 ? kModalOk : kModalCancel);
    };
    test::ExpectGdiObjectsReturn(cycle);
}

}  // namespace
}  // namespace kelvora
