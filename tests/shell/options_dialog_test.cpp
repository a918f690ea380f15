// The options dialog under Wine, driven as a user drives it: keys and clicks
// through SendInput, the message loop passing them through IsDialogMessageW
// as Kelvora's does, the real codec catalogue with its dialogs, the system's
// folder chooser, "Settings.ini" and the autorun value.
#include "shell/options_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/screen_camera.h"
#include "shell/autorun.h"
#include "shell/settings_store.h"
#include "shell/hot_keys_win32.h"
#include "tests/support/desktop.h"
#include "win32/text.h"

namespace kelvora {
namespace {

using T = TfrmOption;
using test::StepRunner;

// Dispatches messages as Kelvora's loop does, until `done` or the timeout.
bool PumpDialog(const std::function<bool()>& done, DWORD timeoutMs = 3000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            HWND active = GetActiveWindow();
            if (active != nullptr && IsDialogMessageW(active, &msg)) {
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return done();
        }
        Sleep(10);
    }
}

void Settle() {
    PumpDialog([] { return false; }, 150);
}

void Press(WORD vk) {
    ASSERT_TRUE(test::Key(vk, true));
    ASSERT_TRUE(test::Key(vk, false));
    Settle();
}

void ClickAt(POINT p) {
    ASSERT_TRUE(test::MoveMouse(p.x, p.y));
    ASSERT_TRUE(test::MouseButton(MOUSEEVENTF_LEFTDOWN));
    ASSERT_TRUE(test::MouseButton(MOUSEEVENTF_LEFTUP));
}

POINT Centre(HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

std::wstring Text(HWND wnd) {
    wchar_t buf[512] = {};
    GetWindowTextW(wnd, buf, 512);
    return buf;
}

std::string FileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

int Slot(const TScreenCamera& camera, char a, char b, char c, char d) {
    for (int i = 0; i < camera.FCodecCount; ++i) {
        if (camera.FCodecs[i].fccHandler == vfw::mmioFOURCC(a, b, c, d)) {
            return i;
        }
    }
    return -1;
}

struct Search {
    const wchar_t* title;  // null: any
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND wnd, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    wchar_t cls[32] = {};
    GetClassNameW(wnd, cls, 32);
    if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(wnd) &&
        (s->title == nullptr || Text(wnd) == s->title)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// A visible system dialog (class #32770) of this thread.
HWND FindDialog(const wchar_t* title = nullptr) {
    Search s{title, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The dialog with its owner (Kelvora's hidden main window), camera,
// settings record and a settings file of its own.
class OptionsDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, tmp);
        // Named outside every ANSI code page, as a user's folder may be.
        folder_ = std::wstring(tmp) + L"kelvora options \u03A9\u65E5";
        CreateDirectoryW(folder_.c_str(), nullptr);
        ini_ = folder_ + L"\\Settings.ini";
        SetFileAttributesW(ini_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(ini_.c_str());
        owner_ = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
        camera_ = std::make_unique<TScreenCamera>(nullptr);
    }
    void TearDown() override {
        dialog_.reset();
        DestroyWindow(owner_);
        SetFileAttributesW(ini_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(ini_.c_str());
    }

    T& Create() {
        dialog_ = T::Create(
            owner_, settings_, [this] { return camera_.get(); }, ini_);
        EXPECT_NE(dialog_, nullptr);
        return *dialog_;
    }
    // "Настройки" as the controller runs it.
    void Open() {
        LoadSettings(ini_, settings_, *camera_);
        dialog_->FillAndShow();
        ASSERT_TRUE(PumpDialog([&] { return dialog_->Showing(); }));
        Settle();
    }
    HWND C(int id) const { return dialog_->Control(id); }
    int Selected(int id) const { return static_cast<int>(SendMessageW(C(id), CB_GETCURSEL, 0, 0)); }
    int TrackPos(int id) const { return static_cast<int>(SendMessageW(C(id), TBM_GETPOS, 0, 0)); }
    int ScrollPos() const {
        SCROLLINFO si{};
        si.cbSize = sizeof(si);
        si.fMask = SIF_POS;
        GetScrollInfo(C(T::ScrollBar1), SB_CTL, &si);
        return si.nPos;
    }
    bool Enabled(int id) const { return IsWindowEnabled(C(id)) != FALSE; }
    bool Checked(int id) const { return SendMessageW(C(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // Picks list entry `index` with the keyboard.
    void PickCodec(int index) {
        SetForegroundWindow(dialog_->Handle());
        SetFocus(C(T::VideoCompressor));
        Press(VK_HOME);
        for (int i = 0; i < index; ++i) {
            Press(VK_DOWN);
        }
        ASSERT_EQ(Selected(T::VideoCompressor), index);
    }
    // Runs `steps` while `click` starts a modal loop (or not).
    void RunWhile(StepRunner& steps, POINT click) {
        steps.Start();
        ClickAt(click);
        EXPECT_TRUE(PumpDialog([&] { return steps.Finished() || steps.Aborted(); }, 20000));
        EXPECT_FALSE(steps.Aborted());
        Settle();
    }

    std::wstring folder_, ini_;
    HWND owner_ = nullptr;
    std::unique_ptr<TScreenCamera> camera_;
    TSettings settings_;
    std::unique_ptr<T> dialog_;
};

// Every visible control lies inside the client area above the status bar,
// inside the group box it belongs to, overlaps no other control, and its
// text fits its width in the dialog font.
void ExpectTidyLayout(const T& dialog, const std::string& what) {
    HWND wnd = dialog.Handle();
    RECT client{};
    GetClientRect(wnd, &client);
    RECT status{};
    GetWindowRect(dialog.Control(T::StatusBar1), &status);
    MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&status), 2);
    EXPECT_EQ(status.bottom, client.bottom) << what;
    const int dpi = SystemDpi();
    struct Item {
        int id;
        RECT r;
        bool group;
    };
    std::vector<Item> items;
    for (int id = T::Compressor; id < T::StatusBar1; ++id) {
        HWND c = dialog.Control(id);
        if (!IsWindowVisible(c)) {
            continue;
        }
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, wnd, reinterpret_cast<POINT*>(&r), 2);
        wchar_t cls[32] = {};
        GetClassNameW(c, cls, 32);
        const bool group = (GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX &&
                           lstrcmpiW(cls, WC_BUTTONW) == 0;
        // A closed drop-down list is as high as its edit part.
        if (lstrcmpiW(cls, WC_COMBOBOXW) == 0) {
            COMBOBOXINFO info{};
            info.cbSize = sizeof(info);
            GetComboBoxInfo(c, &info);
            RECT closed = info.rcItem;
            r.bottom = r.top + (closed.bottom - closed.top) + 2 * GetSystemMetrics(SM_CYEDGE) + 2;
        }
        EXPECT_GE(r.left, 0) << what << " control " << id;
        EXPECT_LE(r.right, client.right) << what << " control " << id;
        EXPECT_LE(r.bottom, status.top) << what << " control " << id;
        items.push_back({id, r, group});

        // The text in the control's font, with room for a check box's box;
        // labels may wrap within their height.
        const std::wstring text = Text(c);
        if (!text.empty() && !group && lstrcmpiW(cls, WC_EDITW) != 0) {
            const bool check = (GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX &&
                               lstrcmpiW(cls, WC_BUTTONW) == 0;
            const bool label = lstrcmpiW(cls, WC_STATICW) == 0;
            const int room = (r.right - r.left) - (check ? MulDiv(18, dpi, 96) : 0);
            RECT need{0, 0, room, 0};
            HDC dc = GetDC(c);
            HGDIOBJ old = SelectObject(dc, DialogFont());
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
                      DT_CALCRECT | DT_NOPREFIX | (label ? DT_WORDBREAK : DT_SINGLELINE));
            SelectObject(dc, old);
            ReleaseDC(c, dc);
            EXPECT_LE(need.right, room) << what << " text of control " << id;
            EXPECT_LE(need.bottom, r.bottom - r.top) << what << " text of control " << id;
        }
    }
    auto inside = [](const RECT& a, const RECT& b) {
        return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
    };
    for (const Item& a : items) {
        for (const Item& b : items) {
            if (a.id >= b.id) {
                continue;
            }
            RECT both{};
            if (!IntersectRect(&both, &a.r, &b.r)) {
                continue;
            }
            // Only a control within its group box may touch another.
            EXPECT_TRUE((a.group && !b.group && inside(b.r, a.r)) ||
                        (b.group && !a.group && inside(a.r, b.r)))
                << what << ": controls " << a.id << " and " << b.id << " overlap";
        }
    }
}

// The window as the display shows it. Without a window manager Wine draws
// no caption: the client area sits at the top of the window's rectangle and
// the caption's height stays black below it.
void SaveShot(const T& dialog, const std::string& name) {
    RECT frame{};
    GetWindowRect(dialog.Handle(), &frame);
    EXPECT_TRUE(test::GrabScreen(frame).Save(name));
}

TEST_F(OptionsDialog, FirstOpeningThenEachCompressorAndItsDialogs) {
    T& dialog = Create();
    Open();
    RECT client{};
    GetClientRect(dialog.Handle(), &client);
    EXPECT_EQ(client.right, ScaleToDpi(405, SystemDpi()));
    EXPECT_EQ(client.bottom, ScaleToDpi(429, SystemDpi()));
    EXPECT_EQ(Text(dialog.Handle()), L"Настройки программы");
    const LONG style = GetWindowLongW(dialog.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(SendMessageW(dialog.Handle(), WM_GETICON, ICON_SMALL, 0), 0);

    // The catalogue's names, nothing selected, the codec controls off.
    const std::vector<std::string>& names = camera_->FCodecNames;
    ASSERT_EQ(SendMessageW(C(T::VideoCompressor), CB_GETCOUNT, 0, 0),
              static_cast<LRESULT>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) {
        wchar_t item[256] = {};
        SendMessageW(C(T::VideoCompressor), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        EXPECT_EQ(item, win32::Widen(names[i]));
    }
    EXPECT_EQ(Selected(T::VideoCompressor), -1);
    for (int id : {T::AboutB, T::ConfigB, T::VideoQuality, T::Label1, T::LabelQuality}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_EQ(Text(C(T::Dir)), L"");
    EXPECT_EQ(Text(C(T::formatscr)), L"BMP");
    EXPECT_EQ(ScrollPos(), 80);
    EXPECT_EQ(Text(C(T::y)), L"80 %");
    EXPECT_EQ(TrackPos(T::VideoQuality), 90);
    EXPECT_FALSE(Enabled(T::Label3));
    EXPECT_FALSE(Enabled(T::Label9));
    EXPECT_FALSE(IsWindowVisible(C(T::GroupBox1)));
    EXPECT_FALSE(IsWindowVisible(C(T::TrackBarRecord)));
    SaveShot(dialog, "options_96dpi.png");
    ExpectTidyLayout(dialog, "96 DPI");

    // Each built-in compressor as its driver answers.
    const struct {
        char code[5];
        bool about, configure;
    } builtins[] = {
        {"MSVC", true, false}, {"ZMBV", true, true}, {"MJPG", true, false}, {"DIB ", false, false}};
    for (const auto& b : builtins) {
        const int slot = Slot(*camera_, b.code[0], b.code[1], b.code[2], b.code[3]);
        ASSERT_GE(slot, 0) << b.code;
        PickCodec(slot);
        EXPECT_EQ(Enabled(T::AboutB), b.about) << b.code;
        EXPECT_EQ(Enabled(T::ConfigB), b.configure) << b.code;
        for (int id : {T::VideoQuality, T::Label1, T::LabelQuality}) {
            EXPECT_TRUE(Enabled(id)) << b.code << " " << id;
        }
    }

    // The codec's own dialogs open from the buttons, over this window.
    for (int button : {T::AboutB, T::ConfigB}) {
        const int slot = Slot(*camera_, 'Z', 'M', 'B', 'V');
        PickCodec(slot);
        const std::wstring title =
            reinterpret_cast<const wchar_t*>(camera_->FCodecs[slot].szDescription);
        HWND seen = nullptr;
        StepRunner steps;
        steps.Until(
            "the codec's dialog shows",
            [&] { return (seen = FindDialog(title.c_str())) != nullptr; }, 10000);
        steps.Do([&] {
            EXPECT_EQ(GetWindow(seen, GW_OWNER), dialog.Handle());
            PostMessageW(seen, WM_COMMAND, button == T::AboutB ? IDOK : IDCANCEL, 0);
        });
        steps.Until("the codec's dialog closes", [&] { return !IsWindow(seen); });
        RunWhile(steps, Centre(C(button)));
        EXPECT_NE(seen, nullptr) << button;
    }
}

TEST_F(OptionsDialog, TabOrderEnterSavesEverythingAndAFileThatCannotBeWritten) {
    ASSERT_EQ(SetAutorun(false, ExecutablePath()), AutorunWrite::Machine);
    const int zmbv = Slot(*camera_, 'Z', 'M', 'B', 'V');
    WriteFile(ini_, "[Options]\r\nOutputDir=C:\\Clips\\\r\nCodec=" + std::to_string(zmbv) + "\r\n");
    T& dialog = Create();
    Open();
    ASSERT_EQ(Selected(T::VideoCompressor), zmbv);
    SetForegroundWindow(dialog.Handle());
    SetFocus(C(T::VideoCompressor));

    // Tab walks the controls top to bottom and wraps round.
    const int order[] = {T::AboutB,         T::ConfigB,    T::VideoQuality, T::Dir,
                         T::change,         T::formatscr,  T::ScrollBar1,   T::HotKeyRecord,
                         T::HotKeyStop,     T::HotKeyShot, T::RecordSound,  T::SoundDevice,
                         T::avto,           T::Button2,    T::VideoCompressor};
    for (int id : order) {
        Press(VK_TAB);
        EXPECT_EQ(GetFocus(), C(id)) << "Tab to " << id;
    }
    // Keys on the focused controls: quality 90 -> 91, JPEG 80 -> 81, "PNG".
    SetFocus(C(T::VideoQuality));
    Press(VK_RIGHT);
    EXPECT_EQ(Text(C(T::LabelQuality)), L"91");
    SetFocus(C(T::ScrollBar1));
    Press(VK_RIGHT);
    EXPECT_EQ(Text(C(T::y)), L"81 %");
    SetFocus(C(T::formatscr));
    Press(VK_END);
    ClickAt(Centre(C(T::avto)));
    Settle();
    EXPECT_TRUE(Checked(T::avto));
    // Sound: off with no key, the default device first in the list.
    EXPECT_FALSE(Checked(T::RecordSound));
    EXPECT_EQ(Selected(T::SoundDevice), 0);
    EXPECT_EQ(Text(C(T::SoundDevice)), L"Устройство по умолчанию");
    ClickAt(Centre(C(T::RecordSound)));
    Settle();
    // A settings file that cannot be written: the message, the dialog stays.
    // Root (the tests' Wine user) writes read-only files; a handle that
    // shares nothing refuses it too.
    SetFileAttributesW(ini_.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE lock = CreateFileW(ini_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    StepRunner refusal;
    std::wstring message;
    refusal.Until(
        "the error shows", [&] { return FindDialog(L"Kelvora") != nullptr; }, 10000);
    refusal.Do([&] {
        HWND box = FindDialog(L"Kelvora");
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            if (Text(c).find(L"Unable to write to") != std::wstring::npos) {
                message = Text(c);
            }
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    refusal.Until("the error closes", [&] { return FindDialog(L"Kelvora") == nullptr; });
    RunWhile(refusal, Centre(C(T::Button2)));
    EXPECT_EQ(message, L"Unable to write to " + ini_);
    EXPECT_TRUE(dialog.Showing());
    EXPECT_FALSE(AutorunEnabled()) << "autorun waits for the file";
    CloseHandle(lock);
    SetFileAttributesW(ini_.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A device whose name the file's code page cannot spell is refused:
    // the default device is kept and the dialog says so.
    const LRESULT snowman = SendMessageW(C(T::SoundDevice), CB_ADDSTRING, 0,
                                         reinterpret_cast<LPARAM>(L"Микрофон \u2603"));
    SendMessageW(C(T::SoundDevice), CB_SETCURSEL, static_cast<WPARAM>(snowman), 0);
    ClickAt(Centre(C(T::Button2)));
    Settle();
    EXPECT_TRUE(dialog.Showing());
    wchar_t status[256] = {};
    SendMessageW(C(T::StatusBar1), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    EXPECT_STREQ(status, L"Имя устройства «Микрофон \u2603» не записывается в Settings.ini, "
                         L"выбрано устройство по умолчанию");
    EXPECT_EQ(Selected(T::SoundDevice), 0);
    EXPECT_EQ(ReadSetting(ini_, "AudioDevice"), "");

    // Enter anywhere presses "Сохранить".
    SetForegroundWindow(dialog.Handle());
    SetFocus(C(T::avto));
    Press(VK_RETURN);
    ASSERT_TRUE(PumpDialog([&] { return !dialog.Showing(); }));
    EXPECT_EQ(camera_->FCodecIndex.load(), zmbv);
    EXPECT_EQ(camera_->FCompressionQuality.load(), 9100);
    TSettings stored;
    TScreenCamera& camera = *camera_;
    camera.FCodecIndex = -1;
    camera.FCompressionQuality = 0;
    LoadSettings(ini_, stored, camera);
    EXPECT_EQ(stored.OutputDir, "C:\\Clips\\");
    EXPECT_EQ(stored.Format, "PNG");
    EXPECT_EQ(stored.Compress, "81");
    EXPECT_EQ(stored.Codec, zmbv);
    EXPECT_EQ(stored.VideoCompress, 91);
    EXPECT_TRUE(camera.FRecordAudio.load());
    EXPECT_EQ(ReadSetting(ini_, "RecordAudio"), "1");
    EXPECT_EQ(ReadSetting(ini_, "AudioDevice"), "");
    EXPECT_TRUE(AutorunEnabled());
    EXPECT_EQ(SetAutorun(false, ExecutablePath()), AutorunWrite::Machine);
}

TEST_F(OptionsDialog, ReopeningReloadsTheFileAndTheCloseBoxStoresNothing) {
    ASSERT_EQ(SetAutorun(true, ExecutablePath()), AutorunWrite::Machine);
    T& dialog = Create();
    EXPECT_TRUE(Checked(T::avto)) << "read from the registry at creation";
    const int mjpg = Slot(*camera_, 'M', 'J', 'P', 'G');
    WriteFile(ini_, "[Options]\r\nOutputDir=D:\\Video\\\r\nFormat=JPG\r\nCompress=150\r\nCodec=" +
                        std::to_string(mjpg) + "\r\nVideoCompress=45\r\n");
    Open();
    EXPECT_EQ(ScrollPos(), 80) << "Compress=150 leaves the scroll bar";
    EXPECT_EQ(Text(C(T::formatscr)), L"JPG");
    EXPECT_EQ(Text(C(T::Dir)), L"D:\\Video\\");
    EXPECT_EQ(Selected(T::VideoCompressor), mjpg);
    EXPECT_EQ(TrackPos(T::VideoQuality), 45);
    EXPECT_EQ(Text(C(T::LabelQuality)), L"45");

    // "Настройки" while open: the values again, the list as it was.
    SendMessageW(C(T::VideoCompressor), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"marker"));
    const LRESULT count = SendMessageW(C(T::VideoCompressor), CB_GETCOUNT, 0, 0);
    WriteFile(ini_,
              "[Options]\r\nOutputDir=E:\\\r\nFormat=png\r\nCompress=-5\r\nCodec=99\r\n"
              "VideoCompress=250\r\n");
    Open();
    EXPECT_EQ(SendMessageW(C(T::VideoCompressor), CB_GETCOUNT, 0, 0), count);
    EXPECT_EQ(ScrollPos(), 0);
    EXPECT_EQ(Text(C(T::y)), L"0 %");
    EXPECT_EQ(Text(C(T::formatscr)), L"JPG") << "\"png\" is no format";
    EXPECT_EQ(Text(C(T::Dir)), L"E:\\");
    EXPECT_EQ(Selected(T::VideoCompressor), -1);
    EXPECT_FALSE(Enabled(T::AboutB));
    EXPECT_FALSE(Enabled(T::VideoQuality));
    EXPECT_EQ(TrackPos(T::VideoQuality), 100);

    // Autorun unchecked, then the close box: nothing stored, and the box
    // stays unchecked at the next opening.
    const std::string before = FileBytes(ini_);
    ClickAt(Centre(C(T::avto)));
    Settle();
    ASSERT_FALSE(Checked(T::avto));
    // What the close box sends (Wine draws no caption without a window
    // manager, so there is no box to click on this display).
    PostMessageW(dialog.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(PumpDialog([&] { return !dialog.Showing(); }));
    EXPECT_EQ(FileBytes(ini_), before);
    EXPECT_TRUE(AutorunEnabled());
    Open();
    EXPECT_FALSE(Checked(T::avto));

    // Switched off by a user who may not write the machine's key: told where
    // and why, the box back as the registry holds it, the dialog open.
    SetRunKeyOpenerForTesting([](HKEY root, REGSAM access, HKEY* key) -> LSTATUS {
        if (root == HKEY_LOCAL_MACHINE && (access & KEY_SET_VALUE) != 0) {
            return ERROR_ACCESS_DENIED;
        }
        return RegOpenKeyExW(root, kRunKeyPath, 0, access, key);
    });
    StepRunner refusal;
    std::wstring message;
    refusal.Until(
        "the error shows", [&] { return FindDialog(L"Kelvora") != nullptr; }, 10000);
    refusal.Wait(300);
    refusal.Do([&] {
        HWND box = FindDialog(L"Kelvora");
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            message = Text(c).size() > message.size() ? Text(c) : message;
        }
        RECT r{};
        GetWindowRect(box, &r);
        test::GrabScreen(r).Save("options_autorun_refused.png");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    refusal.Until("the error closes", [&] { return FindDialog(L"Kelvora") == nullptr; });
    RunWhile(refusal, Centre(C(T::Button2)));
    SetRunKeyOpenerForTesting({});
    EXPECT_EQ(message.rfind(L"Не удалось убрать Kelvora из автозагрузки.\n\nHKEY_LOCAL_MACHINE\\"
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Run: ",
                            0),
              0u)
        << message;
    EXPECT_TRUE(dialog.Showing());
    EXPECT_TRUE(Checked(T::avto)) << "as the registry holds it";
    EXPECT_EQ(SetAutorun(false, ExecutablePath()), AutorunWrite::Machine);
}

TEST_F(OptionsDialog, FolderChooserDrivenByTheUser) {
    T& dialog = Create();
    Open();

    // The system's chooser, clicked: OK takes the folder it shows selected
    // (the desktop, its root), Cancel keeps the folder.
    auto useChooser = [&](int button) {
        HWND chooser = nullptr;
        bool ownerDisabled = false;
        StepRunner steps;
        steps.Until(
            "the folder chooser shows",
            [&] {
                chooser = FindDialog();
                return chooser != nullptr && GetDlgItem(chooser, IDOK) != nullptr;
            },
            10000);
        steps.Do([&] { ownerDisabled = !IsWindowEnabled(dialog.Handle()); });
        steps.Wait(300);
        steps.Do([&] { ClickAt(Centre(GetDlgItem(chooser, button))); });
        steps.Until(
            "the chooser closes", [&] { return !IsWindow(chooser); }, 5000);
        RunWhile(steps, Centre(C(T::change)));
        EXPECT_TRUE(ownerDisabled) << "the dialog is disabled while the chooser runs";
        EXPECT_TRUE(IsWindowEnabled(dialog.Handle()));
    };
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    useChooser(IDOK);
    EXPECT_EQ(Text(C(T::Dir)), std::wstring(desktop) + L"\\");
    useChooser(IDCANCEL);
    EXPECT_EQ(Text(C(T::Dir)), std::wstring(desktop) + L"\\") << "cancel keeps the folder";

    // Chosen folders as the chooser returns them (Wine's chooser takes no
    // preselected path, so these come through the test seam).
    auto choose = [&](const std::wstring& answer, bool refused = false) {
        bool ownerDisabled = false;
        dialog.SetFolderChooserForTesting([&](HWND owner, const wchar_t* caption) {
            EXPECT_EQ(owner, owner_);
            EXPECT_STREQ(caption, L"Выберите папку");
            ownerDisabled = !IsWindowEnabled(dialog.Handle());
            return answer;
        });
        StepRunner steps;
        if (refused) {
            steps.Until("the refusal shows", [&] { return FindDialog(L"Kelvora") != nullptr; });
            steps.Do([&] { PostMessageW(FindDialog(L"Kelvora"), WM_COMMAND, IDOK, 0); });
            steps.Until("the refusal closes", [&] { return FindDialog(L"Kelvora") == nullptr; });
        }
        steps.Until("the choice is taken", [] { return true; });
        RunWhile(steps, Centre(C(T::change)));
        EXPECT_TRUE(ownerDisabled);
        EXPECT_TRUE(IsWindowEnabled(dialog.Handle()));
    };
    choose(L"D:\\Clips");
    EXPECT_EQ(Text(C(T::Dir)), L"D:\\Clips\\");
    choose(L"D:\\");
    EXPECT_EQ(Text(C(T::Dir)), L"D:\\");
    choose(L"E:");
    EXPECT_EQ(Text(C(T::Dir)), L"E:\\");
    choose(L"");
    EXPECT_EQ(Text(C(T::Dir)), L"E:\\") << "cancel keeps the folder";
    // No Western or Cyrillic code page spells these two characters.
    choose(L"D:\\\u6587\u4ef6", true);
    EXPECT_EQ(Text(C(T::Dir)), L"E:\\") << "a name the file cannot hold is refused";
    dialog.Button2Click();
    EXPECT_NE(FileBytes(ini_).find("OutputDir=E:\\\r\n"), std::string::npos);
}

TEST_F(OptionsDialog, AutoModeCouplesTheTimingTrackBarsIntoTheCamera) {
    T& dialog = Create();
    Open();
    EXPECT_EQ(TrackPos(T::TrackBarRecord), 25);
    EXPECT_EQ(TrackPos(T::TrackBarPlayback), 40);
    // A user's move of a hidden track bar, as the control reports it.
    auto move = [&](int id, int pos) {
        SendMessageW(C(id), TBM_SETPOS, TRUE, pos);
        SendMessageW(dialog.Handle(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos),
                     reinterpret_cast<LPARAM>(C(id)));
    };
    move(T::TrackBarRecord, 300);
    EXPECT_EQ(TrackPos(T::TrackBarPlayback), 40) << "uncoupled";
    SendMessageW(C(T::AutoMode), BM_CLICK, 0, 0);
    EXPECT_EQ(TrackPos(T::TrackBarRecord), 25) << "1000 / 40";
    move(T::TrackBarRecord, 300);
    EXPECT_EQ(TrackPos(T::TrackBarPlayback), 3);
    EXPECT_EQ(TrackPos(T::TrackBarRecord), 300) << "the coupling does not bounce back";
    move(T::TrackBarPlayback, 200);
    EXPECT_EQ(TrackPos(T::TrackBarRecord), 5);
    EXPECT_EQ(Text(C(T::labelmspFrecord)), L"5 Millisecond");
    EXPECT_EQ(Text(C(T::labelFPSPlayback)), L"200 fps");
    PickCodec(0);
    dialog.Button2Click();
    EXPECT_EQ(camera_->FMSPFRecord.load(), 5);
    EXPECT_EQ(camera_->FFrameRatePlayback.load(), 200);
    EXPECT_EQ(camera_->FCodecIndex.load(), 0);
}

// Stands in for the controller: its registration of the set, on a window
// of its own.
struct HotKeyHost {
    HotKeyHost() {
        wnd = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr);
        for (int i = 0; i < kHotKeyCount; ++i) {
            EXPECT_TRUE(RegisterHotKey(wnd, i + 1, keys[i].modifiers, keys[i].key)) << i;
        }
    }
    ~HotKeyHost() {
        for (int i = 0; i < kHotKeyCount; ++i) {
            UnregisterHotKey(wnd, i + 1);
        }
        DestroyWindow(wnd);
    }
    std::vector<std::wstring> Apply(const T::HotKeySet& wanted) {
        applied.push_back(wanted);
        WindowHotKeys system(wnd);
        std::vector<std::wstring> refused;
        for (const RefusedHotKey& key : ApplyHotKeySet(system, keys, wanted)) {
            refused.push_back(RefusalText(key));
        }
        return refused;
    }
    HWND wnd = nullptr;
    T::HotKeySet keys = kDefaultHotKeys;
    std::vector<T::HotKeySet> applied;
};

TEST_F(OptionsDialog, HotKeysChosenStoredAfterTheOtherKeysAndAHeldOneRefused) {
    WriteFile(ini_, "[Options]\r\nOutputDir=C:\\Clips\\\r\n");
    HotKeyHost host;
    T& dialog = Create();
    dialog.SetHotKeyAccess({[&] { return host.keys; },
                            [&](const T::HotKeySet& wanted) { return host.Apply(wanted); }});
    Open();
    auto field = [&](int id) {
        return static_cast<std::uint16_t>(SendMessageW(C(id), HKM_GETHOTKEY, 0, 0));
    };
    // No keys in the file: Shift+R / Shift+S / Shift+X.
    EXPECT_EQ(field(T::HotKeyRecord), 0x100 | 'R');
    EXPECT_EQ(field(T::HotKeyStop), 0x100 | 'S');
    EXPECT_EQ(field(T::HotKeyShot), 0x100 | 'X');

    // Ctrl+Alt+R typed into the record field, then "Сохранить".
    SetForegroundWindow(dialog.Handle());
    SetFocus(C(T::HotKeyRecord));
    for (WORD vk : {VK_CONTROL, VK_MENU}) {
        ASSERT_TRUE(test::Key(vk, true));
    }
    Press('R');
    for (WORD vk : {VK_MENU, VK_CONTROL}) {
        ASSERT_TRUE(test::Key(vk, false));
    }
    Settle();
    ASSERT_EQ(field(T::HotKeyRecord), (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'R');
    ClickAt(Centre(C(T::Button2)));
    ASSERT_TRUE(PumpDialog([&] { return !dialog.Showing(); }));
    ASSERT_EQ(host.applied.size(), 1u);
    EXPECT_EQ(host.applied[0][0], (HotKey{kModControl | kModAlt, 'R'}));
    const std::string file = FileBytes(ini_);
    const size_t keys = file.find("HotKeyRecord=1618\r\nHotKeyStop=339\r\nHotKeyShot=344\r\n");
    EXPECT_NE(keys, std::string::npos) << file;
    EXPECT_LT(file.find("VideoCompress="), keys) << file;

    // Ctrl+Alt+S held by another window: the message, the dialog stays
    // open with Shift+S, which the file keeps.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(RegisterHotKey(other, 1, MOD_CONTROL | MOD_ALT, 'S'));
    Open();
    EXPECT_EQ(field(T::HotKeyRecord), (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'R');
    SendMessageW(C(T::HotKeyStop), HKM_SETHOTKEY, (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'S', 0);
    ClickAt(Centre(C(T::Button2)));
    Settle();
    EXPECT_TRUE(dialog.Showing());
    wchar_t status[256] = {};
    SendMessageW(C(T::StatusBar1), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    EXPECT_STREQ(status, L"Сочетание Ctrl+Alt+S занято другой программой");
    EXPECT_EQ(field(T::HotKeyStop), 0x100 | 'S');
    EXPECT_NE(FileBytes(ini_).find("HotKeyStop=339\r\n"), std::string::npos);
    SaveShot(dialog, "options_hot_key_refused.png");
    UnregisterHotKey(other, 1);
    DestroyWindow(other);

    // Record and stop trade keys: both are ours, so both move.
    SendMessageW(C(T::HotKeyRecord), HKM_SETHOTKEY, HOTKEYF_SHIFT << 8 | 'S', 0);
    SendMessageW(C(T::HotKeyStop), HKM_SETHOTKEY, (HOTKEYF_CONTROL | HOTKEYF_ALT) << 8 | 'R', 0);
    ClickAt(Centre(C(T::Button2)));
    ASSERT_TRUE(PumpDialog([&] { return !dialog.Showing(); }));
    EXPECT_EQ(host.keys, (T::HotKeySet{HotKey{kModShift, 'S'}, HotKey{kModControl | kModAlt, 'R'},
                                       HotKey{kModShift, 'X'}}));
    EXPECT_NE(FileBytes(ini_).find("HotKeyRecord=339\r\nHotKeyStop=1618\r\n"), std::string::npos);
}

TEST_F(OptionsDialog, LaidOutAt144Dpi) {
    SetDpiForTesting(144);
    T& dialog = Create();
    SetDpiForTesting(0);
    Open();
    PickCodec(Slot(*camera_, 'Z', 'M', 'B', 'V'));
    RECT client{};
    GetClientRect(dialog.Handle(), &client);
    EXPECT_EQ(client.right, ScaleToDpi(405, 144));
    EXPECT_EQ(client.bottom, ScaleToDpi(429, 144));
    SaveShot(dialog, "options_144dpi.png");
    SetDpiForTesting(144);
    ExpectTidyLayout(dialog, "144 DPI");
    SetDpiForTesting(0);
}

}  // namespace
}  // namespace kelvora
