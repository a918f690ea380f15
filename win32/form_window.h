// Top-level windows owned by C++ objects: the base of every Kelvora window.
//
// FormWindow creates one window, routes its messages to the virtual
// HandleMessage and destroys the window with itself. Two kinds exist:
//  - CreateForm: a borderless window that is never activated (the selection
//    windows, the frame, hidden helper windows);
//  - CreateCaptionForm: a window with a caption and styles of its own, which
//    activates as usual (dialogs, the main form), with a dialog background.
// Child controls come from one table per window (CreateControls, see
// win32/controls.h); their notifications (WM_COMMAND, WM_HSCROLL, WM_NOTIFY)
// go to the handlers registered per control id with OnCommand / OnClick /
// OnScroll / OnNotify when they reach FormWindow::HandleMessage.
// ModalForm adds a modal message loop: ShowModal shows the window and
// dispatches messages until someone sets a modal result, then hides the
// window and returns that result.
//
// Protocol for derived classes: create the window with CreateForm or
// CreateCaptionForm from a factory function or constructor; the destructor of
// the most derived class calls DestroyForm first, so that no message reaches
// a half-destroyed object. A derived HandleMessage passes every message it
// does not answer to its base. Everything runs on the thread that created
// the window.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "win32/controls.h"
#include "win32/handles.h"

namespace kelvora {

class FormWindow {
  public:
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;
    virtual ~FormWindow();

    // The window; owned by this object, null only when creation failed.
    HWND Handle() const { return wnd_.get(); }
    // True while the window is shown (IsWindowVisible).
    bool Showing() const;
    // The child control with `id` (GetDlgItem), or null.
    HWND Control(int id) const;

    // Handlers of the child controls' notifications, one per control id and
    // kind; a later registration for the same id and kind replaces the
    // earlier one. OnCommand gets the notification code of WM_COMMAND
    // (BN_CLICKED, CBN_SELCHANGE, EN_CHANGE, ...); OnClick is OnCommand for
    // BN_CLICKED only; OnScroll gets the request code of WM_HSCROLL /
    // WM_VSCROLL (track bars, scroll bars, up-downs); OnNotify gets the
    // NMHDR of WM_NOTIFY and returns the message's result.
    using CommandHandler = std::function<void(WORD code)>;
    using NotifyHandler = std::function<LRESULT(const NMHDR& hdr)>;
    void OnCommand(int id, CommandHandler handler);
    void OnClick(int id, std::function<void()> handler);
    void OnScroll(int id, CommandHandler handler);
    void OnNotify(int id, NotifyHandler handler);

  protected:
    FormWindow() = default;

    // Creates a hidden borderless window of class `className` (registered on
    // first use: no background brush, arrow cursor) with `exStyle`, owned by
    // `owner` (may be null), at `bounds` in screen coordinates. The window is
    // never activated: it takes no focus, mouse input reaches it all the
    // same. Returns false when the platform refuses; the object then has no
    // window.
    [[nodiscard]] bool CreateForm(const wchar_t* className, DWORD exStyle, HWND owner,
                                  const RECT& bounds);
    // Creates a hidden window of class `className` (registered on first use:
    // the dialog face colour as background, arrow cursor) with `caption`,
    // `style` (WS_CAPTION, WS_SYSMENU, ... ; WS_VISIBLE is dropped: show it
    // yourself) and `exStyle`, owned by `owner` (may be null), whose client
    // area is `client96` in 96-DPI units scaled by the system DPI, centred
    // on the primary screen's work area. Returns false when the platform
    // refuses; the object then has no window.
    [[nodiscard]] bool CreateCaptionForm(const wchar_t* className, const wchar_t* caption,
                                         DWORD style, DWORD exStyle, HWND owner, SIZE client96);
    // Creates the child controls of `table` (see win32/controls.h) with the
    // shared dialog font. Returns false, after creating those it could, when
    // the platform refuses one; the window is required.
    [[nodiscard]] bool CreateControls(const std::vector<ControlSpec>& table);
    // Detaches this object from the window and destroys the window. Safe to
    // call more than once.
    void DestroyForm();
    // The window's messages; the default is DefWindowProcW.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  private:
    enum class RouteKind { Command, Scroll, Notify };
    struct Route {
        RouteKind kind;
        int id;
        CommandHandler command;
        NotifyHandler notify;
    };
    static LRESULT CALLBACK Dispatch(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    void AddRoute(Route route);
    const Route* FindRoute(RouteKind kind, int id) const;
    // Runs the handler of a control notification; false when none is bound.
    bool RouteNotification(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    win32::Window wnd_;
    bool activates_ = false;
    std::vector<Route> routes_;
};

// Modal results, as the camera reads them.
inline constexpr int kModalNone = 0;
inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

class ModalForm : public FormWindow {
  public:
    // Shows the window (without activating it), runs a message loop until
    // the modal result becomes kModalOk or kModalCancel, hides the window and
    // returns the result. The owner window is disabled meanwhile, as under
    // any modal window. A WM_QUIT ends the loop with kModalCancel and is
    // posted again for the outer loop; so does the window's destruction from
    // outside. Returns kModalCancel at once when the window is missing or a
    // modal loop of this window is already running. The object must live
    // until ShowModal returns.
    [[nodiscard]] int ShowModal();
    // The last result set (kModalNone after ShowModal starts).
    int ModalResult() const { return modalResult_; }
    // kModalOk or kModalCancel ends a running ShowModal with that result;
    // kModalNone keeps it running. Any other value is refused (false).
    [[nodiscard]] bool SetModalResult(int result);

  protected:
    ModalForm() = default;

    // Called by ShowModal before the window becomes visible.
    virtual void FormShow() {}
    // Called by ShowModal after the loop ends, before the window is hidden.
    virtual void FormHide() {}

  private:
    int modalResult_ = kModalNone;
    bool inModal_ = false;
};

// A hidden message-only window (HWND_MESSAGE) of `className`, registered on
// first use with `proc`, with `self` in its GWLP_USERDATA for the procedure
// to find its object: the helper windows that carry timers, hot keys and
// work posted from other threads. Empty when the platform refuses it.
[[nodiscard]] win32::Window CreateMessageWindow(const wchar_t* className, WNDPROC proc,
                                                void* self);

}  // namespace kelvora
