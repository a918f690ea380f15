#include "selection/window_picker.h"

namespace kelvora {

namespace {
constexpr wchar_t kClassName[] = L"KelvoraSelObjWindow";
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 40;

// Built once, so that the ticks allocate nothing.
const std::wstring& Label() {
    static const std::wstring label(kSelObjLabel);
    return label;
}
}  // namespace

std::unique_ptr<TSelObjWindow> TSelObjWindow::Create(HWND owner) {
    std::unique_ptr<TSelObjWindow> wnd(new TSelObjWindow());
    const DWORD exStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE;
    // Empty until the first tick shapes it, so nothing unpainted ever shows.
    if (!wnd->shape_.Init() || !wnd->CreateForm(kClassName, exStyle, owner, {0, 0, 0, 0}) ||
        !wnd->SetTimer1Enabled(true)) {
        return nullptr;
    }
    return wnd;
}

TSelObjWindow::~TSelObjWindow() {
    if (Handle() != nullptr) {
        KillTimer(Handle(), kTimer1);
    }
    DestroyForm();
}

bool TSelObjWindow::SetTimer1Enabled(bool enabled) {
    if (Handle() == nullptr) {
        return false;
    }
    if (!enabled) {
        KillTimer(Handle(), kTimer1);
        timerOn_ = false;
        return true;
    }
    timerOn_ = SetTimer(Handle(), kTimer1, kTimer1Interval, nullptr) != 0;
    return timerOn_;
}

bool TSelObjWindow::SetFrame(int X, int Y, int Width, int Height, bool CornersOnly,
                             const std::wstring& Text) {
    return shape_.SetFrame(Handle(), X, Y, Width, Height, CornersOnly, Text);
}

bool TSelObjWindow::PaintFrame(const std::wstring& Text) {
    return shape_.PaintFrame(Handle(), Text);
}

void TSelObjWindow::Timer1Timer() {
    POINT pt;
    if (!GetCursorPos(&pt)) {
        return;
    }
    HWND under = WindowFromPoint(pt);
    RECT rc;
    // On the picker's own frame or label the last window stays framed:
    // framing the picker itself would grow it at every tick.
    if (under != nullptr && under != Handle() && GetWindowRect(under, &rc)) {
        FSelLeft = rc.left;
        FSelTop = rc.top;
        FSelWidth = rc.right - rc.left;
        FSelHeight = rc.bottom - rc.top;
    }
    if (SetFrame(FSelLeft, FSelTop, FSelWidth, FSelHeight, false, Label())) {
        static_cast<void>(PaintFrame(Label()));
    }
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

LRESULT TSelObjWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (wp == kTimer1) {
                Timer1Timer();
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            shape_.PaintRequested(Handle());
            return 0;
        default:
            break;
    }
    return ModalForm::HandleMessage(msg, wp, lp);
}

}  // namespace kelvora
