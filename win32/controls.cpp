#include "win32/controls.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "win32/handles.h"

namespace kelvora {

namespace {
int dpiForTesting = 0;
}  // namespace

void SetDpiForTesting(int dpi) {
    dpiForTesting = dpi > 0 ? dpi : 0;
}

int SystemDpi() {
    if (dpiForTesting != 0) {
        return dpiForTesting;
    }
    win32::WindowDc screen(nullptr);
    if (!screen) {
        return 96;
    }
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

HFONT DialogFont() {
    // Kept for the whole run: every form's controls share it, so that no
    // window has to outlive another's font. Only a test's DPI override asks
    // for a second size.
    static std::vector<std::pair<int, win32::Font>> fonts;
    const int dpi = SystemDpi();
    for (const auto& f : fonts) {
        if (f.first == dpi) {
            return f.second.get() != nullptr ? f.second.get()
                                             : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        }
    }
    LOGFONTW lf{};
    lf.lfHeight = FontHeight(8, dpi);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, L"Tahoma", LF_FACESIZE);
    fonts.emplace_back(dpi, win32::Font(CreateFontIndirectW(&lf)));
    return fonts.back().second.get() != nullptr
               ? fonts.back().second.get()
               : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HWND CreateControl(HWND parent, const ControlSpec& entry, int dpi) {
    // Track bars, up-downs, progress and status bars are registered by
    // comctl32 on request; once per process is enough.
    static const bool registered = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES |
                                                  ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS |
                                                  ICC_HOTKEY_CLASS};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    static_cast<void>(registered);
    const PixelRect r = ScaleRect(entry.bounds, dpi);
    HWND wnd = CreateWindowExW(entry.exStyle, entry.className, entry.caption, WS_CHILD | entry.style,
                               r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)),
                               GetModuleHandleW(nullptr), nullptr);
    if (wnd != nullptr) {
        SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    }
    return wnd;
}

}  // namespace kelvora
