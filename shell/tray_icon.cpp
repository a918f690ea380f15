#include "shell/tray_icon.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "shell/popup_menu.h"
#include "win32/form_window.h"

namespace kelvora {

namespace {
constexpr UINT kAddRetryMs = 1000;
}  // namespace

// The platform's record up to the balloon fields; the GUID fields that follow
// are never sent.
static_assert(sizeof(void*) != 4 || kTrayIconDataSize == 936);
static_assert(sizeof(NOTIFYICONDATAW{}.szTip) / sizeof(wchar_t) == kMaxTrayTip + 1);

// The hidden window that all icons share, and the live icons it serves.
class TMyTrayIconHandler : public FormWindow {
  public:
    static TMyTrayIconHandler* Acquire(TMyTrayIcon* icon);
    static void ReleaseIcon(TMyTrayIcon* icon);
    static TMyTrayIconHandler* Current() { return Instance().get(); }

    TMyTrayIconHandler() {
        // A top-level window that is never shown: unlike a message-only
        // window it also receives broadcasts.
        static_cast<void>(
            CreateForm(L"KelvoraTrayIconHandler", WS_EX_TOOLWINDOW, nullptr, RECT{0, 0, 0, 0}));
    }
    ~TMyTrayIconHandler() override { DestroyForm(); }

    std::uint32_t FRefCount = 0;

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    static std::unique_ptr<TMyTrayIconHandler>& Instance() {
        // Freed with the process at the latest.
        static std::unique_ptr<TMyTrayIconHandler> handler;
        return handler;
    }
    TMyTrayIcon* Find(std::uint32_t id) const;

    std::vector<TMyTrayIcon*> icons_;
};

TMyTrayIconHandler* TMyTrayIconHandler::Acquire(TMyTrayIcon* icon) {
    if (!Instance()) {
        Instance() = std::make_unique<TMyTrayIconHandler>();
    }
    Instance()->FRefCount += 1;
    Instance()->icons_.push_back(icon);
    return Instance().get();
}

void TMyTrayIconHandler::ReleaseIcon(TMyTrayIcon* icon) {
    TMyTrayIconHandler* handler = Instance().get();
    if (handler == nullptr) {
        return;
    }
    auto& icons = handler->icons_;
    icons.erase(std::remove(icons.begin(), icons.end(), icon), icons.end());
    if (handler->FRefCount > 0) {
        handler->FRefCount -= 1;
    }
    if (handler->FRefCount == 0) {
        Instance().reset();
    }
}

TMyTrayIcon* TMyTrayIconHandler::Find(std::uint32_t id) const {
    for (TMyTrayIcon* icon : icons_) {
        if (icon->FIconId == id) {
            return icon;
        }
    }
    return nullptr;
}

LRESULT TMyTrayIconHandler::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_DESTROY:
        case WM_CLOSE:
        case WM_QUERYENDSESSION:
        case WM_QUIT:
        case WM_ENDSESSION:
        case WM_NCDESTROY:
            // Cannot be closed from outside; never objects to the session
            // ending. (Our own DestroyWindow still destroys it.)
            return 1;
        case kTrayCallbackMessage:
            // wParam is the icon's id; only a live icon of ours is served, so
            // that a stray message cannot reach a freed object. Nothing of
            // this object is touched afterwards: a handler may free it.
            if (TMyTrayIcon* icon = Find(static_cast<std::uint32_t>(wp))) {
                icon->Callback(static_cast<UINT>(lp));
            }
            return 0;
        case WM_TIMER:
            for (TMyTrayIcon* icon : icons_) {
                if (wp == icon->FDblClickTimer.Id() || wp == icon->FEnterExitTimer.Id() ||
                    wp == icon->FAddRetryTimer.Id()) {
                    icon->TimerTick(wp);
                    return 0;
                }
            }
            return 0;
        default:
            return FormWindow::HandleMessage(msg, wp, lp);
    }
}

