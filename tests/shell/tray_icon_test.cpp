// The tray icon on Wine's notification area. Wine shows the icons of a
// display without a tray manager in a window of its own ("Wine System Tray",
// class __winex11_standalone_tray), one child window per icon: the tests read
// the icon's presence there and click it with SendInput. What the shell's
// window cannot produce on demand (a middle double-click, a held button, a
// stray icon id) is sent to the hidden window as the shell's callback message.
#include "shell/tray_icon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "shell/menu_images.h"
#include "shell/popup_menu.h"
#include "tests/support/desktop.h"

namespace kelvora {
namespace {

using Log = std::vector<std::string>;
using test::TrayIconWindows;

HWND WineTray() {
    return FindWindowW(L"__winex11_standalone_tray", nullptr);
}

bool TrayShows(std::size_t icons) {
    return test::PumpUntil([&] { return TrayIconWindows().size() == icons; }, 5000);
}

BOOL CALLBACK CountHandlerWindow(HWND w, LPARAM counter) {
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (lstrcmpW(cls, L"KelvoraTrayIconHandler") == 0) {
        ++*reinterpret_cast<int*>(counter);
    }
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND, LPARAM counter) {
    ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int ThreadWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Windows of the shared hidden window's class in this thread.
int HandlerWindows() {
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), &CountHandlerWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

void BroadcastTaskbarCreated() {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, TMyTrayIcon::TaskbarCreatedMsg(), 0, 0, SMTO_ABORTIFHUNG,
                        2000, &result);
}

std::string Name(TMouseButton b) {
    return b == TMouseButton::mbLeft ? "L" : b == TMouseButton::mbRight ? "R" : "M";
}

class TrayIconTest : public ::testing::Test {
  protected:
    void SetUp() override {
        owner_ = std::make_unique<test::ColourWindow>(RECT{600, 600, 700, 650}, RGB(0, 0, 0));
        ShowWindow(owner_->get(), SW_HIDE);
        icon_ = static_cast<HICON>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KELVORA), IMAGE_ICON, 16, 16, 0));
        ASSERT_NE(icon_, nullptr);
        ASSERT_TRUE(test::MoveMouse(900, 700));
    }
    void TearDown() override {
        tray_.reset();
        DestroyIcon(icon_);
        owner_.reset();
    }

    // A tray icon with every event written to log_.
    void MakeTray(bool enabled = true) {
        tray_ = std::make_unique<TMyTrayIcon>(owner_->get());
        tray_->Enabled = enabled;
        tray_->SetIcon(icon_);
        tray_->SetHint(L"Kelvora");
        tray_->OnClick = [this](TMyTrayIcon*) { log_.push_back("click"); };
        tray_->OnDblClick = [this](TMyTrayIcon*) { log_.push_back("dblclick"); };
        tray_->OnMouseDown = [this](TMyTrayIcon*, TMouseButton b, TShiftState, int, int) {
            log_.push_back("down " + Name(b));
        };
        tray_->OnMouseUp = [this](TMyTrayIcon*, TMouseButton b, TShiftState, int, int) {
            log_.push_back("up " + Name(b));
        };
        tray_->OnMouseEnter = [this](TMyTrayIcon*) { log_.push_back("enter"); };
        tray_->OnMouseExit = [this](TMyTrayIcon*) { log_.push_back("exit"); };
    }

    // The shell's callback for this icon, as the shell sends it.
    void Notify(UINT mouseMessage, TMyTrayIcon* tray = nullptr) {
        tray = tray != nullptr ? tray : tray_.get();
        SendMessageW(TMyTrayIcon::HandlerWindow(), kTrayCallbackMessage, tray->IconData().uID,
                     mouseMessage);
    }

    bool LogHas(const std::string& entry) {
        return std::find(log_.begin(), log_.end(), entry) != log_.end();
    }

    std::unique_ptr<test::ColourWindow> owner_;
    HICON icon_ = nullptr;
    std::unique_ptr<TMyTrayIcon> tray_;
    Log log_;
};

