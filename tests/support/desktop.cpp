#include "tests/support/desktop.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include <algorithm>
#include <memory>

#include "tests/support/png_file.h"
#include "tests/support/test_paths.h"
#include "win32/handles.h"

namespace kelvora::test {

namespace {

// Dispatches messages until `done` or the timeout, waking at least every
// `pollMs` to ask `done` again; between messages the thread sleeps.
bool Pump(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs) {
    const DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        // A queue that never empties (a timer whose handler takes longer than
        // its period) must not hold the caller past its time.
        while (GetTickCount() - start < timeoutMs && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) {
            return true;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) {
            return done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(pollMs, timeoutMs - spent),
                                  QS_ALLINPUT);
    }
}

}  // namespace

void PumpFor(DWORD ms) {
    Pump([] { return false; }, ms, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    return Pump(done, timeoutMs, 5);
}

std::uint32_t ScreenPicture::At(int x, int y) const {
    const int w = area.right - area.left;
    return px[static_cast<size_t>(y - area.top) * w + (x - area.left)];
}

bool ScreenPicture::Save(const std::string& name) const {
    const int w = area.right - area.left, h = area.bottom - area.top;
    return SavePngBgrx(OutputPath(name), w, h, reinterpret_cast<const std::uint8_t*>(px.data()),
                       static_cast<std::ptrdiff_t>(w) * 4);
}

ScreenPicture GrabScreen(const RECT& area) {
    ScreenPicture pic;
    pic.area = area;
    const int w = area.right - area.left, h = area.bottom - area.top;
    pic.px.assign(static_cast<size_t>(w) * h, 0);
    win32::WindowDc screen(nullptr);
    win32::MemoryDc mem(CreateCompatibleDC(screen.get()));
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    win32::Bitmap bmp(CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen || !mem || !bmp) {
        return pic;
    }
    {
        win32::SelectGuard select(mem.get(), bmp.get());
        pic.ok = BitBlt(mem.get(), 0, 0, w, h, screen.get(), area.left, area.top, SRCCOPY) != FALSE;
        GdiFlush();
    }
    const auto* src = static_cast<const std::uint32_t*>(bits);
    for (size_t i = 0; i < pic.px.size(); ++i) {
        pic.px[i] = src[i] & 0xFFFFFF;
    }
    return pic;
}

ScreenPicture GrabWholeScreen() {
    return GrabScreen({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
}

ScreenPicture GrabUntil(const RECT& area, const std::function<bool(const ScreenPicture&)>& ok,
                        DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        ScreenPicture pic = GrabScreen(area);
        if ((pic.ok && ok(pic)) || GetTickCount() - start >= timeoutMs) {
            return pic;
        }
        PumpFor(20);
    }
}

bool MoveMouse(int x, int y) {
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    // Normalised coordinates: 0..65535 span the primary screen; aim at the
    // middle of the pixel.
    in.mi.dx = static_cast<LONG>((x * 65536LL + 32768) / sw);
    in.mi.dy = static_cast<LONG>((y * 65536LL + 32768) / sh);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return SendInput(1, &in, sizeof(in)) == 1;
}

bool MouseButton(DWORD flag) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flag;
    return SendInput(1, &in, sizeof(in)) == 1;
}

bool Key(WORD vk, bool down) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    return SendInput(1, &in, sizeof(in)) == 1;
}

namespace {
constexpr wchar_t kRunnerClass[] = L"KelvoraTestStepRunner";
constexpr wchar_t kColourClass[] = L"KelvoraTestColourWindow";

void RegisterOnce(const wchar_t* name, WNDPROC proc) {
    WNDCLASSW wc{};
    if (GetClassInfoW(GetModuleHandleW(nullptr), name, &wc)) {
        return;
    }
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassW(&wc);
}
}  // namespace

