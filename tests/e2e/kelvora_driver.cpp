#include "tests/e2e/kelvora_driver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <commctrl.h>
#include <tlhelp32.h>

#include "shell/file_names.h"
#include "tests/engine/recording_pattern.h"
#include "tests/engine/recording_pattern_window.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {

namespace fs = std::filesystem;

namespace {

struct FindContext {
    DWORD pid;
    const wchar_t* cls;
    HWND skip;
    HWND found;
};

BOOL CALLBACK FindTopWindow(HWND w, LPARAM lp) {
    auto* c = reinterpret_cast<FindContext*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (pid == c->pid && w != c->skip && lstrcmpW(cls, c->cls) == 0 &&
        (c->skip == nullptr || IsWindowVisible(w))) {
        c->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindTop(DWORD pid, const wchar_t* cls, HWND skip) {
    FindContext c{pid, cls, skip, nullptr};
    EnumWindows(&FindTopWindow, reinterpret_cast<LPARAM>(&c));
    return c.found;
}

std::wstring TextOf(HWND w) {
    wchar_t text[512] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 3000,
                        &got);
    return text;
}

BOOL CALLBACK LongestStatic(HWND w, LPARAM lp) {
    auto* best = reinterpret_cast<std::wstring*>(lp);
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (lstrcmpiW(cls, L"Static") == 0) {
        std::wstring text = TextOf(w);
        if (text.size() > best->size()) {
            *best = text;
        }
    }
    return TRUE;
}

LocalTime ToLocal(const SYSTEMTIME& t) {
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

ULONGLONG Seconds(const SYSTEMTIME& t) {
    SYSTEMTIME whole = t;
    whole.wMilliseconds = 0;
    FILETIME f{};
    SystemTimeToFileTime(&whole, &f);
    return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 10000000ULL;
}

SYSTEMTIME FromSeconds(ULONGLONG s) {
    const ULONGLONG ticks = s * 10000000ULL;
    FILETIME f{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME t{};
    FileTimeToSystemTime(&f, &t);
    return t;
}

}  // namespace

bool WriteSettings(const fs::path& iniPath, const KelvoraSettings& s) {
    std::ofstream out(iniPath, std::ios::trunc);
    out << "[Options]\n";
    if (s.writeOutputDir) {
        out << "OutputDir=" << s.OutputDir << "\n";
    }
    out << "Format=" << s.Format << "\n"
        << "Compress=" << s.Compress << "\n";
    if (s.writeCodec) {
        out << "Codec=" << s.Codec << "\n";
    }
    out << "VideoCompress=" << s.VideoCompress << "\n";
    if (!s.RegionType.empty()) {
        out << "RegionType=" << s.RegionType << "\n";
    }
    return static_cast<bool>(out.flush());
}

std::string WindowsPath(const std::string& path) {
    return fs::absolute(fs::path(path)).make_preferred().string();
}

std::string VideoTempPath() {
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "~vstream.avi";
}

bool ShiftHotKeyHeld(UINT vk) {
    constexpr int kProbeId = 0xBF00;
    if (RegisterHotKey(nullptr, kProbeId, MOD_SHIFT, vk)) {
        UnregisterHotKey(nullptr, kProbeId);
        return false;
    }
    return true;
}

void PressShift(WORD vk) {
    Key(VK_SHIFT, true);
    Key(vk, true);
    Key(vk, false);
    Key(VK_SHIFT, false);
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool NamedByTimeBetween(const std::string& name, const std::string& extension,
                        const SYSTEMTIME& before, const SYSTEMTIME& after) {
    for (ULONGLONG s = Seconds(before); s <= Seconds(after); ++s) {
        if (name == TimeStamp(ToLocal(FromSeconds(s))) + extension) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> NamesByTime(const SYSTEMTIME& from, int seconds,
                                     const std::string& extension) {
    std::vector<std::string> names;
    for (int i = 0; i < seconds; ++i) {
        names.push_back(TimeStamp(ToLocal(FromSeconds(Seconds(from) + i))) + extension);
    }
    return names;
}

// ---- The process ----

KelvoraProcess::~KelvoraProcess() {
    Terminate();
}

bool KelvoraProcess::Start(const fs::path& exe, const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    folder_ = fs::absolute(folder);
    exe_ = folder / "Kelvora.exe";
    // A copy left by an earlier start in this folder stays: Wine may still
    // hold the file of a process that has just ended.
    if (!fs::exists(exe_) && !fs::copy_file(exe, exe_, ec)) {
        return false;
    }
    iconsBefore_ = TrayIconWindows().size();
    return StartAnother(&process_) && (pid_ = GetProcessId(process_.get())) != 0;
}

bool KelvoraProcess::StartAnother(win32::Handle* process) const {
    const std::wstring exe = fs::path(exe_).make_preferred().wstring();
    const std::wstring dir = fs::path(folder_).make_preferred().wstring();
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.c_str(), &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    process->reset(pi.hProcess);
    return true;
}

bool KelvoraProcess::WaitUp(DWORD timeoutMs, const char* shiftKeys) {
    // The hot keys are registered before the tray icon is added: probing
    // them earlier could take one from under the program's registration.
    return PollUntil(
               [&] {
                   if (!Running()) {
                       return true;
                   }
                   if (MainWindow() == nullptr || TrayIconWindows().size() <= iconsBefore_) {
                       return false;
                   }
                   for (const char* key = shiftKeys; *key != '\0'; ++key) {
                       if (!ShiftHotKeyHeld(static_cast<UINT>(*key))) {
                           return false;
                       }
                   }
                   return true;
               },
               timeoutMs) &&
           Running();
}

std::string KelvoraProcess::State() const {
    if (!process_) {
        return "Kelvora.exe was not started";
    }
    if (!Running()) {
        char code[64];
        std::snprintf(code, sizeof(code), "Kelvora.exe ended with exit code 0x%lX",
                      static_cast<unsigned long>(ExitCode()));
        return code;
    }
    std::string state = "Kelvora.exe runs; main window ";
    state += MainWindow() != nullptr ? "shown" : "missing";
    state += TrayIconWindows().size() > iconsBefore_ ? "; tray icon shown" : "; no tray icon";
    state += "; Shift hot keys held:";
    for (char key : std::string("RSX")) {
        if (ShiftHotKeyHeld(static_cast<UINT>(key))) {
            state += std::string(" ") + key;
        }
    }
    if (FindMessageBox() != nullptr) {
        state += "; a message box shows";
    }
    return state;
}

bool KelvoraProcess::WaitHandled(DWORD timeoutMs) const {
    return WaitWindowHandled(MainWindow(), timeoutMs);
}

bool KelvoraProcess::WaitExit(DWORD timeoutMs) {
    return PumpUntil([&] { return !Running(); }, timeoutMs);
}

bool KelvoraProcess::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD KelvoraProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.get(), &code);
    return code;
}

void KelvoraProcess::Terminate() {
    if (Running()) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 10000);
    }
}

HWND KelvoraProcess::MainWindow() const {
    return FindTop(pid_, L"TfrmMain", nullptr);
}

HWND KelvoraProcess::FindMessageBox() const {
    return TopWindowOfClass(L"#32770");
}

HWND KelvoraProcess::WaitMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    PumpUntil([&] { return (box = FindMessageBox()) != nullptr; }, timeoutMs);
    return box;
}

HWND KelvoraProcess::TopWindowOfClass(const wchar_t* cls) const {
    HWND main = MainWindow();
    return FindTop(pid_, cls, main != nullptr ? main : HWND_BROADCAST);
}

bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) {
            return true;
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) {
            return false;
        }
        PumpFor(std::min(pollMs, timeoutMs - spent));
    }
}

