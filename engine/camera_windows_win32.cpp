// The camera's windows on Windows: a hidden window that carries the 30 ms
// timer and receives the camera's hot keys, the red frame (TFlashingWnd),
// the owner's minimise notice (a subclass of the owner window), and the
// selection windows while one is shown.
#include <windows.h>
// commctrl.h needs the declarations of windows.h first.
#include <commctrl.h>

#include <memory>

#include "engine/camera_windows_win32.h"
#include "engine/screen_camera.h"
#include "selection/flash_frame_window.h"
#include "selection/rectangle_selection.h"
#include "selection/window_picker.h"
#include "win32/form_window.h"
#include "win32/handles.h"

namespace {

using kelvora::TFlashingWnd;
using kelvora::TFreeHandWindow;
using kelvora::TSelObjWindow;

constexpr UINT_PTR kTimerId = 1;
constexpr UINT_PTR kSubclassId = 0x4B43;  // 'KC'
constexpr wchar_t kClassName[] = L"KelvoraCameraHotKeys";

// Esc and Ctrl+Enter while a selection shows. Where another program holds a
// combination, RegisterHotKey fails; the key is then watched through a
// low-level keyboard hook for as long as the selection shows, so that it can
// always be confirmed or cancelled.
class SelectionKeys {
  public:
    SelectionKeys(HWND target, UINT cancelId, UINT confirmId)
        : target_(target), cancelId_(cancelId), confirmId_(confirmId) {
        cancelRegistered_ = RegisterHotKey(target, static_cast<int>(cancelId), 0, VK_ESCAPE) != 0;
        confirmRegistered_ =
            RegisterHotKey(target, static_cast<int>(confirmId), MOD_CONTROL, VK_RETURN) != 0;
        if ((!cancelRegistered_ || !confirmRegistered_) && watching_ == nullptr) {
            hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, &SelectionKeys::Watch,
                                      GetModuleHandleW(nullptr), 0);
            // Only with a hook: the destructor clears what it set, and a
            // pointer left behind would outlive this object.
            if (hook_ != nullptr) {
                watching_ = this;
            }
        }
    }
    ~SelectionKeys() {
        if (hook_ != nullptr) {
            UnhookWindowsHookEx(hook_);
            watching_ = nullptr;
        }
        // Released at once: Kelvora never keeps Esc or Ctrl+Enter from the
        // user's other programs outside a selection.
        if (cancelRegistered_) {
            UnregisterHotKey(target_, static_cast<int>(cancelId_));
        }
        if (confirmRegistered_) {
            UnregisterHotKey(target_, static_cast<int>(confirmId_));
        }
    }
    SelectionKeys(const SelectionKeys&) = delete;
    SelectionKeys& operator=(const SelectionKeys&) = delete;

  private:
    static LRESULT CALLBACK Watch(int code, WPARAM wp, LPARAM lp) {
        if (code == HC_ACTION && watching_ != nullptr &&
            (wp == WM_KEYDOWN || wp == WM_SYSKEYDOWN)) {
            const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
            const bool ctrl = GetAsyncKeyState(VK_CONTROL) < 0;
            const bool other = GetAsyncKeyState(VK_SHIFT) < 0 || GetAsyncKeyState(VK_MENU) < 0;
            const SelectionKeys& k = *watching_;
            UINT id = 0;
            if (!k.cancelRegistered_ && key->vkCode == VK_ESCAPE && !ctrl && !other) {
                id = k.cancelId_;
            } else if (!k.confirmRegistered_ && key->vkCode == VK_RETURN && ctrl && !other) {
                id = k.confirmId_;
            }
            if (id != 0) {
                PostMessageW(k.target_, WM_HOTKEY, id, 0);
                return 1;  // as a registered hot key, the key goes no further
            }
        }
        return CallNextHookEx(nullptr, code, wp, lp);
    }

    static SelectionKeys* watching_;
    HWND target_;
    UINT cancelId_;
    UINT confirmId_;
    bool cancelRegistered_ = false;
    bool confirmRegistered_ = false;
    HHOOK hook_ = nullptr;
};
SelectionKeys* SelectionKeys::watching_ = nullptr;

class WinCameraWindows final : public CameraWindows {
  public:
    WinCameraWindows(TScreenCamera& camera, HWND owner)
        : camera_(camera),
          owner_(owner),
          window_(kelvora::CreateMessageWindow(kClassName, &WinCameraWindows::Proc, this)) {
        flash_ = TFlashingWnd::Create(owner);
        if (owner_ != nullptr) {
            SetWindowSubclass(owner_, &WinCameraWindows::OwnerProc, kSubclassId,
                              reinterpret_cast<DWORD_PTR>(this));
        }
        ids_[0] = GlobalAddAtomA("FHotKey1");
        ids_[1] = GlobalAddAtomA("FHotKey2");
        ids_[2] = GlobalAddAtomA("FHotKey3");
    }

    ~WinCameraWindows() override {
        // A selection still open below on the stack ends with Cancel once
        // control returns to its loop; it touches nothing of this object.
        state_->alive = false;
        if (state_->freeHand != nullptr) {
            (void)state_->freeHand->SetModalResult(kelvora::kModalCancel);
        }
        if (state_->picker != nullptr) {
            (void)state_->picker->SetTimer1Enabled(false);
            (void)state_->picker->SetModalResult(kelvora::kModalCancel);
        }
        if (owner_ != nullptr) {
            RemoveWindowSubclass(owner_, &WinCameraWindows::OwnerProc, kSubclassId);
        }
        for (ATOM id : ids_) {
            UnregisterHotKey(window_.get(), id);
        }
        if (window_) {
            KillTimer(window_.get(), kTimerId);
            SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
        }
    }

