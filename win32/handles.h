// Owners for Win32 handles: each releases its handle exactly once, on every
// path, with the call that matches how the handle was obtained.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace win32 {

// A handle with a release function; movable, not copyable. `InvalidBits`
// is the bit pattern of the empty handle: INVALID_HANDLE_VALUE is a cast, which
// C++ does not accept as a template argument of pointer type.
template <typename H, auto Release, std::intptr_t InvalidBits = 0>
class Owned {
    static H Invalid() { return reinterpret_cast<H>(InvalidBits); }

public:
    Owned() = default;
    explicit Owned(H h) : h_(h) {}
    Owned(Owned&& o) noexcept : h_(std::exchange(o.h_, Invalid())) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) {
            reset(std::exchange(o.h_, Invalid()));
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != Invalid(); }
    H release() { return std::exchange(h_, Invalid()); }
    void reset(H h = Invalid()) {
        if (h_ != Invalid()) {
            Release(h_);
        }
        h_ = h;
    }

private:
    H h_ = Invalid();
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void DeleteGdiObject(HGDIOBJ h) { DeleteObject(h); }
inline void DeleteMemoryDc(HDC h) { DeleteDC(h); }
inline void DestroyWnd(HWND h) { DestroyWindow(h); }
inline void FreeGlobal(HGLOBAL h) { GlobalFree(h); }
inline void DestroyIconHandle(HICON h) { DestroyIcon(h); }
inline void CloseFind(HANDLE h) { FindClose(h); }
}  // namespace detail

// CreateFile and friends (INVALID_HANDLE_VALUE when empty).
using File = Owned<HANDLE, detail::CloseKernelHandle, -1>;
// Events, threads, mutexes (null when empty).
using Handle = Owned<HANDLE, detail::CloseKernelHandle>;
using Bitmap = Owned<HBITMAP, detail::DeleteGdiObject>;
using Region = Owned<HRGN, detail::DeleteGdiObject>;
using Font = Owned<HFONT, detail::DeleteGdiObject>;
using Brush = Owned<HBRUSH, detail::DeleteGdiObject>;
using Pen = Owned<HPEN, detail::DeleteGdiObject>;
using Palette = Owned<HPALETTE, detail::DeleteGdiObject>;
// CreateCompatibleDC / CreateDC (DeleteDC).
using MemoryDc = Owned<HDC, detail::DeleteMemoryDc>;
using Window = Owned<HWND, detail::DestroyWnd>;
using Global = Owned<HGLOBAL, detail::FreeGlobal>;
using Icon = Owned<HICON, detail::DestroyIconHandle>;
// FindFirstFile (INVALID_HANDLE_VALUE when empty).
using FindHandle = Owned<HANDLE, detail::CloseFind, -1>;

// GetDC / GetWindowDC, released with ReleaseDC for the same window.
class WindowDc {
public:
    explicit WindowDc(HWND wnd, bool wholeWindow = false)
        : wnd_(wnd), dc_(wholeWindow ? GetWindowDC(wnd) : GetDC(wnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_ != nullptr) {
            ReleaseDC(wnd_, dc_);
        }
    }
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_;
    HDC dc_;
};

// Selects an object into a DC and selects the previous one back on exit.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (old_ != nullptr && old_ != HGDI_ERROR) {
            SelectObject(dc_, old_);
        }
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// GlobalLock for the lifetime of the guard.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h != nullptr ? GlobalLock(h) : nullptr) {}
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    ~GlobalLockGuard() {
        if (p_ != nullptr) {
            GlobalUnlock(h_);
        }
    }
    void* get() const { return p_; }

private:
    HGLOBAL h_;
    void* p_;
};

}  // namespace win32