bool WaitWindowHandled(HWND window, DWORD timeoutMs) {
    // A sent message is taken at the thread's next look at its queue, before
    // posted and input messages: the first round trip comes back before
    // what was queued is handled, the next once the thread looks again,
    // after a handler has returned or entered a modal loop (a box). The third
    // lets one more queued message (a timer, a camera event) go first.
    if (window == nullptr) {
        return false;
    }
    const DWORD start = GetTickCount();
    for (int trip = 0; trip < 3; ++trip) {
        const DWORD spent = GetTickCount() - start;
        DWORD_PTR ignored = 0;
        if (spent >= timeoutMs ||
            !SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs - spent, &ignored)) {
            return false;
        }
    }
    return true;
}

bool WaitPainted(const RECT& area, DWORD timeoutMs) {
    std::vector<std::uint32_t> last;
    bool settled = false;
    GrabUntil(
        area,
        [&](const ScreenPicture& p) {
            settled = p.px == last && std::any_of(p.px.begin(), p.px.end(),
                                                  [&](std::uint32_t px) { return px != p.px[0]; });
            last = p.px;
            return settled;
        },
        timeoutMs);
    return settled;
}

bool PointAt(int x, int y) {
    MoveMouse(x, y);
    POINT at{};
    return PumpUntil([&] { return GetCursorPos(&at) && at.x == x && at.y == y; }, 2000);
}

