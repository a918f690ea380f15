// TMyTrayIcon: one icon with a tip in the notification area, the shell's
// mouse notifications for it turned into events, a popup menu on a right
// press, and the icon put back when the taskbar is re-created.
//
// Protocol:
//  - Create it on the UI thread with the application's main window as owner
//    (may be null in tests; then nothing re-adds the icon after the taskbar
//    is re-created): the owner is hooked (SetWindowSubclass) to see
//    the "TaskbarCreated" broadcast (let through the message filter that
//    keeps it from an elevated program), comes to the foreground before the
//    menu opens and gets WM_NULL after it closes. The owner must outlive the
//    icon.
//  - Set Enabled, the icon, the hint and PopupMenu, then SetIconVisible(true):
//    the add carries the icon and the tip. An add the shell refuses (at
//    logon the taskbar may not be up yet) is tried again every second until
//    the icon is there or is no longer wanted. While Enabled is false nothing
//    is added or modified and the mouse is ignored; the delete is always
//    sent.
//  - Events are plain std::function members, raised on the UI thread only
//    when bound. A menu item's handler may destroy the icon (the menu has
//    closed by then); the icon's own event handlers must not.
//  - All instances share one hidden window (TMyTrayIconHandler), created with
//    the first instance and destroyed with the last; the shell sends it the
//    callback message 2048 with the icon's id in wParam and the mouse message
//    in lParam. It ignores WM_CLOSE and never objects to the session ending.
#pragma once

#include <windows.h>
// shellapi.h needs the declarations of windows.h first.
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "win32/handles.h"

namespace kelvora {

class TPopupMenu;
class TMyTrayIcon;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Which of Shift, Alt, Ctrl and the mouse buttons are down, read from the
// keyboard state when an event fires.
using TShiftState = std::uint8_t;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssAlt = 2;
inline constexpr TShiftState ssCtrl = 4;
inline constexpr TShiftState ssLeft = 8;
inline constexpr TShiftState ssRight = 16;
inline constexpr TShiftState ssMiddle = 32;

using TTrayNotifyEvent = std::function<void(TMyTrayIcon* Sender)>;
using TTrayMouseEvent =
    std::function<void(TMyTrayIcon* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TTrayMouseMoveEvent =
    std::function<void(TMyTrayIcon* Sender, TShiftState Shift, int X, int Y)>;

// The message the shell sends to the hidden window for the icon's mouse events.
inline constexpr UINT kTrayCallbackMessage = 2048;
// The record's size with the balloon fields and without the GUID ones: 936
// bytes on i686, 952 on x86_64.
inline constexpr DWORD kTrayIconDataSize = offsetof(NOTIFYICONDATAW, guidItem);
// Characters of the hint that fit the tip, without the terminator.
inline constexpr std::size_t kMaxTrayTip = 127;

class TMyTrayIcon {
  public:
    enum Operation { niAdd = 0, niModify = 1, niDelete = 2 };

    explicit TMyTrayIcon(HWND owner);
    virtual ~TMyTrayIcon();
    TMyTrayIcon(const TMyTrayIcon&) = delete;
    TMyTrayIcon& operator=(const TMyTrayIcon&) = delete;

    // Gates adds, modifies and all mouse handling; changing it alone neither
    // adds nor removes the icon.
    bool Enabled = false;
    // Kept for the form's sake; has no effect on the icon.
    std::int32_t IcoIndex = 0;
    // Opened on a right press when set and its AutoPopup is on; not owned.
    TPopupMenu* PopupMenu = nullptr;
    bool WantDoubleClicks = true;

    TTrayNotifyEvent OnClick;
    TTrayNotifyEvent OnDblClick;
    TTrayMouseEvent OnMouseDown;
    TTrayNotifyEvent OnMouseEnter;
    TTrayNotifyEvent OnMouseExit;
    TTrayMouseMoveEvent OnMouseMove;
    TTrayMouseEvent OnMouseUp;

    const std::wstring& Hint() const { return FHint; }
    // Stores the text and modifies the icon; the tip shows its first 127
    // characters.
    void SetHint(const std::wstring& hint);
    // The icon's own copy (null before SetIcon).
    HICON Icon() const { return FIcon.get(); }
    // Copies `icon` (the caller keeps its own) and modifies the icon once.
    void SetIcon(HICON icon);
    bool IconVisible() const { return FIconVisible; }
    // True adds the icon, false deletes it; the property takes the value
    // whatever the shell answers, and a refused add is retried.
    void SetIconVisible(bool visible);
    bool WantEnterExitEvents() const { return FWantEnterExitEvents; }
    // Starts or stops the 200 ms poll that detects the cursor leaving.
    void SetWantEnterExitEvents(bool want);
    // A balloon at the icon with `title` and `text` (the information icon);
    // the shell hides it after a while or on a click. Nothing while Enabled
    // is false or the icon is not shown. Returns whether the shell took it.
    bool ShowBalloon(const std::wstring& title, const std::wstring& text);

    // Sends niAdd / niModify / niDelete to the shell; add and modify are
    // refused (false, nothing sent) while Enabled is false. Returns whether
    // the shell accepted the call.
    virtual bool NotifyIcon(int operation);

    // The record sent to the shell (for tests and diagnostics).
    const NOTIFYICONDATAW& IconData() const { return FIconData; }
    // The shared hidden window, null when no instance lives.
    static HWND HandlerWindow();
    // The message number of "TaskbarCreated".
    static UINT TaskbarCreatedMsg();

  protected:
    // Each fires its event when bound.
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseEnter();
    virtual void MouseExit();
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);

  private:
    friend class TMyTrayIconHandler;

    // A timer of the hidden window; its id is the address of the record,
    // unique in the process.
    struct Timer {
        UINT interval = 0;
        bool running = false;
        UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }
    };

    void Callback(UINT mouseMessage);
    void TimerTick(UINT_PTR id);
    void Press(TMouseButton button);
    void Release(TMouseButton button);
    void LeftDoubleClick();
    void DblClickTimerTick();
    void EnterExitTimerTick();
    // Adds the icon; when the shell refuses, tries again on a timer.
    void AddOrRetry();
    void AddRetryTimerTick();
    void ShowPopup();
    void StartTimer(Timer& timer);
    void StopTimer(Timer& timer);
    static LRESULT CALLBACK AppHook(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                    DWORD_PTR self);

    HWND FOwner = nullptr;
    std::wstring FHint;
    win32::Icon FIcon;
    bool FIconVisible = false;
    bool FWantEnterExitEvents = false;
    Timer FDblClickTimer;
    Timer FEnterExitTimer;
    Timer FAddRetryTimer;
    bool FDblClickSeen = false;
    std::int32_t FLastX = 0;
    std::int32_t FLastY = 0;
    bool FClickPending = false;
    bool FLeftDown = false;
    bool FMouseOutside = true;
    std::uint32_t FIconId = 0;
    NOTIFYICONDATAW FIconData{};
};

}  // namespace kelvora
