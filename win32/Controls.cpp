#include "win32/Controls.h"

#include <commctrl.h>

#include "win32/handles.h"

namespace kelvora {

int SystemDpi() {
    win32::WindowDc screen(nullptr);
    if (!screen) {
        return 96;
    }
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

HFONT DialogFont() {
    // One font for the whole run: every form's controls share it, so that no
    // window has to outlive another's font.
    static const win32::Font font = [] {
        LOGFONTW lf{};
        lf.lfHeight = FontHeight(8, SystemDpi());
        lf.lfWeight = FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        lf.lfQuality = DEFAULT_QUALITY;
        lstrcpynW(lf.lfFaceName, L"Tahoma", LF_FACESIZE);
        return win32::Font(CreateFontIndirectW(&lf));
    }();
    return font.get() != nullptr ? font.get()
                                 : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HWND CreateControl(HWND parent, const ControlSpec& spec, int dpi) {
    // Track bars, up-downs, progress and status bars are registered by
    // comctl32 on request; once per process is enough.
    static const bool registered = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES |
                                                  ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS |
                                                  ICC_HOTKEY_CLASS};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    static_cast<void>(registered);
    const PixelRect r = ScaleRect(spec.bounds, dpi);
    HWND wnd = CreateWindowExW(spec.exStyle, spec.className, spec.caption, WS_CHILD | spec.style,
                               r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                               GetModuleHandleW(nullptr), nullptr);
    if (wnd != nullptr) {
        SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    }
    return wnd;
}

}  // namespace kelvora