BoxTexts ReadMessageBox(HWND box) {
    BoxTexts t;
    t.caption = TextOf(box);
    EnumChildWindows(box, &LongestStatic, reinterpret_cast<LPARAM>(&t.text));
    return t;
}

bool CloseMessageBox(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
}

// ---- The tray ----

namespace {

// The tooltip controls that may hold an icon's tip: a popup made with the
// icon window as its parent is owned by the icon's top-level window (Wine's
// tray), which holds one per icon.
struct TipSearch {
    HWND owners[2];
    std::vector<HWND> tooltips;
};

BOOL CALLBACK FindIconTooltips(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<TipSearch*>(lp);
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    const HWND owner = GetWindow(w, GW_OWNER);
    if (lstrcmpiW(cls, TOOLTIPS_CLASSW) == 0 && (owner == s->owners[0] || owner == s->owners[1])) {
        s->tooltips.push_back(w);
    }
    return TRUE;
}

// Memory in another process, released when it goes.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, size_t size)
        : process_(process),
          at_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteBlock() {
        if (at_ != nullptr) {
            VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
        }
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    char* get() const { return static_cast<char*>(at_); }

  private:
    HANDLE process_;
    void* at_;
};

BOOL CALLBACK FindBalloon(HWND w, LPARAM lp) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (lstrcmpiW(cls, TOOLTIPS_CLASSW) == 0 && IsWindowVisible(w) &&
        (GetWindowLongW(w, GWL_STYLE) & TTS_BALLOON) != 0) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

// The text that the tooltip control `tooltip` (of another process) has for
// a tool: the one Wine's tray adds for `icon` (the icon window itself), or,
// with a null `icon`, its first tool (TTM_ENUMTOOLSW). Empty when none.
std::wstring ToolText(HWND tooltip, HWND icon) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tooltip, &pid);
    win32::Handle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!process) {
        return {};
    }
    // The control copies the text into a buffer of the caller's process, so
    // the request and the buffer live in the tray's.
    constexpr size_t kChars = 1024;  // the control copies up to this many
    RemoteBlock block(process.get(), sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t));
    if (block.get() == nullptr) {
        return {};
    }
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = icon;
    ti.uId = reinterpret_cast<UINT_PTR>(icon);
    if (icon == nullptr) {
        DWORD_PTR found = 0;
        if (!WriteProcessMemory(process.get(), block.get(), &ti, sizeof(ti), nullptr) ||
            !SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(block.get()),
                                 SMTO_ABORTIFHUNG, 3000, &found) ||
            found == 0 ||
            !ReadProcessMemory(process.get(), block.get(), &ti, sizeof(ti), nullptr)) {
            return {};
        }
    }
    ti.lpszText = reinterpret_cast<wchar_t*>(block.get() + sizeof(ti));
    const wchar_t none[1] = {};
    if (!WriteProcessMemory(process.get(), block.get(), &ti, sizeof(ti), nullptr) ||
        !WriteProcessMemory(process.get(), ti.lpszText, none, sizeof(none), nullptr)) {
        return {};
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutW(tooltip, TTM_GETTEXTW, kChars, reinterpret_cast<LPARAM>(block.get()),
                        SMTO_ABORTIFHUNG, 3000, &result);
    std::vector<wchar_t> text(kChars + 1);
    if (!ReadProcessMemory(process.get(), ti.lpszText, text.data(), kChars * sizeof(wchar_t),
                           nullptr)) {
        return {};
    }
    return text.data();
}

}  // namespace

