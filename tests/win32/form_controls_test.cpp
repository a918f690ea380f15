// The window layer as a whole: a captioned form builds its controls from a
// table, at the system DPI and with the dialog font, and real clicks
// (SendInput) on a button and a track bar reach the handlers named for them.
#include "win32/form_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/desktop.h"

namespace kelvora {
namespace {

enum : int { kSave = 11, kAutorun = 12, kQuality = 13, kUnrouted = 14 };

class TableForm : public FormWindow {
  public:
    TableForm() {
        if (!CreateCaptionForm(L"KelvoraTableFormTest", L"Таблица", WS_CAPTION | WS_SYSMENU, 0,
                               nullptr, SIZE{260, 120})) {
            return;
        }
        created = CreateControls(Table());
        OnClick(kSave, [this] { ++Button2Clicks; });
        OnScroll(kQuality, [this](WORD) {
            QualityPos = static_cast<int>(SendMessageW(Control(kQuality), TBM_GETPOS, 0, 0));
        });
    }
    ~TableForm() override { DestroyForm(); }

    static std::vector<ControlSpec> Table() {
        return {
            {kAutorun,
             WC_BUTTONW,
             L"Поместить в автозагрузку",
             {8, 8, 180, 17},
             WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX},
            {kQuality,
             TRACKBAR_CLASSW,
             L"",
             {8, 32, 244, 30},
             WS_VISIBLE | WS_TABSTOP | TBS_HORZ | TBS_NOTICKS},
            {kUnrouted, WC_BUTTONW, L"Пусто", {8, 88, 75, 25}, WS_VISIBLE | BS_PUSHBUTTON},
            {kSave,
             WC_BUTTONW,
             L"Сохранить",
             {177, 88, 75, 25},
             WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        };
    }

    bool created = false;
    int Button2Clicks = 0;
    int QualityPos = -1;
};

POINT CentreOnScreen(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void ClickAt(POINT p) {
    ASSERT_TRUE(test::MoveMouse(p.x, p.y));
    ASSERT_TRUE(test::MouseButton(MOUSEEVENTF_LEFTDOWN));
    ASSERT_TRUE(test::MouseButton(MOUSEEVENTF_LEFTUP));
}

TEST(FormControls, TableBuildsScaledControlsAndClicksReachTheirHandlers) {
    TableForm form;
    ASSERT_NE(form.Handle(), nullptr);
    ASSERT_TRUE(form.created);
    SendMessageW(form.Control(kQuality), TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));

    // Layout: every control where the table puts it at the system DPI, in
    // the form's client coordinates, with the shared font.
    const int dpi = SystemDpi();
    for (const ControlSpec& entry : TableForm::Table()) {
        HWND control = form.Control(entry.id);
        ASSERT_NE(control, nullptr) << entry.id;
        RECT r{};
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
        const PixelRect want = ScaleRect(entry.bounds, dpi);
        EXPECT_EQ(r.left, want.left) << entry.id;
        EXPECT_EQ(r.top, want.top) << entry.id;
        EXPECT_EQ(r.right, want.right) << entry.id;
        EXPECT_EQ(r.bottom, want.bottom) << entry.id;
        // Track bars draw no text and keep no font.
        if (lstrcmpW(entry.className, WC_BUTTONW) == 0) {
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)),
                      DialogFont())
                << entry.id;
        }
    }
    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, ScaleToDpi(260, dpi));
    EXPECT_EQ(client.bottom, ScaleToDpi(120, dpi));

    ShowWindow(form.Handle(), SW_SHOW);
    UpdateWindow(form.Handle());
    test::PumpFor(200);

    // An unrouted button does nothing; the routed one runs its handler once.
    ClickAt(CentreOnScreen(form.Control(kUnrouted)));
    test::PumpFor(100);
    EXPECT_EQ(form.Button2Clicks, 0);
    ClickAt(CentreOnScreen(form.Control(kSave)));
    EXPECT_TRUE(test::PumpUntil([&] { return form.Button2Clicks == 1; }, 3000));

    // A click on the track bar's channel to the right of the thumb pages it
    // up and reports through WM_HSCROLL.
    RECT track{};
    GetWindowRect(form.Control(kQuality), &track);
    ClickAt({track.right - 10, (track.top + track.bottom) / 2});
    EXPECT_TRUE(test::PumpUntil([&] { return form.QualityPos > 0; }, 3000));

    RECT frame{};
    GetWindowRect(form.Handle(), &frame);
    test::GrabScreen(frame).Save("table_form.png");
    EXPECT_EQ(form.Button2Clicks, 1);
}

TEST(FormControls, ControlsAndTheirWindowGoWithTheForm) {
    test::ExpectGdiObjectsReturn([](int) {
        TableForm form;
        ASSERT_TRUE(form.created);
    });
}

}  // namespace
}  // namespace kelvora
