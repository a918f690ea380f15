#include "selection/flash_frame_window.h"

namespace kelvora {

namespace {
constexpr wchar_t kClassName[] = L"KelvoraFlashingWnd";
}  // namespace

std::unique_ptr<TFlashingWnd> TFlashingWnd::Create(HWND owner) {
    std::unique_ptr<TFlashingWnd> wnd(new TFlashingWnd());
    // A tool window stays off the task bar; no-activate keeps a click on the
    // frame from taking the focus away from the user's window.
    const DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
    if (!wnd->shape_.Init() || !wnd->CreateForm(kClassName, exStyle, owner, {0, 16, 300, 316})) {
        return nullptr;
    }
    return wnd;
}

TFlashingWnd::~TFlashingWnd() {
    DestroyForm();
}

bool TFlashingWnd::SetFrame(int X, int Y, int Width, int Height, bool CornersOnly,
                            const std::wstring& Caption) {
    return shape_.SetFrame(Handle(), X, Y, Width, Height, CornersOnly, Caption);
}

bool TFlashingWnd::PaintFrame(const std::wstring& Caption) {
    return shape_.PaintFrame(Handle(), Caption);
}

bool TFlashingWnd::ShowAround(int X, int Y, int Width, int Height, bool CornersOnly) {
    const bool same = placed_ && Showing() && area_[0] == X && area_[1] == Y &&
                      area_[2] == Width && area_[3] == Height && CornersOnly == corners_;
    if (!same) {
        placed_ = SetFrame(X, Y, Width, Height, CornersOnly, L"");
        area_[0] = X;
        area_[1] = Y;
        area_[2] = Width;
        area_[3] = Height;
        corners_ = CornersOnly;
        if (!placed_) {
            ShowWindow(Handle(), SW_HIDE);
            return false;
        }
        (void)PaintFrame(L"");
        ShowWindow(Handle(), SW_SHOWNA);
    }
    // Back on top only when another window went above it.
    if (GetWindow(Handle(), GW_HWNDPREV) != nullptr) {
        SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }
    return true;
}

LRESULT TFlashingWnd::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            shape_.PaintRequested(Handle());
            return 0;
        default:
            return FormWindow::HandleMessage(msg, wp, lp);
    }
}

}  // namespace kelvora
