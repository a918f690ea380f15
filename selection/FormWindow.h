// Top-level windows owned by C++ objects, shared by the selection windows.
//
// FormWindow creates one borderless window, routes its messages to the virtual
// HandleMessage and destroys the window with itself. ModalForm adds a modal
// message loop: ShowModal shows the window and dispatches messages until
// someone sets a modal result, then hides the window and returns that result.
//
// Protocol for derived classes: create the window with CreateForm from a
// factory function; the destructor of the most derived class calls
// DestroyForm first, so that no message reaches a half-destroyed object.
// Everything runs on the thread that created the window.
#pragma once

#include <windows.h>

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
    // Detaches this object from the window and destroys the window. Safe to
    // call more than once.
    void DestroyForm();
    // The window's messages; the default is DefWindowProcW.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);

  private:
    static LRESULT CALLBACK Dispatch(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

    win32::Window wnd_;
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

}  // namespace kelvora