TEST_F(TrayIconTest, IconInWinesTrayTakesRealClicksAndOpensTheMenuAtTheCursor) {
    MakeTray();
    tray_->SetIconVisible(true);
    ASSERT_TRUE(TrayShows(1));
    HWND iconWnd = TrayIconWindows().front();
    RECT r{};
    GetWindowRect(iconWnd, &r);
    const POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};

    // The icon as the tray draws it: 16x16 in the middle of its cell, with
    // the picture's blue screen in it.
    const RECT cell16{at.x - 8, at.y - 8, at.x + 8, at.y + 8};
    const test::ScreenPicture shot = test::GrabUntil(cell16, [](const test::ScreenPicture& p) {
        int blue = 0;
        for (std::uint32_t px : p.px) {
            blue += ((px & 0xFF) > 0xA0 && ((px >> 16) & 0xFF) < 0x80) ? 1 : 0;
        }
        return blue >= 20;
    });
    EXPECT_TRUE(shot.ok);
    shot.Save("tray_icon_16.png");
    RECT trayRect{};
    GetWindowRect(WineTray(), &trayRect);
    test::GrabScreen(trayRect).Save("wine_tray.png");

    // One left click with a double-click handler bound: Click comes after
    // the release, once the double-click time has passed.
    ASSERT_TRUE(test::MoveMouse(at.x, at.y));
    test::MouseButton(MOUSEEVENTF_LEFTDOWN);
    test::MouseButton(MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(test::PumpUntil([&] { return LogHas("click"); }, 5000));
    EXPECT_EQ(log_, (Log{"down L", "up L", "click"}));

    // A double click: DblClick and no Click, however long one waits.
    log_.clear();
    test::MouseButton(MOUSEEVENTF_LEFTDOWN);
    test::MouseButton(MOUSEEVENTF_LEFTUP);
    test::MouseButton(MOUSEEVENTF_LEFTDOWN);
    test::MouseButton(MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(test::PumpUntil([&] { return log_.size() >= 4; }, 5000));
    test::PumpFor(GetDoubleClickTime() * 2);
    EXPECT_EQ(log_, (Log{"down L", "up L", "dblclick", "up L"}));

    // A right press: MouseDown, then the menu at the cursor; a click on an
    // item closes it and runs the item's handler.
    TMenuImages images;
    ASSERT_TRUE(images.LoadStrip(GetModuleHandleW(nullptr), IDB_MENU_IMAGES, MENU_IMAGE_SIZE));
    TPopupMenu menu;
    menu.Images = &images;
    std::vector<std::string> chosen;
    menu.Add({L"Записать", L"Shift+R", 2, true, [&] { chosen.push_back("r"); }, false, {}});
    menu.Add({L"Остановить", L"Shift+S", 3, false, [&] { chosen.push_back("s"); }, false, {}});
    menu.Add({L"Настройки", L"", 4, true, [&] { chosen.push_back("N19"); }, false, {}});
    menu.Add({L"О программе", L"", 1, true, [&] { chosen.push_back("N23"); }, false, {}});
    menu.Add({L"Выйти", L"", -1, true, [&] { chosen.push_back("N24"); }, false, {}});
    tray_->PopupMenu = &menu;
    log_.clear();

    HWND popup = nullptr;
    RECT popupRect{};
    int shownItems = 0;
    std::wstring firstItem;
    test::StepRunner run([] { keybd_event(VK_ESCAPE, 0, 0, 0); });
    run.Do([&] { test::MouseButton(MOUSEEVENTF_RIGHTDOWN); });
    run.Until("menu shown", [&] {
        popup = FindWindowW(L"#32768", nullptr);
        return popup != nullptr && IsWindowVisible(popup);
    });
    run.Wait(300);
    run.Do([&] {
        GetWindowRect(popup, &popupRect);
        test::GrabScreen(popupRect).Save("tray_menu.png");
        HMENU shown = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        shownItems = GetMenuItemCount(shown);
        wchar_t text[64] = {};
        GetMenuStringW(shown, 0, text, 64, MF_BYPOSITION);
        firstItem = text;
        // Away from the menu before the release, so that it chooses nothing.
        test::MoveMouse(900, 700);
        test::MouseButton(MOUSEEVENTF_RIGHTUP);
    });
    run.Do([&] {
        // The third visible item ("О программе"), a quarter up from the bottom.
        const int itemH = (popupRect.bottom - popupRect.top) / 4;
        test::MoveMouse((popupRect.left + popupRect.right) / 2, popupRect.top + itemH * 5 / 2);
        test::MouseButton(MOUSEEVENTF_LEFTDOWN);
        test::MouseButton(MOUSEEVENTF_LEFTUP);
    });
    run.Until("item chosen", [&] { return !chosen.empty(); });
    run.Start();
    ASSERT_TRUE(test::PumpUntil([&] { return run.Finished() || run.Aborted(); }, 30000));
    EXPECT_FALSE(run.Aborted());
    EXPECT_EQ(popupRect.left, at.x);
    EXPECT_EQ(popupRect.top, at.y);
    EXPECT_EQ(chosen, (std::vector<std::string>{"N23"}));
    EXPECT_EQ(menu.PopupComponent, tray_.get());
    ASSERT_FALSE(log_.empty());
    EXPECT_EQ(log_.front(), "down R");
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "click"), 0);

    // The hidden item is left out; the shortcut follows a tab.
    EXPECT_EQ(shownItems, 4);
    EXPECT_EQ(firstItem, L"Записать\tShift+R");
    tray_.reset();
    EXPECT_TRUE(TrayShows(0));
}

