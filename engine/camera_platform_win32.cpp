// The camera's platform on Windows: timeGetTime, GDI, kernel32 files, message
// boxes, and a message-only window that carries work to the UI thread.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "engine/camera_platform.h"
#include "engine/camera_windows_win32.h"
#include "engine/frame_grabber_win32.h"
#include "engine/screen_camera.h"
#include "engine/tbitmap_win32.h"
#include "engine/vfw/codecs/codec_dialogs_win32.h"
#include "engine/winmm_time_win32.h"
#include "win32/handles.h"
#include "win32/text.h"

namespace {

using win32::Narrow;
using win32::Widen;

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

// The kind of an open file. One the system cannot tell about counts as
// Linked: it is then removed, never written.
CameraPlatform::FileKind KindOfOpen(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return CameraPlatform::FileKind::Linked;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return CameraPlatform::FileKind::Directory;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) {
        return CameraPlatform::FileKind::Linked;
    }
    return CameraPlatform::FileKind::Plain;
}

constexpr UINT kRunPosted = WM_APP + 1;

struct Posted {
    TScreenCamera* camera;
    std::function<void()> work;
};

class WindowsCameraPlatform : public CameraPlatform {
  public:
    std::uint32_t TimeMs() override { return WinmmTimeMs(); }
    void WaitMs(std::uint32_t ms) override { WinmmSleepMs(ms); }

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
    std::unique_ptr<FramePool> CreateFramePool(TScreenCamera& camera, std::int32_t width,
                                               std::int32_t height) override {
        return CreateGdiFramePool(camera, width, height);
    }

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
    FileKind KindOf(const std::string& name) override {
        const DWORD attributes = GetFileAttributesA(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return FileKind::Missing;
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return FileKind::Directory;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return FileKind::Linked;
        }
        // The number of names needs the file itself; reading its attributes
        // disturbs no other user of it.
        win32::File f(CreateFileA(name.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        // Not openable even so (another program's exclusive hold): the
        // exclusive open that would write it fails as well.
        return f ? KindOfOpen(f.get()) : FileKind::Plain;
    }
    std::unique_ptr<File> OpenExclusive(const std::string& name) override {
        // The link itself, never what it leads to; and the kind is checked
        // on the handle, so a name swapped since KindOf is not written.
        win32::File f(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!f || KindOfOpen(f.get()) != FileKind::Plain) {
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
        // Write-through: a move to another volume is a copy, and the source
        // is deleted only once the copy is on the disk.
        return MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
    }
    std::string FileNameForDisplay(const std::string& name) override {
        return Narrow(Widen(name, CP_ACP), CP_UTF8);
    }
    bool FileNameFromUtf8(const std::string& text, std::string* name) override {
        const std::optional<std::string> spelled = win32::ToCodePage(Widen(text, CP_UTF8));
        if (spelled) {
            *name = *spelled;
        }
        return spelled.has_value();
    }

    bool AskYesNo(void* owner, const std::string& text, const std::string& caption,
                  const std::atomic<bool>& cancel) override {
        const std::wstring wText = Widen(text, CP_UTF8), wCaption = Widen(caption, CP_UTF8);
        if (OnUiThread()) {
            return ShowQuestion(static_cast<HWND>(owner), wText, wCaption, nullptr);
        }
        // A box owned by a window of the UI thread, shown from another
        // thread, makes the system call into the UI thread synchronously;
        // the box is shown there instead, and this thread waits.
        auto question = std::make_shared<Question>(wCaption);
        PostWork(nullptr, [question, owner, wText, wCaption] {
            if (!question->Done()) {
                question->Answer(
                    ShowQuestion(static_cast<HWND>(owner), wText, wCaption, question.get()));
            }
        });
        while (!question->WaitDone(50)) {
            if (cancel) {
                question->Cancel();
            }
        }
        return question->Yes();
    }
    void RestoreApplication(void* owner) override {
        HWND main = static_cast<HWND>(owner);
        if (main != nullptr && IsIconic(main)) {
            // Asynchronous: the caller may be the worker while the UI
            // thread waits for it.
            ShowWindowAsync(main, SW_RESTORE);
        }
    }
    void SetBusyCursor(bool busy) override {
        RunOnUiThread([this, busy] {
            if (busy) {
                if (busyDepth_++ == 0) {
                    cursorBeforeBusy_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                }
            } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
                SetCursor(cursorBeforeBusy_);
            }
        });
    }
    void WaitServingUi(const std::function<bool()>& done) override {
        while (!done()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
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
        if (camera != nullptr) {
            PostWork(camera, std::move(work));
        }
    }
    void ForgetCamera(TScreenCamera* camera) override {
        std::lock_guard<std::mutex> lock(mutex_);
        live_.erase(camera);
    }

    bool OnUiThread() override {
        return window_ && GetWindowThreadProcessId(window_.get(), nullptr) == GetCurrentThreadId();
    }
    std::unique_ptr<CameraWindows> CreateCameraWindows(TScreenCamera& camera) override {
        return CreateWinCameraWindows(camera, camera.FOwnerForm);
    }

    void* CurrentThreadHandle() override {
        HANDLE h = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        return h;
    }
    void CloseThreadHandle(void* handle) override { CloseHandle(static_cast<HANDLE>(handle)); }
    void SetThreadPriority(void* handle, int priority) override {
        ::SetThreadPriority(static_cast<HANDLE>(handle), priority);
    }

    static WindowsCameraPlatform& Instance();

  private:
    // A question asked from a worker and answered on the UI thread.
    class Question {
      public:
        explicit Question(std::wstring caption) : caption_(std::move(caption)) {}
        bool Done() {
            std::lock_guard<std::mutex> lock(mutex_);
            return done_;
        }
        bool Yes() {
            std::lock_guard<std::mutex> lock(mutex_);
            return yes_;
        }
        void Answer(bool yes) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!done_) {
                done_ = true;
                yes_ = yes;
            }
            changed_.notify_all();
        }
        // No, and the box closes if it is showing.
        void Cancel() {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            yes_ = false;
            if (box_ != nullptr) {
                PostMessageW(box_, WM_COMMAND, IDNO, 0);
            }
            changed_.notify_all();
        }
        // A window activated while the box shows: taken when it is the box
        // itself (the first dialog with the question's caption). Others,
        // the options dialog say, must never receive the box's No.
        void Activated(HWND window) {
            wchar_t cls[8] = {};
            GetClassNameW(window, cls, 8);
            if (lstrcmpW(cls, L"#32770") != 0) {
                return;
            }
            std::wstring text(caption_.size() + 2, L'\0');
            text.resize(static_cast<size_t>(
                GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
            std::lock_guard<std::mutex> lock(mutex_);
            if (box_ != nullptr || text != caption_) {
                return;
            }
            box_ = window;
            if (done_) {
                PostMessageW(box_, WM_COMMAND, IDNO, 0);
            }
        }
        bool WaitDone(int ms) {
            std::unique_lock<std::mutex> lock(mutex_);
            return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; });
        }

      private:
        std::mutex mutex_;
        std::condition_variable changed_;
        const std::wstring caption_;
        bool done_ = false;
        bool yes_ = false;
        HWND box_ = nullptr;
    };

    // The question box; `question` (may be null) learns the box's window,
    // through a hook on this thread, so that a cancel can close it.
    static bool ShowQuestion(HWND owner, const std::wstring& text, const std::wstring& caption,
                             Question* question) {
        Question* const outer = std::exchange(asking_, question);
        HHOOK hook = question == nullptr
                         ? nullptr
                         : SetWindowsHookExW(WH_CBT, &WindowsCameraPlatform::QuestionHook, nullptr,
                                             GetCurrentThreadId());
        const int r = MessageBoxW(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING);
        if (hook != nullptr) {
            UnhookWindowsHookEx(hook);
        }
        asking_ = outer;
        return r == IDYES;
    }
    static LRESULT CALLBACK QuestionHook(int code, WPARAM wp, LPARAM lp) {
        if (code == HCBT_ACTIVATE && asking_ != nullptr) {
            asking_->Activated(reinterpret_cast<HWND>(wp));
        }
        return CallNextHookEx(nullptr, code, wp, lp);
    }
    // The question whose box this thread is showing.
    static thread_local Question* asking_;

    // Work for the UI thread: for `camera` (dropped once it is gone), or
    // for nobody in particular (null: always runs).
    void PostWork(TScreenCamera* camera, std::function<void()> work) {
        auto* posted = new Posted{camera, std::move(work)};
        if (!window_ ||
            !PostMessageW(window_.get(), kRunPosted, 0, reinterpret_cast<LPARAM>(posted))) {
            delete posted;
        }
    }
    void RunOnUiThread(std::function<void()> work) {
        if (!window_ || OnUiThread()) {
            work();
        } else {
            PostWork(nullptr, std::move(work));
        }
    }

    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == kRunPosted) {
            std::unique_ptr<Posted> posted(reinterpret_cast<Posted*>(lp));
            if (posted->camera == nullptr || Instance().IsLive(posted->camera)) {
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
    // UI thread only.
    int busyDepth_ = 0;
    HCURSOR cursorBeforeBusy_ = nullptr;
};

thread_local WindowsCameraPlatform::Question* WindowsCameraPlatform::asking_ = nullptr;

WindowsCameraPlatform& WindowsCameraPlatform::Instance() {
    static WindowsCameraPlatform platform;
    return platform;
}

}  // namespace

CameraPlatform& WindowsPlatform() {
    return WindowsCameraPlatform::Instance();
}