bool SaveBalloonPicture(HWND window, const char* png) {
    RECT r{};
    GetWindowRect(window, &r);
    InflateRect(&r, 40, 8);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&r, &r, &screen);
    if (!WaitPainted(r)) {
        return false;
    }
    GrabScreen(r).Save(png);
    return true;
}

std::wstring TrayBalloon(HWND* window) {
    HWND balloon = nullptr;
    EnumWindows(&FindBalloon, reinterpret_cast<LPARAM>(&balloon));
    if (window != nullptr) {
        *window = balloon;
    }
    return balloon != nullptr ? ToolText(balloon, nullptr) : std::wstring();
}

PausedThreads::PausedThreads(DWORD pid, const std::vector<DWORD>& keep) {
    win32::File snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != pid ||
            std::find(keep.begin(), keep.end(), entry.th32ThreadID) != keep.end()) {
            continue;
        }
        win32::Handle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (thread && SuspendThread(thread.get()) != static_cast<DWORD>(-1)) {
            paused_.push_back(std::move(thread));
        }
    }
}

PausedThreads::~PausedThreads() {
    Resume();
}

void PausedThreads::Resume() {
    for (win32::Handle& thread : paused_) {
        ResumeThread(thread.get());
    }
    paused_.clear();
}

std::vector<DWORD> ThreadsOf(DWORD pid) {
    std::vector<DWORD> threads;
    win32::File snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == pid) {
            threads.push_back(entry.th32ThreadID);
        }
    }
    return threads;
}

bool DropEndedTrayIcons(size_t keep, DWORD timeoutMs) {
    // Wine's tray drops the icon of a program that ended without deleting
    // it (a killed one) when it fails to pass that icon a mouse move.
    const bool dropped = PollUntil(
        [&] {
            const std::vector<HWND> icons = TrayIconWindows();
            if (icons.size() <= keep) {
                return true;
            }
            for (HWND icon : icons) {
                RECT r{};
                GetWindowRect(icon, &r);
                PointAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            }
            return false;
        },
        timeoutMs);
    MoveMouse(kAway.x, kAway.y);
    return dropped;
}

std::wstring TrayTip(HWND icon) {
    TipSearch search{{icon, GetAncestor(icon, GA_ROOT)}, {}};
    EnumWindows(&FindIconTooltips, reinterpret_cast<LPARAM>(&search));
    for (HWND tooltip : search.tooltips) {
        std::wstring tip = ToolText(tooltip, icon);
        if (!tip.empty()) {
            return tip;
        }
    }
    return {};
}