namespace {

TShiftState ShiftState() {
    TShiftState s = 0;
    auto down = [](int vk) { return (GetKeyState(vk) & 0x8000) != 0; };
    if (down(VK_SHIFT)) {
        s |= ssShift;
    }
    if (down(VK_MENU)) {
        s |= ssAlt;
    }
    if (down(VK_CONTROL)) {
        s |= ssCtrl;
    }
    if (down(VK_LBUTTON)) {
        s |= ssLeft;
    }
    if (down(VK_RBUTTON)) {
        s |= ssRight;
    }
    if (down(VK_MBUTTON)) {
        s |= ssMiddle;
    }
    return s;
}

POINT CursorPos() {
    POINT p{};
    GetCursorPos(&p);
    return p;
}

// Dispatches what is waiting, as the application does between events; a
// WM_QUIT found on the way is posted again for the main loop.
void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace

UINT TMyTrayIcon::TaskbarCreatedMsg() {
    static const UINT msg = RegisterWindowMessageW(L"TaskbarCreated");
    return msg;
}

HWND TMyTrayIcon::HandlerWindow() {
    TMyTrayIconHandler* handler = TMyTrayIconHandler::Current();
    return handler != nullptr ? handler->Handle() : nullptr;
}

TMyTrayIcon::TMyTrayIcon(HWND owner) : FOwner(owner) {
    TMyTrayIconHandler* handler = TMyTrayIconHandler::Acquire(this);
    // The icon's address where it fits the 32-bit id (i686); a count where
    // addresses are wider, since their low halves could collide.
    static std::uint32_t lastId = 0;
    FIconId = sizeof(this) == sizeof(std::uint32_t)
                  ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this))
                  : ++lastId;
    FIconData.cbSize = kTrayIconDataSize;
    FIconData.hWnd = handler->Handle();
    FIconData.uID = FIconId;
    FIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    FIconData.uCallbackMessage = kTrayCallbackMessage;
    FEnterExitTimer.interval = 200;
    FAddRetryTimer.interval = kAddRetryMs;
    TaskbarCreatedMsg();
    if (FOwner != nullptr) {
        // A program run elevated gets no message from the lower shell unless
        // it lets it through: the icon would not come back after a restart
        // of the shell.
        ChangeWindowMessageFilterEx(FOwner, TaskbarCreatedMsg(), MSGFLT_ALLOW, nullptr);
        SetWindowSubclass(FOwner, &TMyTrayIcon::AppHook, reinterpret_cast<UINT_PTR>(this),
                          reinterpret_cast<DWORD_PTR>(this));
    }
}

TMyTrayIcon::~TMyTrayIcon() {
    if (FOwner != nullptr) {
        RemoveWindowSubclass(FOwner, &TMyTrayIcon::AppHook, reinterpret_cast<UINT_PTR>(this));
    }
    SetIconVisible(false);
    StopTimer(FDblClickTimer);
    StopTimer(FEnterExitTimer);
    StopTimer(FAddRetryTimer);
    FIcon.reset();
    TMyTrayIconHandler::ReleaseIcon(this);
}

void TMyTrayIcon::SetHint(const std::wstring& hint) {
    FHint = hint;
    NotifyIcon(niModify);
}

void TMyTrayIcon::SetIcon(HICON icon) {
    FIcon.reset(icon != nullptr ? CopyIcon(icon) : nullptr);
    NotifyIcon(niModify);
}

void TMyTrayIcon::SetIconVisible(bool visible) {
    StopTimer(FAddRetryTimer);
    if (visible) {
        AddOrRetry();
    } else {
        NotifyIcon(niDelete);
    }
    FIconVisible = visible;
}

void TMyTrayIcon::AddOrRetry() {
    // Nothing is sent while disabled: no retry either.
    if (!NotifyIcon(niAdd) && Enabled) {
        StartTimer(FAddRetryTimer);
    }
}