TEST_F(TrayIconTest, HintIsCutEnabledGatesAndTaskbarCreatedBringsTheIconBack) {
    MakeTray(/*enabled=*/false);
    const std::wstring hint = [] {
        std::wstring s;
        for (int i = 0; i < 200; ++i) {
            s += static_cast<wchar_t>(L'А' + i % 32);
        }
        return s;
    }();

    // Disabled: visible by its property, absent from the tray, deaf to the
    // mouse and to the taskbar's re-creation.
    tray_->SetIconVisible(true);
    EXPECT_TRUE(tray_->IconVisible());
    BroadcastTaskbarCreated();
    test::PumpFor(300);
    EXPECT_TRUE(TrayIconWindows().empty());
    Notify(WM_LBUTTONDOWN);
    Notify(WM_LBUTTONUP);
    Notify(WM_MBUTTONDBLCLK);
    EXPECT_TRUE(log_.empty());

    // Enabling alone adds nothing; the next add carries the cut hint.
    tray_->Enabled = true;
    test::PumpFor(200);
    EXPECT_TRUE(TrayIconWindows().empty());
    tray_->SetHint(hint);
    tray_->SetIconVisible(true);
    ASSERT_TRUE(TrayShows(1));
    EXPECT_EQ(std::wstring(tray_->IconData().szTip), hint.substr(0, 127));

    // The taskbar loses the icon; its "TaskbarCreated" broadcast brings it back.
    NOTIFYICONDATAW gone = tray_->IconData();
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    ASSERT_TRUE(TrayShows(0));
    BroadcastTaskbarCreated();
    EXPECT_TRUE(TrayShows(1));
    EXPECT_EQ(std::wstring(tray_->IconData().szTip), hint.substr(0, 127));
    EXPECT_EQ(tray_->IconData().hIcon, tray_->Icon());

    // Not visible: the broadcast adds nothing.
    tray_->SetIconVisible(false);
    ASSERT_TRUE(TrayShows(0));
    BroadcastTaskbarCreated();
    test::PumpFor(300);
    EXPECT_TRUE(TrayIconWindows().empty());
}

// The shell refuses the first adds, as it does at logon before the taskbar
// is up (Wine's tray, started once, is always there).
class LateShellTray : public TMyTrayIcon {
  public:
    using TMyTrayIcon::TMyTrayIcon;
    int refuseAdds = 0;
    int adds = 0;
    bool NotifyIcon(int operation) override {
        if (operation == niAdd && Enabled) {
            ++adds;
            if (refuseAdds > 0) {
                --refuseAdds;
                return false;
            }
        }
        return TMyTrayIcon::NotifyIcon(operation);
    }
};