namespace {

BOOL CALLBACK FindShownMenu(HWND w, LPARAM lp) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (lstrcmpW(cls, L"#32768") == 0 && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

// The shown popup menu (hidden menu windows of earlier menus may linger).
HWND ShownMenu() {
    HWND popup = nullptr;
    EnumWindows(&FindShownMenu, reinterpret_cast<LPARAM>(&popup));
    return popup;
}

struct OtherMenu {
    HWND not_;
    HWND found;
};

BOOL CALLBACK FindOtherShownMenu(HWND w, LPARAM lp) {
    auto* m = reinterpret_cast<OtherMenu*>(lp);
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (w != m->not_ && lstrcmpW(cls, L"#32768") == 0 && IsWindowVisible(w)) {
        m->found = w;
        return FALSE;
    }
    return TRUE;
}

bool IsRed(std::uint32_t px) {
    return (px >> 16 & 0xFF) > 170 && (px >> 8 & 0xFF) < 110 && (px & 0xFF) < 110;
}

bool IsMenuBackground(std::uint32_t px) {  // white or a light grey
    return (px >> 16 & 0xFF) > 0xC0 && (px >> 8 & 0xFF) > 0xC0 && (px & 0xFF) > 0xC0;
}

bool IsStopGrey(std::uint32_t px) {  // 0x455A64
    const int r = px >> 16 & 0xFF, g = px >> 8 & 0xFF, b = px & 0xFF;
    return std::abs(r - 0x45) < 24 && std::abs(g - 0x5A) < 24 && std::abs(b - 0x64) < 24;
}

}  // namespace

bool TrayMenu::Open() {
    popup_ = nullptr;
    std::vector<HWND> icons;
    if (!PumpUntil([&] { return !(icons = TrayIconWindows()).empty(); }, 10000)) {
        return false;
    }
    RECT r{};
    GetWindowRect(icons.front(), &r);
    // A press that comes while the program is still busy with the previous
    // menu's command may open nothing: press again.
    bool shown = false;
    for (int attempt = 0; attempt < 3 && !shown; ++attempt) {
        PointAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        MouseButton(MOUSEEVENTF_RIGHTDOWN);
        shown = PumpUntil([&] { return (popup_ = ShownMenu()) != nullptr; }, 3000);
        // Released away from the menu, so that the release chooses nothing.
        MoveMouse(kAway.x, kAway.y);
        MouseButton(MOUSEEVENTF_RIGHTUP);
    }
    if (!shown) {
        GrabWholeScreen().Save("menu_not_shown.png");
        return false;
    }
    GetWindowRect(popup_, &rect_);
    return true;
}

char TrayMenu::FirstItem() const {
    // The first item's picture, at the left of its row, once the menu is
    // painted: until then the screen shows what was under the menu, which
    // may be Wine's tray with Kelvora's icon (a red dot while recording).
    // A painted menu is mostly its light background.
    const int itemH = (rect_.bottom - rect_.top) / kItemCount;
    int red = 0, grey = 0;
    GrabUntil(rect_, [&](const ScreenPicture& p) {
        const auto light = std::count_if(p.px.begin(), p.px.end(), IsMenuBackground);
        red = grey = 0;
        for (int y = rect_.top; y < rect_.top + itemH; ++y) {
            for (int x = rect_.left; x < rect_.left + 30; ++x) {
                red += IsRed(p.At(x, y)) ? 1 : 0;
                grey += IsStopGrey(p.At(x, y)) ? 1 : 0;
            }
        }
        return light * 10 >= static_cast<std::ptrdiff_t>(p.px.size()) * 7 &&
               (red >= 20 || grey >= 20);
    });
    return red >= 20 && grey < 20 ? 'r' : grey >= 20 && red < 20 ? 's' : '?';
}

bool TrayMenu::Choose(Item item) {
    const int itemH = (rect_.bottom - rect_.top) / kItemCount;
    PointAt((rect_.left + rect_.right) / 2, rect_.top + itemH * item + itemH / 2);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    MouseButton(MOUSEEVENTF_LEFTUP);
    const bool gone = PumpUntil([&] { return ShownMenu() == nullptr; }, 5000);
    if (!gone) {
        GrabWholeScreen().Save("menu_not_closed.png");
    }
    MoveMouse(kAway.x, kAway.y);
    return gone;
}

HWND TrayMenu::OpenSubmenu(Item item, int items) {
    const int itemH = (rect_.bottom - rect_.top) / kItemCount;
    MoveMouse((rect_.left + rect_.right) / 2, rect_.top + itemH * item + itemH / 2);
    OtherMenu m{popup_, nullptr};
    PumpUntil(
        [&] {
            m.found = nullptr;
            EnumWindows(&FindOtherShownMenu, reinterpret_cast<LPARAM>(&m));
            return m.found != nullptr;
        },
        5000);
    sub_ = m.found;
    subItems_ = items;
    if (sub_ != nullptr) {
        GetWindowRect(sub_, &subRect_);
    }
    return sub_;
}

bool TrayMenu::ChooseInSubmenu(int index) {
    const int itemH = (subRect_.bottom - subRect_.top) / subItems_;
    // Along the submenu's row first, so that the pointer does not cross
    // another item of the main menu and close the submenu.
    const int y = subRect_.top + itemH * index + itemH / 2;
    PointAt(subRect_.left + 10, subRect_.top + itemH / 2);
    PointAt((subRect_.left + subRect_.right) / 2, y);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    MouseButton(MOUSEEVENTF_LEFTUP);
    const bool gone = PumpUntil([&] { return ShownMenu() == nullptr; }, 5000);
    if (!gone) {
        GrabWholeScreen().Save("submenu_not_closed.png");
    }
    MoveMouse(kAway.x, kAway.y);
    return gone;
}

void TrayMenu::Dismiss() {
    // Esc closes one level: an open submenu first.
    for (int level = 0; level < 2 && ShownMenu() != nullptr; ++level) {
        Key(VK_ESCAPE, true);
        Key(VK_ESCAPE, false);
        PumpUntil([&] { return ShownMenu() == nullptr; },
                  sub_ != nullptr && level == 0 ? 500 : 3000);
    }
    MoveMouse(kAway.x, kAway.y);
}

// ---- Another program's window ----

EditWindow::EditWindow() {
    frame_.reset(CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"editor",
                                 WS_POPUP | WS_BORDER | WS_VISIBLE, 700, 150, 300, 60, nullptr,
                                 nullptr, nullptr, nullptr));
    edit_.reset(CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 4, 4, 290, 24, frame_.get(),
                                nullptr, nullptr, nullptr));
}