    void SetTimerEnabled(bool enabled) override {
        if (!window_) {
            return;
        }
        KillTimer(window_.get(), kTimerId);
        timerOn_ = enabled && SetTimer(window_.get(), kTimerId, kTimerMs, nullptr) != 0;
        timerMs_ = kTimerMs;
    }
    bool TimerEnabled() const override { return timerOn_; }
    void SetTimerPeriod(std::uint32_t ms) override {
        // Asked once a tick: the system is told only of a change.
        // A refused change leaves the timer at its period.
        if (timerOn_ && ms != timerMs_ && SetTimer(window_.get(), kTimerId, ms, nullptr) != 0) {
            timerMs_ = ms;
        }
    }

    void ShowFrame(const Area& area, bool cornersOnly) override {
        if (flash_) {
            (void)flash_->ShowAround(area.left, area.top, area.width, area.height, cornersOnly);
        }
    }
    void HideFrame() override {
        if (flash_ && flash_->Showing()) {
            ShowWindow(flash_->Handle(), SW_HIDE);
        }
    }
    bool FrameShowing() const override { return flash_ && flash_->Showing(); }
    void RestoreFrame() override {
        if (flash_) {
            SendMessageW(flash_->Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
        }
    }

    std::uint32_t HotKeyId(int n) const override { return n >= 1 && n <= 3 ? ids_[n - 1] : 0; }

    int ShowSelection(Selection kind, Area* selected) override {
        if (state_->freeHand != nullptr || state_->picker != nullptr || !window_) {
            return kCancel;
        }
        // From here on only locals: the camera, and this object with it,
        // may be destroyed while the modal loop runs.
        const std::shared_ptr<SelectionState> state = state_;
        SelectionKeys keys(window_.get(), ids_[1], ids_[2]);
        int result = kCancel;
        Area area;
        if (kind == Selection::Rectangle) {
            std::unique_ptr<TFreeHandWindow> window = TFreeHandWindow::Create(owner_);
            if (!window) {
                return kCancel;
            }
            SetWindowPos(window->Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            state->freeHand = window.get();
            result = window->ShowModal();
            state->freeHand = nullptr;
            area = {window->FSelLeft, window->FSelTop, window->FSelWidth, window->FSelHeight};
        } else {
            std::unique_ptr<TSelObjWindow> window = TSelObjWindow::Create(owner_);
            if (!window) {
                return kCancel;
            }
            state->picker = window.get();
            result = window->ShowModal();
            state->picker = nullptr;
            area = {window->FSelLeft, window->FSelTop, window->FSelWidth, window->FSelHeight};
        }
        if (result != kelvora::kModalOk || !state->alive) {
            return kCancel;
        }
        *selected = area;
        return kOk;
    }
    bool SelectionShowing(Selection kind) const override {
        return kind == Selection::Rectangle
                   ? state_->freeHand != nullptr && state_->freeHand->Showing()
                   : state_->picker != nullptr && state_->picker->Showing();
    }
    void EndSelection(Selection kind, int result) override {
        if (kind == Selection::Rectangle && state_->freeHand != nullptr) {
            (void)state_->freeHand->SetModalResult(result);
        } else if (kind == Selection::Window && state_->picker != nullptr) {
            (void)state_->picker->SetTimer1Enabled(false);
            (void)state_->picker->SetModalResult(result);
        }
    }
    Area PickerArea() const override {
        const TSelObjWindow* p = state_->picker;
        return p != nullptr ? Area{p->FSelLeft, p->FSelTop, p->FSelWidth, p->FSelHeight} : Area{};
    }

  private:
    // The selection window of the moment, shared with ShowSelection's frame
    // so that it outlives this object when the camera goes meanwhile.
    struct SelectionState {
        bool alive = true;
        TFreeHandWindow* freeHand = nullptr;  // FreeHandWindow
        TSelObjWindow* picker = nullptr;      // SelObjWindow
    };

    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<WinCameraWindows*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (self != nullptr) {
            if (msg == WM_TIMER && wp == kTimerId) {
                self->camera_.TimerTick();
                return 0;
            }
            if (msg == WM_HOTKEY) {
                self->camera_.HotKeyWndProc(msg, wp);
                return 0;
            }
        }
        return DefWindowProcW(wnd, msg, wp, lp);
    }

    static LRESULT CALLBACK OwnerProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                      DWORD_PTR data) {
        if (msg == WM_SIZE && wp == SIZE_MINIMIZED) {
            reinterpret_cast<WinCameraWindows*>(data)->camera_.AppMinimize();
        }
        return DefSubclassProc(wnd, msg, wp, lp);
    }

    TScreenCamera& camera_;
    HWND owner_;
    win32::Window window_;  // FHotKeyWnd, also the timer's window
    std::unique_ptr<TFlashingWnd> flash_;
    ATOM ids_[3] = {0, 0, 0};
    bool timerOn_ = false;
    std::uint32_t timerMs_ = kTimerMs;
    std::shared_ptr<SelectionState> state_ = std::make_shared<SelectionState>();
};

}  // namespace

std::unique_ptr<CameraWindows> CreateWinCameraWindows(TScreenCamera& camera, void* owner) {
    return std::make_unique<WinCameraWindows>(camera, static_cast<HWND>(owner));
}