StepRunner::StepRunner(std::function<void()> onAbort) : onAbort_(std::move(onAbort)) {
    RegisterOnce(kRunnerClass, &StepRunner::Proc);
    wnd_ = CreateWindowExW(0, kRunnerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

StepRunner::~StepRunner() {
    if (wnd_ != nullptr) {
        KillTimer(wnd_, 1);
        DestroyWindow(wnd_);
    }
}

void StepRunner::Do(std::function<void()> action) {
    steps_.push_back({"action",
                      [action] {
                          action();
                          return true;
                      },
                      0});
}

void StepRunner::Until(std::string what, std::function<bool()> done, DWORD timeoutMs) {
    steps_.push_back({std::move(what), std::move(done), timeoutMs});
}

void StepRunner::Wait(DWORD ms) {
    auto start = std::make_shared<DWORD>(0);
    steps_.push_back({"wait",
                      [start, ms] {
                          if (*start == 0) {
                              *start = GetTickCount() | 1;
                          }
                          return GetTickCount() - *start >= ms;
                      },
                      ms + 5000});
}

void StepRunner::Start() {
    SetTimer(wnd_, 1, 15, nullptr);
}

LRESULT CALLBACK StepRunner::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<StepRunner*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (msg == WM_TIMER && self != nullptr) {
        self->Tick();
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

void StepRunner::Tick() {
    // A step may pump messages itself; never run two at once.
    if (inTick_ || aborted_) {
        return;
    }
    inTick_ = true;
    while (next_ < steps_.size()) {
        Step& step = steps_[next_];
        if (!stepStarted_) {
            stepStarted_ = true;
            stepStart_ = GetTickCount();
        }
        if (step.run()) {
            ++next_;
            stepStarted_ = false;
            // Let the input and paint messages of this step through before
            // the next one runs.
            break;
        }
        if (GetTickCount() - stepStart_ > step.timeoutMs) {
            ADD_FAILURE() << "step " << next_ << " timed out: " << step.what;
            aborted_ = true;
            KillTimer(wnd_, 1);
            if (onAbort_) {
                onAbort_();
            }
        }
        break;
    }
    if (Finished()) {
        KillTimer(wnd_, 1);
    }
    inTick_ = false;
}

std::vector<HWND> TrayIconWindows() {
    std::vector<HWND> found;
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    for (HWND w = tray != nullptr ? GetWindow(tray, GW_CHILD) : nullptr; w != nullptr;
         w = GetWindow(w, GW_HWNDNEXT)) {
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        if (lstrcmpW(cls, L"__winex11_tray_icon") == 0 && IsWindowVisible(w)) {
            found.push_back(w);
        }
    }
    return found;
}

long LiveGdiObjects() {
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0) {
        return static_cast<long>(reported);
    }
    // Wine keeps GetGuiResources as a stub but publishes its GDI handle
    // table in the PEB (GdiSharedHandleTable), 0x10000 entries of 24 bytes:
    // object (8), owner (4), unique (2), type (1), flags (1), user pointer (8).
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return -1;
    }
    using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (query == nullptr ||
        query(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof(info), nullptr) != 0) {
        return -1;
    }
    // The PEB's GdiSharedHandleTable: at offset 0x94 on i686, 0xF8 on x86_64.
    constexpr size_t kTableField = sizeof(void*) == 4 ? 0x94 : 0xF8;
    const auto* table = *reinterpret_cast<const std::uint8_t* const*>(
        reinterpret_cast<const std::uint8_t*>(info.PebBaseAddress) + kTableField);
    if (table == nullptr) {
        return -1;
    }
    constexpr size_t kEntries = 0x10000, kEntrySize = 24, kTypeOffset = 14;
    long used = 0;
    for (size_t i = 0; i < kEntries; ++i) {
        if (table[i * kEntrySize + kTypeOffset] != 0) {
            ++used;
        }
    }
    return used;
}

void ExpectGdiObjectsReturn(const std::function<void(int)>& cycle, int cycles) {
    const long start = LiveGdiObjects();
    // A leak test that cannot count proves nothing: fail rather than skip.
    ASSERT_GE(start, 0) << "no count of GDI objects on this platform";
    // The platform caches some objects on first use.
    for (int i = 0; i < 3 && !::testing::Test::HasFatalFailure(); ++i) {
        cycle(i);
    }
    PumpFor(50);
    const long warm = LiveGdiObjects();
    for (int i = 0; i < cycles && !::testing::Test::HasFatalFailure(); ++i) {
        cycle(i);
    }
    PumpFor(50);
    EXPECT_EQ(LiveGdiObjects(), warm) << "started at " << start;
}

ColourWindow::ColourWindow(const RECT& bounds, COLORREF colour, bool topmost) : colour_(colour) {
    RegisterOnce(kColourClass, &ColourWindow::Proc);
    wnd_ =
        CreateWindowExW(topmost ? WS_EX_TOPMOST : 0, kColourClass, L"colour", WS_POPUP, bounds.left,
                        bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr,
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(wnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(wnd_);
}

ColourWindow::~ColourWindow() {
    if (wnd_ != nullptr) {
        DestroyWindow(wnd_);
    }
}

void ColourWindow::SetColour(COLORREF colour) {
    colour_ = colour;
    InvalidateRect(wnd_, nullptr, TRUE);
    UpdateWindow(wnd_);
}

LRESULT CALLBACK ColourWindow::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<ColourWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (msg == WM_ERASEBKGND && self != nullptr) {
        RECT rc;
        GetClientRect(wnd, &rc);
        SetDCBrushColor(reinterpret_cast<HDC>(wp), self->colour_);
        FillRect(reinterpret_cast<HDC>(wp), &rc, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        return 1;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

}  // namespace kelvora::test