void EditWindow::Focus() {
    SetForegroundWindow(frame_.get());
    SetFocus(edit_.get());
    PumpUntil([&] { return HasKeyboard(); }, 3000);
}

std::wstring EditWindow::Text() const {
    wchar_t text[64] = {};
    GetWindowTextW(edit_.get(), text, 64);
    return text;
}

bool EditWindow::HasKeyboard() const {
    return GetForegroundWindow() == frame_.get() && GetFocus() == edit_.get();
}

// ---- The fixture ----

namespace rp = recording_pattern;

std::thread KelvoraE2e::pattern_;
DWORD KelvoraE2e::patternThread_ = 0;

size_t KelvoraE2e::otherIcons_ = 0;

void KelvoraE2e::SetUpTestSuite() {
    otherIcons_ = TrayIconWindows().size();
    // Notes of an earlier run would name files this run replaces.
    for (const std::string& f : FilesIn(OutputDir())) {
        if (fs::path(f).extension() == ".txt") {
            fs::remove(fs::path(OutputDir()) / f);
        }
    }
    // The pattern runs on a thread of its own, so that it keeps moving
    // while this thread waits (a process start, a message box's text).
    std::atomic<bool> shown{false};
    pattern_ = std::thread([&shown] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = rp::PatternProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoraE2ePattern";
        RegisterClassW(&wc);
        rp::PatternStart = GetTickCount();
        win32::Window wnd(CreateWindowExW(
            WS_EX_TOPMOST | WS_EX_NOACTIVATE, wc.lpszClassName, L"pattern", WS_POPUP, kPatternLeft,
            kPatternTop, rp::kWidth, rp::kHeight, nullptr, nullptr, wc.hInstance, nullptr));
        ShowWindow(wnd.get(), SW_SHOWNOACTIVATE);
        SetTimer(wnd.get(), 1, 10, nullptr);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue for WM_QUIT
        patternThread_ = GetCurrentThreadId();
        shown = true;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return shown.load(); }, 10000)) << "no pattern window";
    // On the screen: its still band where the host check looks for it.
    const RECT band{kPatternLeft, kPatternTop + rp::kBandTop, kPatternLeft + rp::kWidth,
                    kPatternTop + rp::kHeight};
    ASSERT_TRUE(GrabUntil(band,
                          [](const ScreenPicture& p) {
                              return std::all_of(p.px.begin(), p.px.end(),
                                                 [](std::uint32_t px) { return px == rp::kBand; });
                          })
                    .ok)
        << "the pattern does not show";
}

void KelvoraE2e::TearDownTestSuite() {
    PostThreadMessageW(patternThread_, WM_QUIT, 0, 0);
    pattern_.join();
}

void KelvoraE2e::SetUp() {
    MoveMouse(kAway.x, kAway.y);  // the cursor is drawn into recordings: away from the pattern
    ASSERT_EQ(FindWindowW(L"TfrmMain", nullptr), nullptr) << "a Kelvora.exe is still running";
    ASSERT_FALSE(ShiftHotKeyHeld('R'));
    // A case that failed while recording leaves it; the next start would
    // recover it into this case's folder.
    std::error_code ec;
    fs::remove(VideoTempPath(), ec);
}

