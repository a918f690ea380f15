#include "selection/rectangle_selection.h"

#include <commctrl.h>

namespace kelvora {

namespace {

constexpr wchar_t kClassName[] = L"KelvoraFreeHandWindow";
constexpr COLORREF kBlue = RGB(0, 0, 255);
// The tooltip's top-left corner relative to the cursor: below and right of
// the arrow, as the platform places hints.
constexpr int kTipOffsetX = 12;
constexpr int kTipOffsetY = 20;
constexpr wchar_t kLineBreak[] = L"\n\r";

bool ButtonDown(UINT msg) {
    return msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN ||
           msg == WM_XBUTTONDOWN;
}

bool ButtonUp(UINT msg) {
    return msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP || msg == WM_XBUTTONUP;
}

// What the tooltip control shows for `hint`: the same lines, with the usual
// carriage return + line feed between them.
std::wstring TooltipText(const std::wstring& hint) {
    std::wstring text;
    text.reserve(hint.size());
    for (size_t i = 0; i < hint.size(); ++i) {
        if (hint[i] == L'\n' && i + 1 < hint.size() && hint[i + 1] == L'\r') {
            text += L"\r\n";
            ++i;
        } else {
            text += hint[i];
        }
    }
    return text;
}

POINT CursorPos() {
    POINT pt{0, 0};
    GetCursorPos(&pt);
    return pt;
}

SIZE g_pictureSizeForTesting{0, 0};

// The frozen picture's size: the primary screen's.
SIZE PictureSize() {
    if (g_pictureSizeForTesting.cx > 0) {
        return g_pictureSizeForTesting;
    }
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace

void TFreeHandWindow::SetPictureSizeForTesting(int width, int height) {
    g_pictureSizeForTesting = {width, height};
}

POINT TFreeHandWindow::PointOnPicture() const {
    // The cursor may leave the picture while the button is held (onto a
    // second monitor): the rectangle ends at the picture's edge, so that it
    // records nothing the frozen picture did not show.
    POINT pt = CursorPos();
    pt.x = pt.x < 0 ? 0 : (pt.x > screenWidth_ ? screenWidth_ : pt.x);
    pt.y = pt.y < 0 ? 0 : (pt.y > screenHeight_ ? screenHeight_ : pt.y);
    return pt;
}

std::unique_ptr<TFreeHandWindow> TFreeHandWindow::Create(HWND owner) {
    std::unique_ptr<TFreeHandWindow> wnd(new TFreeHandWindow());
    const SIZE size = PictureSize();
    const RECT screen{0, 0, size.cx, size.cy};
    if (!wnd->CreateForm(kClassName, WS_EX_TOOLWINDOW | WS_EX_TOPMOST, owner, screen) ||
        !wnd->FormCreate()) {
        return nullptr;
    }
    return wnd;
}

TFreeHandWindow::~TFreeHandWindow() {
    HideHint();
    tooltip_.reset();
    DestroyForm();
}

bool TFreeHandWindow::FormCreate() {
    const SIZE size = PictureSize();
    screenWidth_ = size.cx;
    screenHeight_ = size.cy;
    {
        // A compatible bitmap has the display's own format, so it keeps its
        // bits per pixel (1, 4, 8, 15, 16, 24 or 32) and copies fastest.
        win32::WindowDc screen(nullptr);
        if (!screen) {
            return false;
        }
        FScreenBitmap.reset(CreateCompatibleBitmap(screen.get(), screenWidth_, screenHeight_));
        bitmapDc_.reset(CreateCompatibleDC(screen.get()));
    }
    if (!FScreenBitmap || !bitmapDc_ ||
        SelectObject(bitmapDc_.get(), FScreenBitmap.get()) == nullptr) {
        return false;
    }

    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    // Owned by this window, so it stays above the full-screen picture.
    tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                   GetModuleHandleW(nullptr), nullptr));
    if (!tooltip_) {
        return false;
    }
    // A tracking tool shows at once where it is put; transparent, so that
    // the mouse over the tooltip still reaches this window.
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
    ti.hwnd = Handle();
    ti.uId = 1;
    ti.lpszText = const_cast<wchar_t*>(L"");
    if (!SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti))) {
        return false;
    }
    // Any positive width lets the control break lines.
    SendMessageW(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, screenWidth_);
    return true;
}

void TFreeHandWindow::FormShow() {
    // Runs while the window is still hidden, so it is not in its own picture.
    SetWindowPos(Handle(), nullptr, 0, 0, screenWidth_, screenHeight_,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    {
        win32::WindowDc screen(nullptr);
        if (screen) {
            BitBlt(bitmapDc_.get(), 0, 0, screenWidth_, screenHeight_, screen.get(), 0, 0, SRCCOPY);
        }
    }
    FSelected = false;
    for (int i = 0; i < 4; ++i) {
        SetShapeVisible(i, false);
    }
    InvalidateRect(Handle(), nullptr, FALSE);
}

void TFreeHandWindow::FormHide() {
    HideHint();
    if (GetCapture() == Handle()) {
        ReleaseCapture();
    }
    FDragging = false;
}

void TFreeHandWindow::FormPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    if (dc != nullptr) {
        const RECT& r = ps.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, bitmapDc_.get(), r.left,
               r.top, SRCCOPY);
        SetDCBrushColor(dc, kBlue);
        for (const LineShape& s : shapes_) {
            RECT line;
            if (s.visible && IntersectRect(&line, &s.bounds, &r)) {
                FillRect(dc, &line, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
            }
        }
    }
    EndPaint(Handle(), &ps);
}

RECT TFreeHandWindow::VerticalLine(int x) const {
    return RECT{x, 0, x + 1, screenHeight_};
}

