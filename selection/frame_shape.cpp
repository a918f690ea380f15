#include "selection/frame_shape.h"

#include <cstdint>

namespace kelvora {

namespace {

constexpr int kArm = 20;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
// Keeps every coordinate of the window far from the limits of int.
constexpr std::int64_t kCoordLimit = 1 << 26;

bool InRange(std::int64_t v) {
    return v > -kCoordLimit && v < kCoordLimit;
}

// Rectangles of one frame, in the platform's convention (left and top
// inclusive, right and bottom exclusive).
struct FrameGeometry {
    RECT bounds{};    // the window on the screen
    RECT paint{};     // the red fill, in window coordinates
    RECT labelCut{};  // cut away: the strip right of the label
    RECT inside{};    // cut away: the inside of the frame
    bool corners = false;
    RECT sidesCut{};  // with corners: the middle of the left and right columns
    RECT topsCut{};   // with corners: the middle of the top and bottom rows
};

// Subtracts `cut` from `region`; an empty cut changes nothing.
bool Subtract(HRGN region, const RECT& cut) {
    if (cut.right <= cut.left || cut.bottom <= cut.top) {
        return true;
    }
    win32::Region piece(CreateRectRgn(cut.left, cut.top, cut.right, cut.bottom));
    return piece && CombineRgn(region, region, piece.get(), RGN_DIFF) != ERROR;
}

// Arm length of the corner marks along a frame side of `side` pixels.
int CornerArmLength(int side) {
    if (side > 2 * kArm) {
        return kArm;
    }
    return side / 3 > 0 ? side / 3 : 1;
}

// The geometry for the area (x, y, width, height) and a label of
// textWidth x textHeight; false for negative sizes or a window that would
// not fit in screen coordinates.
bool ComputeFrameGeometry(int x, int y, int width, int height, int textWidth, int textHeight,
                          bool cornersOnly, FrameGeometry* out) {
    if (width < 0 || height < 0 || textWidth < 0 || textHeight < 0) {
        return false;
    }
    const std::int64_t left = std::int64_t{x} - 2;
    const std::int64_t top = std::int64_t{y} - textHeight - 2;
    const std::int64_t right = left + width + 3;
    const std::int64_t bottom = top + height + textHeight + 3;
    if (!InRange(left) || !InRange(top) || !InRange(right) || !InRange(bottom)) {
        return false;
    }
    // Window size and label height.
    const int w = width + 3;
    const int h = height + textHeight + 3;
    const int th = textHeight;
    FrameGeometry g;
    g.bounds = RECT{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                    static_cast<int>(bottom)};
    g.paint = RECT{0, th, w, h};
    g.labelCut = RECT{textWidth, 0, w, th};
    g.inside = RECT{1, th + 1, width + 2, height + th + 2};
    g.corners = cornersOnly;
    if (cornersOnly) {
        const int armX = CornerArmLength(w);
        const int armY = CornerArmLength(h - th);
        g.sidesCut = RECT{0, th + armY, w, h - armY};
        g.topsCut = RECT{armX, th, w - armX, h};
    }
    *out = g;
    return true;
}

}  // namespace

bool FrameShape::Init() {
    font_.reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
    return static_cast<bool>(font_);
}

SIZE FrameShape::TextSize(HWND wnd, const std::wstring& text) const {
    SIZE size{0, 0};
    win32::WindowDc dc(wnd);
    if (!dc) {
        return size;
    }
    win32::SelectGuard font(dc.get(), font_.get());
    TEXTMETRICW tm{};
    if (GetTextMetricsW(dc.get(), &tm)) {
        size.cy = tm.tmHeight;
    }
    SIZE extent{};
    if (!text.empty() &&
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent)) {
        size = extent;
    }
    return size;
}

bool FrameShape::SetFrame(HWND wnd, int x, int y, int width, int height, bool cornersOnly,
                          const std::wstring& caption) {
    if (wnd == nullptr) {
        return false;
    }
    const SIZE text = TextSize(wnd, caption);
    FrameGeometry g;
    if (!ComputeFrameGeometry(x, y, width, height, text.cx, text.cy, cornersOnly, &g)) {
        return false;
    }
    const int w = g.bounds.right - g.bounds.left;
    const int h = g.bounds.bottom - g.bounds.top;
    win32::Region region(CreateRectRgn(0, 0, w, h));
    if (!region || !Subtract(region.get(), g.labelCut) || !Subtract(region.get(), g.inside)) {
        return false;
    }
    if (g.corners && (!Subtract(region.get(), g.sidesCut) || !Subtract(region.get(), g.topsCut))) {
        return false;
    }
    caption_ = caption;
    FPaintLeft = g.paint.left;
    FPaintTop = g.paint.top;
    FPaintRight = g.paint.right;
    FPaintBottom = g.paint.bottom;
    SetWindowPos(wnd, nullptr, g.bounds.left, g.bounds.top, w, h,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    HRGN handed = region.get();
    if (SetWindowRgn(wnd, handed, TRUE) == 0) {
        return false;
    }
    // The window owns the region from here on.
    region.release();
    FFrameRegion = handed;
    return true;
}

void FrameShape::Paint(HDC dc) const {
    if (FPaintRight <= FPaintLeft || FPaintBottom <= FPaintTop) {
        return;
    }
    if (!caption_.empty()) {
        win32::SelectGuard font(dc, font_.get());
        SetTextColor(dc, kWhite);
        SetBkColor(dc, kRed);
        SetBkMode(dc, OPAQUE);
        SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        TextOutW(dc, 0, 0, caption_.c_str(), static_cast<int>(caption_.size()));
    }
    // The stock DC brush needs no object per paint.
    SetDCBrushColor(dc, kRed);
    const RECT fill = PaintRect();
    FillRect(dc, &fill, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

bool FrameShape::PaintFrame(HWND wnd, const std::wstring& caption) {
    caption_ = caption;
    win32::WindowDc dc(wnd);
    if (!dc) {
        return false;
    }
    Paint(dc.get());
    return true;
}

void FrameShape::PaintRequested(HWND wnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    if (dc != nullptr) {
        Paint(dc);
    }
    EndPaint(wnd, &ps);
}

}  // namespace kelvora