void KelvoraE2e::TearDown() {
    if (kelvora_) {
        kelvora_->Terminate();
    }
}

void KelvoraE2e::Prepare(const std::string& name) {
    case_ = fs::path(OutputDir()) / name;
    std::error_code ec;
    fs::remove_all(case_, ec);
    fs::create_directories(case_ / "out");
    settings_.OutputDir = WindowsPath((case_ / "out").string()) + "\\";
}

void KelvoraE2e::WriteIni() {
    fs::create_directories(case_ / "app");
    ASSERT_TRUE(WriteSettings(Ini(), settings_));
}

void KelvoraE2e::StartProgram(const fs::path& folder) {
    // The icon of a program killed before would pass for this one's.
    ASSERT_TRUE(DropEndedTrayIcons(otherIcons_)) << "Wine's tray keeps an ended program's icon";
    trayIcons_ = TrayIconWindows().size();
    kelvora_ = std::make_unique<KelvoraProcess>();
    ASSERT_TRUE(kelvora_->Start(fs::current_path() / "shell" / "Kelvora.exe",
                                folder.empty() ? fs::path(AppFolder()) : folder))
        << "Kelvora.exe did not start";
}

void KelvoraE2e::Launch(bool writeIni) {
    if (writeIni) {
        WriteIni();
    }
    StartProgram();
    ASSERT_TRUE(kelvora_->WaitUp()) << "Kelvora.exe did not come up: " << kelvora_->State();
}

void KelvoraE2e::ExpectBox(const wchar_t* caption, const wchar_t* text) {
    HWND box = kelvora_->WaitMessageBox();
    ASSERT_NE(box, nullptr) << "no message box";
    const BoxTexts t = ReadMessageBox(box);
    EXPECT_EQ(t.caption, caption);
    EXPECT_EQ(t.text, text);
    EXPECT_TRUE(CloseMessageBox(box));
}

void KelvoraE2e::ExpectNothingHappens(const std::vector<std::string>& files) {
    EXPECT_TRUE(kelvora_->WaitHandled()) << "Kelvora.exe did not answer";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    EXPECT_EQ(FilesIn(OutFolder()), files);
    EXPECT_TRUE(kelvora_->Running());
}

char KelvoraE2e::MenuFirstItem() {
    TrayMenu menu;
    if (!menu.Open()) {
        ADD_FAILURE() << "the tray menu did not open";
        return '?';
    }
    const char first = menu.FirstItem();
    menu.Dismiss();
    return first;
}

bool KelvoraE2e::WaitRecordingStarted(DWORD* startedAt) {
    const bool started = PumpUntil([] { return fs::exists(VideoTempPath()); }, 20000);
    *startedAt = GetTickCount();
    return started;
}

bool KelvoraE2e::StartRecordingWithHotKey(DWORD* startedAt, SYSTEMTIME* pressed, SYSTEMTIME* seen) {
    SYSTEMTIME ignored{};
    GetLocalTime(pressed != nullptr ? pressed : &ignored);
    PressShift('R');
    const bool started = WaitRecordingStarted(startedAt);
    GetLocalTime(seen != nullptr ? seen : &ignored);
    return started;
}

std::unique_ptr<PausedThreads> KelvoraE2e::HoldTheSave(const std::vector<DWORD>& idleThreads) {
    if (!PumpUntil([] { return KelvoraTip().rfind(L"Kelvora \u2014 сохранение ", 0) == 0; },
                   60000)) {
        ADD_FAILURE() << "no save in progress";
        return nullptr;
    }
    auto save = std::make_unique<PausedThreads>(kelvora_->Pid(), idleThreads);
    if (save->count() == 0) {
        ADD_FAILURE() << "no thread of the save was paused";
        return nullptr;
    }
    return save;
}

void KelvoraE2e::KeepRecording(DWORD started, DWORD ms) {
    // The recording's length is the time itself: nothing else to wait for.
    PumpFor(ms - std::min<DWORD>(ms, GetTickCount() - started));
}