TEST_F(TrayIconTest, RefusedAddsAreRetriedUntilTheIconIsThere) {
    LateShellTray tray(owner_->get());
    tray.Enabled = true;
    tray.SetIcon(icon_);
    tray.SetHint(L"Kelvora");
    tray.refuseAdds = 2;
    tray.SetIconVisible(true);
    EXPECT_TRUE(TrayIconWindows().empty());
    EXPECT_TRUE(test::PumpUntil([] { return TrayIconWindows().size() == 1; }, 20000));
    EXPECT_EQ(tray.adds, 3);
    RECT trayRect{};
    GetWindowRect(WineTray(), &trayRect);
    // Saved once the icon's blue screen shows.
    const auto drawn = [](const test::ScreenPicture& p) {
        return std::count_if(p.px.begin(), p.px.end(), [](std::uint32_t px) {
                   return (px & 0xFF) > 0xA0 && ((px >> 16) & 0xFF) < 0x80;
               }) >= 20;
    };
    test::GrabUntil(trayRect, drawn).Save("wine_tray_after_retried_add.png");

    // The taskbar loses it again and refuses the add its broadcast brings.
    NOTIFYICONDATAW gone = tray.IconData();
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    ASSERT_TRUE(TrayShows(0));
    tray.refuseAdds = 1;
    BroadcastTaskbarCreated();
    EXPECT_TRUE(test::PumpUntil([] { return TrayIconWindows().size() == 1; }, 20000));

    // No longer wanted: nothing more is tried.
    tray.refuseAdds = 1;
    tray.SetIconVisible(false);
    tray.SetIconVisible(true);
    tray.SetIconVisible(false);
    const int adds = tray.adds;
    test::PumpFor(2500);
    EXPECT_EQ(tray.adds, adds);
    EXPECT_TRUE(TrayShows(0));
}

