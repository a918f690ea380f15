#include "win32/form_window.h"

namespace kelvora {

namespace {

// Larger than any frame around a screen area; within the platform's limits.
constexpr LONG kMaxWindowSize = 0x7FFF;

bool RegisterFormClass(const wchar_t* className, WNDPROC proc, HBRUSH background) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, className, &existing)) {
        return true;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // Borderless forms paint everything themselves and have no brush;
    // dialogs show the face colour behind their controls.
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

FormWindow::~FormWindow() {
    DestroyForm();
}

bool FormWindow::Showing() const {
    return wnd_ && IsWindowVisible(wnd_.get()) != FALSE;
}

HWND FormWindow::Control(int id) const {
    return wnd_ ? GetDlgItem(wnd_.get(), id) : nullptr;
}

bool FormWindow::CreateForm(const wchar_t* className, DWORD exStyle, HWND owner,
                            const RECT& bounds) {
    if (wnd_ || !RegisterFormClass(className, &FormWindow::Dispatch, nullptr)) {
        return false;
    }
    activates_ = false;
    // Dispatch stores the handle in wnd_ at WM_NCCREATE, so that messages
    // sent during creation already see it. The window starts empty as a
    // popup and then becomes a captionless overlapped window of its real
    // size: Wine hands full-screen popups (and activated windows) to the X
    // window manager, and where none runs it waits two seconds at every
    // hide. Without caption or frame both kinds look and behave the same.
    HWND wnd = CreateWindowExW(exStyle, className, L"", WS_POPUP, bounds.left, bounds.top, 0, 0,
                               owner, nullptr, GetModuleHandleW(nullptr), this);
    if (wnd == nullptr) {
        wnd_.release();
        return false;
    }
    SetWindowLongW(wnd, GWL_STYLE, WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    SetWindowPos(wnd, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
    return true;
}

bool FormWindow::CreateCaptionForm(const wchar_t* className, const wchar_t* caption, DWORD style,
                                   DWORD exStyle, HWND owner, SIZE client96) {
    const auto face = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    if (wnd_ || !RegisterFormClass(className, &FormWindow::Dispatch, face)) {
        return false;
    }
    activates_ = true;
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    const int dpi = SystemDpi();
    RECT frame{0, 0, ScaleToDpi(static_cast<int>(client96.cx), dpi),
               ScaleToDpi(static_cast<int>(client96.cy), dpi)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    // Dispatch stores the handle in wnd_ at WM_NCCREATE.
    HWND wnd = CreateWindowExW(exStyle, className, caption, style, x, y, width, height, owner,
                               nullptr, GetModuleHandleW(nullptr), this);
    if (wnd == nullptr) {
        wnd_.release();
        return false;
    }
    return true;
}

bool FormWindow::CreateControls(const std::vector<ControlSpec>& table) {
    if (!wnd_) {
        return false;
    }
    const int dpi = SystemDpi();
    bool all = true;
    for (const ControlSpec& entry : table) {
        all = CreateControl(wnd_.get(), entry, dpi) != nullptr && all;
    }
    return all;
}

void FormWindow::OnCommand(int id, CommandHandler handler) {
    AddRoute({RouteKind::Command, id, std::move(handler), {}});
}

void FormWindow::OnClick(int id, std::function<void()> handler) {
    OnCommand(id, [handler = std::move(handler)](WORD code) {
        if (code == BN_CLICKED && handler) {
            handler();
        }
    });
}

void FormWindow::OnScroll(int id, CommandHandler handler) {
    AddRoute({RouteKind::Scroll, id, std::move(handler), {}});
}

void FormWindow::OnNotify(int id, NotifyHandler handler) {
    AddRoute({RouteKind::Notify, id, {}, std::move(handler)});
}

void FormWindow::AddRoute(Route route) {
    for (Route& r : routes_) {
        if (r.kind == route.kind && r.id == route.id) {
            r = std::move(route);
            return;
        }
    }
    routes_.push_back(std::move(route));
}

const FormWindow::Route* FormWindow::FindRoute(RouteKind kind, int id) const {
    for (const Route& r : routes_) {
        if (r.kind == kind && r.id == id) {
            return &r;
        }
    }
    return nullptr;
}

bool FormWindow::RouteNotification(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    result = 0;
    switch (msg) {
        case WM_COMMAND: {
            // Menus and accelerators (lParam 0) are not controls.
            if (lp == 0) {
                return false;
            }
            const Route* r = FindRoute(RouteKind::Command, LOWORD(wp));
            if (r == nullptr || !r->command) {
                return false;
            }
            // Copied: the handler may replace its own route.
            const CommandHandler handler = r->command;
            handler(HIWORD(wp));
            return true;
        }
        case WM_HSCROLL:
        case WM_VSCROLL: {
            // lParam is the control; 0 means the window's own scroll bar.
            if (lp == 0) {
                return false;
            }
            const Route* r = FindRoute(RouteKind::Scroll, GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
            if (r == nullptr || !r->command) {
                return false;
            }
            const CommandHandler handler = r->command;
            handler(LOWORD(wp));
            return true;
        }
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
            const Route* r = hdr != nullptr
                                 ? FindRoute(RouteKind::Notify, static_cast<int>(hdr->idFrom))
                                 : nullptr;
            if (r == nullptr || !r->notify) {
                return false;
            }
            const NotifyHandler handler = r->notify;
            result = handler(*hdr);
            return true;
        }
        default:
            return false;
    }
}

void FormWindow::DestroyForm() {
    if (wnd_) {
        SetWindowLongPtrW(wnd_.get(), GWLP_USERDATA, 0);
        wnd_.reset();
    }
}

LRESULT FormWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT routed = 0;
    if (RouteNotification(msg, wp, lp, routed)) {
        return routed;
    }
    if (activates_) {
        return DefWindowProcW(wnd_.get(), msg, wp, lp);
    }
    switch (msg) {
        case WM_WINDOWPOSCHANGING:
            // Never activated: the user's window keeps the focus, and under
            // Wine an activated window goes to the window manager (see
            // CreateForm).
            reinterpret_cast<WINDOWPOS*>(lp)->flags |= SWP_NOACTIVATE;
            break;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_GETMINMAXINFO: {
            // An overlapped window is kept within the screen's tracking
            // limits; a frame around a full-screen area must reach beyond.
            auto* info = reinterpret_cast<MINMAXINFO*>(lp);
            info->ptMinTrackSize = {0, 0};
            info->ptMaxTrackSize = {kMaxWindowSize, kMaxWindowSize};
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(wnd_.get(), msg, wp, lp);
}

LRESULT CALLBACK FormWindow::Dispatch(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->wnd_.reset(wnd);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(wnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        // Destroyed from outside (for instance with its owner): forget it.
        SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        self->wnd_.release();
        return DefWindowProcW(wnd, msg, wp, lp);
    }
    return self->HandleMessage(msg, wp, lp);
}

int ModalForm::ShowModal() {
    HWND wnd = Handle();
    if (wnd == nullptr || inModal_) {
        return kModalCancel;
    }
    inModal_ = true;
    modalResult_ = kModalNone;
    HWND owner = GetWindow(wnd, GW_OWNER);
    const bool disableOwner = owner != nullptr && IsWindowEnabled(owner);
    if (disableOwner) {
        EnableWindow(owner, FALSE);
    }
    FormShow();
    ShowWindow(wnd, SW_SHOWNA);
    // Paint at once rather than after the first messages.
    UpdateWindow(wnd);
    MSG msg;
    while (modalResult_ == kModalNone) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            modalResult_ = kModalCancel;
            break;
        }
        if (got < 0 || Handle() == nullptr) {
            modalResult_ = kModalCancel;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    FormHide();
    // Enable the owner before hiding, so that activation returns to it.
    if (disableOwner) {
        EnableWindow(owner, TRUE);
    }
    if (Handle() != nullptr) {
        ShowWindow(Handle(), SW_HIDE);
    }
    inModal_ = false;
    return modalResult_;
}

bool ModalForm::SetModalResult(int result) {
    if (result != kModalNone && result != kModalOk && result != kModalCancel) {
        return false;
    }
    modalResult_ = result;
    // Wake the loop in case it is waiting in GetMessage.
    if (result != kModalNone && Handle() != nullptr) {
        PostMessageW(Handle(), WM_NULL, 0, 0);
    }
    return true;
}

win32::Window CreateMessageWindow(const wchar_t* className, WNDPROC proc, void* self) {
    if (!RegisterFormClass(className, proc, nullptr)) {
        return {};
    }
    win32::Window window(CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), nullptr));
    if (window) {
        SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    return window;
}

}  // namespace kelvora