void TMyTrayIcon::AddRetryTimerTick() {
    if (!FIconVisible || !Enabled) {
        StopTimer(FAddRetryTimer);
        return;
    }
    // An add of an icon the shell holds already fails: a modify tells.
    if (NotifyIcon(niAdd) || NotifyIcon(niModify)) {
        StopTimer(FAddRetryTimer);
    }
}

void TMyTrayIcon::SetWantEnterExitEvents(bool want) {
    FWantEnterExitEvents = want;
    if (want) {
        StartTimer(FEnterExitTimer);
    } else {
        StopTimer(FEnterExitTimer);
    }
}

bool TMyTrayIcon::ShowBalloon(const std::wstring& title, const std::wstring& text) {
    if (!Enabled || !FIconVisible) {
        return false;
    }
    // A copy: the record kept for every other call carries no balloon, so
    // that a later modify does not show this one again.
    NOTIFYICONDATAW data = FIconData;
    data.uFlags = NIF_INFO;
    text.copy(data.szInfo, std::size(data.szInfo) - 1);
    title.copy(data.szInfoTitle, std::size(data.szInfoTitle) - 1);
    data.dwInfoFlags = NIIF_INFO;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool TMyTrayIcon::NotifyIcon(int operation) {
    if (operation == niDelete) {
        return Shell_NotifyIconW(NIM_DELETE, &FIconData) != FALSE;
    }
    if ((operation != niAdd && operation != niModify) || !Enabled) {
        return false;
    }
    FIconData.hIcon = FIcon.get();
    std::fill(std::begin(FIconData.szTip), std::end(FIconData.szTip), L'\0');
    FHint.copy(FIconData.szTip, kMaxTrayTip);
    return Shell_NotifyIconW(operation == niAdd ? NIM_ADD : NIM_MODIFY, &FIconData) != FALSE;
}

void TMyTrayIcon::Click() {
    if (OnClick) {
        OnClick(this);
    }
}
void TMyTrayIcon::DblClick() {
    if (OnDblClick) {
        OnDblClick(this);
    }
}
void TMyTrayIcon::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) {
        OnMouseDown(this, button, shift, x, y);
    }
}
void TMyTrayIcon::MouseEnter() {
    if (OnMouseEnter) {
        OnMouseEnter(this);
    }
}
void TMyTrayIcon::MouseExit() {
    if (OnMouseExit) {
        OnMouseExit(this);
    }
}
void TMyTrayIcon::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) {
        OnMouseMove(this, shift, x, y);
    }
}
void TMyTrayIcon::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) {
        OnMouseUp(this, button, shift, x, y);
    }
}

void TMyTrayIcon::Callback(UINT mouseMessage) {
    switch (mouseMessage) {
        case WM_MOUSEMOVE:
            if (!Enabled) {
                return;
            }
            if (FWantEnterExitEvents && FMouseOutside) {
                FMouseOutside = false;
                MouseEnter();
            }
            {
                const POINT p = CursorPos();
                FLastX = p.x;
                FLastY = p.y;
            }
            MouseMove(ShiftState(), FLastX, FLastY);
            return;
        case WM_LBUTTONDOWN:
            Press(TMouseButton::mbLeft);
            return;
        case WM_LBUTTONUP:
            Release(TMouseButton::mbLeft);
            return;
        case WM_LBUTTONDBLCLK:
            LeftDoubleClick();
            return;
        case WM_RBUTTONDOWN:
            Press(TMouseButton::mbRight);
            return;
        case WM_RBUTTONUP:
            Release(TMouseButton::mbRight);
            return;
        case WM_MBUTTONDOWN:
            Press(TMouseButton::mbMiddle);
            return;
        case WM_MBUTTONUP:
            Release(TMouseButton::mbMiddle);
            return;
        case WM_MBUTTONDBLCLK:
            if (Enabled) {
                Click();
            }
            return;
        default:
            // WM_RBUTTONDBLCLK and anything else: nothing.
            return;
    }
}

