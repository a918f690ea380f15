// The camera's platform on Windows: timeGetTime, GDI, kernel32 files, message
// boxes, and a message-only window that carries work to the UI thread.
#include <windows.h>
#include <timeapi.h>

#include <mutex>
#include <set>
#include <string>

#include "engine/camera_platform.h"
#include "engine/frame_grabber_win32.h"
#include "engine/screen_camera.h"
#include "engine/tbitmap_win32.h"
#include "engine/vfw/codecs/codec_dialogs_win32.h"
#include "win32/handles.h"

namespace {

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

class WinFile : public CameraPlatform::File {
public:
    explicit WinFile(win32::File file) : file_(std::move(file)) {}
    bool Size(std::uint64_t* size) override {
        LARGE_INTEGER li{};
        if (!GetFileSizeEx(file_.get(), &li)) {
            return false;
        }
        *size = static_cast<std::uint64_t>(li.QuadPart);
        return true;
    }
    bool SeekStart() override {
        LARGE_INTEGER zero{};
        return SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN) != 0;
    }
    bool Write(const void* data, std::uint32_t size) override {
        DWORD written = 0;
        return WriteFile(file_.get(), data, size, &written, nullptr) && written == size;
    }
    bool Flush() override { return FlushFileBuffers(file_.get()) != 0; }

private:
    win32::File file_;
};

constexpr UINT kRunPosted = WM_APP + 1;

struct Posted {
    TScreenCamera* camera;
    std::function<void()> work;
};

class WindowsCameraPlatform : public CameraPlatform {
public:
    std::uint32_t TimeMs() override { return timeGetTime(); }

    void ScreenSize(std::int32_t* width, std::int32_t* height) override {
        win32::WindowDc dc(GetDesktopWindow(), true);
        *width = dc ? GetDeviceCaps(dc.get(), HORZRES) : 0;
        *height = dc ? GetDeviceCaps(dc.get(), VERTRES) : 0;
    }

    void CursorPos(std::int32_t* x, std::int32_t* y) override {
        POINT p{};
        GetCursorPos(&p);
        *x = p.x;
        *y = p.y;
    }

    vfw::BITMAPINFOHEADER* GrabFrame(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                     std::int32_t width, std::int32_t height,
                                     std::int32_t filter) override {
        return GdiGrabFrame(camera, left, top, width, height, filter);
    }
    void FreeFrame(vfw::BITMAPINFOHEADER* frame) override { GdiFreeFrame(frame); }

    TBitmap* CreateFrameBitmap() override { return new TBitmap(); }
    void DestroyFrameBitmap(TBitmap* bitmap) override { delete bitmap; }
    void SetFrameBitmapDepth(TBitmap* bitmap, int bitCount) override {
        bitmap->SetPixelFormat(bitCount);
    }
    TBitmap* GrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                          std::int32_t width, std::int32_t height, std::int32_t filter) override {
        return GdiGrabToBitmap(camera, left, top, width, height, filter);
    }

    std::string TempDirectory() override {
        char buf[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathA(MAX_PATH, buf);
        return n > 0 && n <= MAX_PATH ? std::string(buf, n) : std::string();
    }
    bool FileExists(const std::string& name) override {
        return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    std::unique_ptr<File> OpenExclusive(const std::string& name) override {
        win32::File f(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) {
            return nullptr;
        }
        return std::make_unique<WinFile>(std::move(f));
    }
    bool RemoveFile(const std::string& name) override { return DeleteFileA(name.c_str()) != 0; }
    bool DeleteAtRestart(const std::string& name) override {
        return MoveFileExA(name.c_str(), nullptr,
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    }
    bool RenameFile(const std::string& from, const std::string& to) override {
        return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED) != 0;
    }
    std::string FileNameForDisplay(const std::string& name) override {
        return Narrow(Widen(name, CP_ACP), CP_UTF8);
    }

    bool AskYesNo(void* owner, const std::string& text, const std::string& caption) override {
        return MessageBoxW(static_cast<HWND>(owner), Widen(text, CP_UTF8).c_str(),
                           Widen(caption, CP_UTF8).c_str(),
                           MB_YESNO | MB_ICONWARNING) == IDYES;
    }
    void RestoreApplication(void* owner) override {
        HWND main = static_cast<HWND>(owner);
        if (main != nullptr && IsIconic(main)) {
            ShowWindow(main, SW_RESTORE);
        }
    }
    void SetBusyCursor(bool busy) override {
        SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
    }

    void RegisterCamera(TScreenCamera* camera) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!window_) {
            vfw::InstallCodecDialogs();
            WNDCLASSW wc{};
            wc.lpfnWndProc = &WindowsCameraPlatform::WndProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KelvoraCameraWork";
            RegisterClassW(&wc);
            window_.reset(CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr));
        }
        live_.insert(camera);
    }
    void PostToUiThread(TScreenCamera* camera, std::function<void()> work) override {
        auto* posted = new Posted{camera, std::move(work)};
        if (!window_ || !PostMessageW(window_.get(), kRunPosted, 0, reinterpret_cast<LPARAM>(posted))) {
            delete posted;
        }
    }
    void ForgetCamera(TScreenCamera* camera) override {
        std::lock_guard<std::mutex> lock(mutex_);
        live_.erase(camera);
    }

    void* CurrentThreadHandle() override {
        HANDLE h = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        return h;
    }
    void CloseThreadHandle(void* handle) override { CloseHandle(static_cast<HANDLE>(handle)); }
    void SetThreadPriority(void* handle, int priority) override {
        ::SetThreadPriority(static_cast<HANDLE>(handle), priority);
    }

    static WindowsCameraPlatform& Instance();

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == kRunPosted) {
            std::unique_ptr<Posted> posted(reinterpret_cast<Posted*>(lp));
            if (Instance().IsLive(posted->camera)) {
                posted->work();
            }
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    bool IsLive(TScreenCamera* camera) {
        std::lock_guard<std::mutex> lock(mutex_);
        return live_.count(camera) != 0;
    }

    std::mutex mutex_;
    win32::Window window_;
    std::set<TScreenCamera*> live_;
};

WindowsCameraPlatform& WindowsCameraPlatform::Instance() {
    static WindowsCameraPlatform platform;
    return platform;
}

}  // namespace

CameraPlatform& WindowsPlatform() { return WindowsCameraPlatform::Instance(); }