RECT TFreeHandWindow::HorizontalLine(int y) const {
    return RECT{0, y, screenWidth_, y + 1};
}

void TFreeHandWindow::SetShape(int index, const RECT& bounds, bool visible) {
    LineShape& s = shapes_[index];
    if (s.visible == visible && EqualRect(&s.bounds, &bounds)) {
        return;
    }
    if (s.visible) {
        InvalidateRect(Handle(), &s.bounds, FALSE);
    }
    s.bounds = bounds;
    s.visible = visible;
    if (visible) {
        InvalidateRect(Handle(), &s.bounds, FALSE);
    }
}

void TFreeHandWindow::SetShapeVisible(int index, bool visible) {
    SetShape(index, shapes_[index].bounds, visible);
}

void TFreeHandWindow::FormMouseDown(bool left, bool ctrl) {
    HideHint();
    if (left && ctrl && FSelected && FSelWidth != 0 && FSelHeight != 0) {
        static_cast<void>(SetModalResult(kModalOk));
        return;
    }
    if (!left) {
        return;
    }
    const POINT pt = PointOnPicture();
    FStartX = FStartY = FEndX = FEndY = 0;
    FSelLeft = FSelTop = FSelWidth = FSelHeight = 0;
    FDragging = true;
    FSelected = false;
    SetShape(0, VerticalLine(pt.x), true);
    SetShape(1, HorizontalLine(pt.y), true);
    SetShapeVisible(2, false);
    SetShapeVisible(3, false);
    FStartX = pt.x;
    FStartY = pt.y;
    // The release must come here even if another window pops up meanwhile.
    SetCapture(Handle());
}

void TFreeHandWindow::FormMouseMove() {
    const POINT pt = PointOnPicture();
    if (FDragging) {
        SetShapeVisible(0, true);
        SetShapeVisible(1, true);
        SetShape(2, VerticalLine(pt.x), true);
        SetShape(3, HorizontalLine(pt.y), true);
        FEndX = pt.x;
        FEndY = pt.y;
        FSelected = true;
    } else if (!FSelected) {
        SetShape(0, VerticalLine(pt.x), true);
        SetShape(1, HorizontalLine(pt.y), true);
        SetShapeVisible(2, false);
        SetShapeVisible(3, false);
    }
    Normalise();
    ShowHint(pt);
}

void TFreeHandWindow::FormMouseUp() {
    Normalise();
    FDragging = false;
    const LineShape& s1 = shapes_[0];
    const LineShape& s2 = shapes_[1];
    const LineShape& s3 = shapes_[2];
    const LineShape& s4 = shapes_[3];
    FSelected = s1.bounds.left != s3.bounds.left && s2.bounds.top != s4.bounds.top &&
                (s3.visible || s4.visible);
    if (GetCapture() == Handle()) {
        ReleaseCapture();
    }
}

void TFreeHandWindow::Normalise() {
    if (FEndX > FStartX) {
        FSelLeft = FStartX;
        FSelWidth = FEndX - FStartX;
    } else {
        FSelLeft = FEndX;
        FSelWidth = FStartX - FEndX;
    }
    if (FEndY > FStartY) {
        FSelTop = FStartY;
        FSelHeight = FEndY - FStartY;
    } else {
        FSelTop = FEndY;
        FSelHeight = FStartY - FEndY;
    }
}

void TFreeHandWindow::ShowHint(POINT cursor) {
    hint_ = L"X: " + std::to_wstring(cursor.x) + L" Y: " + std::to_wstring(cursor.y);
    if (FSelWidth != 0 && FSelHeight != 0) {
        hint_ += kLineBreak;
        hint_ +=
            L"Selected Area : " + std::to_wstring(FSelWidth) + L" x " + std::to_wstring(FSelHeight);
    }
    hint_ += kLineBreak;
    hint_ += std::wstring(40, L'-');
    hint_ += kLineBreak;
    hint_ += L"Для отмены нажмите (ESC)";
    hint_ += kLineBreak;
    hint_ += L"Для записи нажмите (Ctrl+Left Click)";

    // The control breaks lines at CR LF; the stored hint keeps LF CR.
    tooltipText_ = TooltipText(hint_);
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = Handle();
    ti.uId = 1;
    ti.lpszText = tooltipText_.data();
    SendMessageW(tooltip_.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));

    // Beside the cursor, flipped to the other side near the screen's edges.
    const LRESULT size =
        SendMessageW(tooltip_.get(), TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&ti));
    const int w = LOWORD(size), h = HIWORD(size);
    int x = cursor.x + kTipOffsetX, y = cursor.y + kTipOffsetY;
    if (x + w > screenWidth_) {
        x = cursor.x - w - 2;
    }
    if (y + h > screenHeight_) {
        y = cursor.y - h - 2;
    }
    SendMessageW(tooltip_.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
    SendMessageW(tooltip_.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void TFreeHandWindow::HideHint() {
    hint_.clear();
    if (tooltip_) {
        TTTOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = Handle();
        ti.uId = 1;
        SendMessageW(tooltip_.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    }
}

LRESULT TFreeHandWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (ButtonDown(msg)) {
        FormMouseDown(msg == WM_LBUTTONDOWN, (wp & MK_CONTROL) != 0);
        return msg == WM_XBUTTONDOWN ? TRUE : 0;
    }
    if (ButtonUp(msg)) {
        FormMouseUp();
        return msg == WM_XBUTTONUP ? TRUE : 0;
    }
    switch (msg) {
        case WM_MOUSEMOVE:
            FormMouseMove();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            FormPaint();
            return 0;
        default:
            return ModalForm::HandleMessage(msg, wp, lp);
    }
}

}  // namespace kelvora