bool KelvoraE2e::WaitSaved(size_t count, DWORD timeoutMs) {
    // The worker's end reaches the program's UI thread a moment after the
    // files are in place; a start before that would be refused by the
    // camera. The tip turns back to "Kelvora" once the UI thread knows.
    return PollUntil(
        [&] {
            return !fs::exists(VideoTempPath()) && Avis().size() == count &&
                   KelvoraTip() == L"Kelvora";
        },
        timeoutMs);
}

std::vector<std::string> KelvoraE2e::Avis() const {
    std::vector<std::string> avis;
    for (const std::string& f : FilesIn(OutFolder())) {
        if (fs::path(f).extension() == ".avi") {
            avis.push_back(f);
        }
    }
    return avis;
}

void KelvoraE2e::Note(const std::string& tag, const std::string& file, const std::string& kind,
                      DWORD ms, const RECT& area, const std::string& folder) {
    const bool whole = area.right == 0;
    std::ofstream note(OutputPath(tag + ".txt"));
    note << "kind " << kind << "\n"
         << "file " << (fs::path(case_.filename()) / folder / file).generic_string() << "\n"
         << "ms " << ms << "\n"
         << "left " << (whole ? kPatternLeft : kPatternLeft - area.left) << "\n"
         << "top " << (whole ? kPatternTop : kPatternTop - area.top) << "\n";
    if (!whole) {
        note << "width " << area.right - area.left << "\n"
             << "height " << area.bottom - area.top << "\n";
    }
}

std::string KelvoraE2e::IniValue(const char* key) const {
    char text[MAX_PATH] = {};  // OutputDir is a whole path
    GetPrivateProfileStringA("Options", key, "", text, sizeof text, Ini().c_str());
    return text;
}

std::wstring KelvoraE2e::KelvoraTip() {
    for (HWND icon : TrayIconWindows()) {
        const std::wstring tip = TrayTip(icon);
        if (tip.rfind(L"Kelvora", 0) == 0) {
            return tip;
        }
    }
    return {};
}

std::string KelvoraE2e::RecordWithHotKeys(const std::string& tag, DWORD ms,
                                          const std::function<void()>& during) {
    const std::vector<std::string> before = Avis();
    SYSTEMTIME pressed{}, seen{};
    DWORD started = 0;
    EXPECT_TRUE(StartRecordingWithHotKey(&started, &pressed, &seen))
        << tag << ": no recording started";
    if (during) {
        during();
    }
    KeepRecording(started, ms);
    PressShift('S');
    const DWORD recorded = GetTickCount() - started;
    EXPECT_TRUE(WaitSaved(before.size() + 1)) << tag << ": the recording was not saved";
    std::string made;
    for (const std::string& f : Avis()) {
        if (std::find(before.begin(), before.end(), f) == before.end()) {
            made = f;
        }
    }
    if (made.empty()) {
        ADD_FAILURE() << tag << ": no new recording";
        return made;
    }
    EXPECT_TRUE(NamedByTimeBetween(made, ".avi", pressed, seen)) << made;
    Note(tag, made, "recording", recorded);
    return made;
}

void KelvoraE2e::ExpectExitLeavesNothing() {
    EXPECT_TRUE(kelvora_->WaitExit(120000)) << "Kelvora.exe did not end";
    EXPECT_EQ(kelvora_->ExitCode(), 0u);
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    EXPECT_FALSE(ShiftHotKeyHeld('R'));
    EXPECT_FALSE(ShiftHotKeyHeld('S'));
    EXPECT_FALSE(ShiftHotKeyHeld('X'));
    // Wine's tray lives in another process and keeps an icon that was
    // never deleted.
    EXPECT_TRUE(PumpUntil([&] { return TrayIconWindows().size() == trayIcons_; }, 5000))
        << "the tray icon was left behind";
}

HWND KelvoraE2e::WaitSelection() {
    HWND w = nullptr;
    PumpUntil([&] { return (w = kelvora_->TopWindowOfClass(L"KelvoraFreeHandWindow")) != nullptr; },
              10000);
    return w;
}

}  // namespace kelvora::test