void TMyTrayIcon::Press(TMouseButton button) {
    if (!Enabled) {
        return;
    }
    const POINT p = CursorPos();
    if (button == TMouseButton::mbLeft && OnDblClick && WantDoubleClicks) {
        FDblClickTimer.interval = GetDoubleClickTime();
        StartTimer(FDblClickTimer);
    }
    MouseDown(button, ShiftState(), p.x, p.y);
    if (button == TMouseButton::mbLeft) {
        FLeftDown = true;
    } else if (button == TMouseButton::mbRight) {
        ShowPopup();
    }
}

void TMyTrayIcon::Release(TMouseButton button) {
    if (!Enabled) {
        return;
    }
    const POINT p = CursorPos();
    if (button == TMouseButton::mbLeft) {
        if (FLeftDown) {
            FClickPending = true;
        }
        if (FLeftDown && !FDblClickTimer.running) {
            FLeftDown = false;
            FClickPending = false;
            Click();
        }
        FLeftDown = false;
    }
    MouseUp(button, ShiftState(), p.x, p.y);
}

void TMyTrayIcon::LeftDoubleClick() {
    if (!Enabled || !WantDoubleClicks) {
        return;
    }
    FClickPending = false;
    FDblClickSeen = true;
    DblClick();
}

void TMyTrayIcon::TimerTick(UINT_PTR id) {
    if (id == FDblClickTimer.Id()) {
        DblClickTimerTick();
    } else if (id == FEnterExitTimer.Id()) {
        EnterExitTimerTick();
    } else if (id == FAddRetryTimer.Id()) {
        AddRetryTimerTick();
    }
}

void TMyTrayIcon::DblClickTimerTick() {
    StopTimer(FDblClickTimer);
    if (!FDblClickSeen && FClickPending) {
        FClickPending = false;
        Click();
    }
    FDblClickSeen = false;
}

void TMyTrayIcon::EnterExitTimerTick() {
    if (FMouseOutside) {
        return;
    }
    const POINT p = CursorPos();
    if (p.x != FLastX || p.y != FLastY) {
        FMouseOutside = true;
        MouseExit();
    }
}

void TMyTrayIcon::ShowPopup() {
    TPopupMenu* menu = PopupMenu;
    POINT p{};
    if (menu == nullptr || !menu->AutoPopup || !GetCursorPos(&p)) {
        return;
    }
    // Kept in locals: a menu item's handler may free this icon.
    const HWND owner = FOwner;
    const HWND menuOwner = owner != nullptr ? owner : FIconData.hWnd;
    // The menu closes on a click elsewhere only when its owner is in the
    // foreground; the WM_NULL afterwards lets the owner's queue move on.
    SetForegroundWindow(menuOwner);
    ProcessPendingMessages();
    menu->PopupComponent = this;
    menu->Popup(p.x, p.y, menuOwner);
    if (owner != nullptr) {
        PostMessageW(owner, WM_NULL, 0, 0);
    }
}

void TMyTrayIcon::StartTimer(Timer& timer) {
    HWND wnd = HandlerWindow();
    if (wnd != nullptr && SetTimer(wnd, timer.Id(), timer.interval, nullptr) != 0) {
        timer.running = true;
    }
}

void TMyTrayIcon::StopTimer(Timer& timer) {
    if (timer.running) {
        KillTimer(HandlerWindow(), timer.Id());
        timer.running = false;
    }
}

LRESULT CALLBACK TMyTrayIcon::AppHook(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                      DWORD_PTR self) {
    auto* icon = reinterpret_cast<TMyTrayIcon*>(self);
    if (msg == TaskbarCreatedMsg() && icon->FIconVisible) {
        icon->AddOrRetry();
    }
    return DefSubclassProc(wnd, msg, wp, lp);
}

}  // namespace kelvora