TEST_F(TrayIconTest, CallbackMessagesFollowTheClickRules) {
    MakeTray();
    // No double-click handler: Click at the release, before MouseUp.
    tray_->OnDblClick = nullptr;
    Notify(WM_LBUTTONDOWN);
    Notify(WM_LBUTTONUP);
    EXPECT_EQ(log_, (Log{"down L", "click", "up L"}));

    // Middle double-click: Click at once; right double-click: nothing; right
    // release: MouseUp and no Click; a stray id or mouse message: nothing.
    log_.clear();
    Notify(WM_MBUTTONDBLCLK);
    Notify(WM_RBUTTONDBLCLK);
    Notify(WM_RBUTTONUP);
    SendMessageW(TMyTrayIcon::HandlerWindow(), kTrayCallbackMessage, 12345, WM_LBUTTONDOWN);
    Notify(WM_KEYDOWN);
    EXPECT_EQ(log_, (Log{"click", "up R"}));

    // A double-click handler and the button held past the double-click
    // time: Click at the release.
    log_.clear();
    tray_->OnDblClick = [this](TMyTrayIcon*) { log_.push_back("dblclick"); };
    Notify(WM_LBUTTONDOWN);
    test::PumpFor(GetDoubleClickTime() * 2);
    Notify(WM_LBUTTONUP);
    EXPECT_EQ(log_, (Log{"down L", "click", "up L"}));

    // WantDoubleClicks off: the second click of a double fires only MouseUp.
    log_.clear();
    tray_->WantDoubleClicks = false;
    Notify(WM_LBUTTONDOWN);
    Notify(WM_LBUTTONUP);
    Notify(WM_LBUTTONDBLCLK);
    Notify(WM_LBUTTONUP);
    EXPECT_EQ(log_, (Log{"down L", "click", "up L", "up L"}));

    // Enter on the first move, exit when the cursor has moved without one.
    log_.clear();
    tray_->SetWantEnterExitEvents(true);
    ASSERT_TRUE(test::MoveMouse(500, 500));
    Notify(WM_MOUSEMOVE);
    Notify(WM_MOUSEMOVE);
    EXPECT_EQ(log_, (Log{"enter"}));
    ASSERT_TRUE(test::MoveMouse(520, 520));
    EXPECT_TRUE(test::PumpUntil([&] { return LogHas("exit"); }, 3000));
    Notify(WM_MOUSEMOVE);
    EXPECT_EQ(log_, (Log{"enter", "exit", "enter"}));

    // The hidden window cannot be closed from outside.
    SendMessageW(TMyTrayIcon::HandlerWindow(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(TMyTrayIcon::HandlerWindow()));
}

TEST_F(TrayIconTest, SharedWindowGoesWithTheLastIconAndNothingLeaks) {
    EXPECT_EQ(HandlerWindows(), 0);
    auto a = std::make_unique<TMyTrayIcon>(owner_->get());
    auto b = std::make_unique<TMyTrayIcon>(owner_->get());
    EXPECT_EQ(HandlerWindows(), 1);
    EXPECT_EQ(a->IconData().hWnd, b->IconData().hWnd);
    EXPECT_NE(a->IconData().uID, b->IconData().uID);
    a.reset();
    EXPECT_EQ(HandlerWindows(), 1);
    b.reset();
    EXPECT_EQ(HandlerWindows(), 0);
    EXPECT_EQ(TMyTrayIcon::HandlerWindow(), nullptr);

    // One icon stays in the tray throughout: Wine hides its tray window when
    // the last icon goes, which takes seconds without a window manager.
    MakeTray();
    tray_->SetIconVisible(true);
    ASSERT_TRUE(TrayShows(1));
    // USER objects: this thread's windows, and the icon's own copy (Wine
    // counts no USER objects for GetGuiResources).
    const int windowsBefore = ThreadWindows();
    HICON lastCopy = nullptr;
    test::ExpectGdiObjectsReturn([&](int) {
        TMyTrayIcon tray(owner_->get());
        tray.Enabled = true;
        tray.SetIcon(icon_);
        lastCopy = tray.Icon();
        tray.SetHint(L"Kelvora");
        tray.SetIconVisible(true);
        tray.SetWantEnterExitEvents(true);
    });
    EXPECT_EQ(ThreadWindows(), windowsBefore);
    ICONINFO info{};
    EXPECT_NE(lastCopy, nullptr);
    EXPECT_FALSE(GetIconInfo(lastCopy, &info));
    EXPECT_TRUE(TrayShows(1));
    EXPECT_EQ(HandlerWindows(), 1);
    tray_.reset();
    EXPECT_EQ(HandlerWindows(), 0);
    EXPECT_TRUE(TrayShows(0));
}

TEST(TrayPictures, IconHasItsNinePicturesAndTheMenuItsFiveImages) {
    HMODULE self = GetModuleHandleW(nullptr);
    for (int id : {IDI_KELVORA, IDI_KELVORA_RECORDING}) {
        HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14));
        ASSERT_NE(res, nullptr) << id;
        const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(self, res)));
        // GRPICONDIR: reserved, type, count; then 14-byte entries.
        const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
        ASSERT_EQ(count, 9) << id;
        std::vector<std::pair<int, int>> pictures;
        for (int i = 0; i < count; ++i) {
            const BYTE* e = dir + 6 + 14 * i;
            pictures.push_back({e[0], *reinterpret_cast<const WORD*>(e + 6)});
        }
        std::sort(pictures.begin(), pictures.end());
        EXPECT_EQ(pictures, (std::vector<std::pair<int, int>>{{16, 4},
                                                              {16, 8},
                                                              {16, 32},
                                                              {32, 4},
                                                              {32, 8},
                                                              {32, 24},
                                                              {48, 4},
                                                              {48, 8},
                                                              {48, 32}}))
            << id;
    }
    TMenuImages images;
    ASSERT_TRUE(images.LoadStrip(self, IDB_MENU_IMAGES, MENU_IMAGE_SIZE));
    EXPECT_EQ(images.Count(), 5);
    EXPECT_EQ(images.Get(5), nullptr);
    // Premultiplied: a transparent corner is black and clear; the record
    // image's centre is an opaque red.
    BITMAP bm{};
    ASSERT_TRUE(GetObjectW(images.Get(2), sizeof(bm), &bm));
    const auto* px = static_cast<const std::uint8_t*>(bm.bmBits);
    EXPECT_EQ(px[0] | px[1] | px[2] | px[3], 0);
    const std::uint8_t* centre = px + (8 * 16 + 8) * 4;
    EXPECT_EQ(centre[3], 255);
    EXPECT_GT(centre[2], 200);
    EXPECT_LT(centre[1], 100);
}

}  // namespace
}  // namespace kelvora
