// Kelvora.exe end to end under Wine: the program a user runs, started in a
// folder of its own with a prepared Settings.ini, driven by real input (its
// global hot keys through SendInput, its tray menu clicked in Wine's tray)
// while a moving pattern shows on the screen. What it leaves on disk is
// noted beside the files; kelvora_e2e_check_test.cpp reads the recordings
// and pictures with ffprobe and ffmpeg on the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "shell/options_dialog.h"
#include "shell/file_names.h"
#include "tests/e2e/kelvora_driver.h"
#include "tests/e2e/sound_probe.h"
#include "tests/engine/recording_pattern.h"
#include "tests/engine/recording_pattern_window.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
namespace rp = recording_pattern;

// Where the moving pattern shows; the host check crops the same rectangle.
constexpr int kPatternLeft = 200, kPatternTop = 150;

constexpr wchar_t kNoFolder[] = L"Внимание! Вы не выбрали папку для сохранения!";
constexpr wchar_t kMissingFolder[] = L"Внимание! Папка для сохранения не существует!";
constexpr wchar_t kNoCodec[] = L"Внимание! Вы не выбрали кодек!";
constexpr wchar_t kRecordError[] = L"Ошибка записи";
constexpr wchar_t kRecovered[] = L"Запись, прерванная при прошлом запуске программы, восстановлена:\n";
constexpr wchar_t kStillSaving[] = L"Предыдущая запись ещё сохраняется";

// Another program's window with an edit control that has the keyboard.
class EditWindow {
  public:
    EditWindow() {
        frame_.reset(CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"editor",
                                     WS_POPUP | WS_BORDER | WS_VISIBLE, 700, 150, 300, 60, nullptr,
                                     nullptr, nullptr, nullptr));
        edit_.reset(CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 4, 4, 290, 24,
                                    frame_.get(), nullptr, nullptr, nullptr));
    }
    void Focus() {
        SetForegroundWindow(frame_.get());
        SetFocus(edit_.get());
        PumpFor(100);
    }
    std::wstring Text() const {
        wchar_t text[64] = {};
        GetWindowTextW(edit_.get(), text, 64);
        return text;
    }
    HWND edit() const { return edit_.get(); }
    // True while this window has the keyboard.
    bool HasKeyboard() const {
        return GetForegroundWindow() == frame_.get() && GetFocus() == edit_.get();
    }

  private:
    win32::Window frame_;
    win32::Window edit_;
};

class KelvoraE2e : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
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
            win32::Window wnd(CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, wc.lpszClassName,
                                              L"pattern", WS_POPUP, kPatternLeft, kPatternTop,
                                              rp::kWidth, rp::kHeight, nullptr, nullptr,
                                              wc.hInstance, nullptr));
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
        PumpUntil([&] { return shown.load(); }, 10000);
        PumpFor(300);
    }
    static void TearDownTestSuite() {
        PostThreadMessageW(patternThread_, WM_QUIT, 0, 0);
        pattern_.join();
    }

    void SetUp() override {
        MoveMouse(1700, 1000);  // the cursor is drawn into recordings: away from the pattern
        ASSERT_EQ(FindWindowW(L"TfrmMain", nullptr), nullptr) << "a Kelvora.exe is still running";
        ASSERT_FALSE(ShiftHotKeyHeld('R'));
        // A case that failed while recording leaves it; the next start would
        // recover it into this case's folder.
        std::error_code ec;
        fs::remove(VideoTempPath(), ec);
    }

    void TearDown() override {
        if (kelvora_) {
            kelvora_->Terminate();
        }
    }

    // A fresh folder for this case: the program in app\, its output in out\.
    void Prepare(const std::string& name) {
        case_ = fs::path(OutputDir()) / name;
        std::error_code ec;
        fs::remove_all(case_, ec);
        fs::create_directories(case_ / "out");
        settings_.OutputDir = WindowsPath((case_ / "out").string()) + "\\";
    }
    std::string AppFolder() const { return (case_ / "app").string(); }
    std::string OutFolder() const { return (case_ / "out").string(); }
    std::string Ini() const { return (case_ / "app" / "Settings.ini").string(); }

    void WriteIni() {
        fs::create_directories(case_ / "app");
        ASSERT_TRUE(WriteSettings(Ini(), settings_));
    }

    // Starts Kelvora.exe with the current settings (or with the Settings.ini
    // left by the last run) and waits until it is up.
    void Launch(bool writeIni = true) {
        if (writeIni) {
            WriteIni();
        }
        trayIcons_ = TrayIconWindows().size();
        kelvora_ = std::make_unique<KelvoraProcess>();
        ASSERT_TRUE(
            kelvora_->Start((fs::current_path() / "shell" / "Kelvora.exe").string(), AppFolder()));
        ASSERT_TRUE(kelvora_->WaitUp()) << "Kelvora.exe did not come up";
    }

    // Expects a message box with `caption` and `text`, and closes it.
    void ExpectBox(const wchar_t* caption, const wchar_t* text) {
        HWND box = kelvora_->WaitMessageBox();
        ASSERT_NE(box, nullptr) << "no message box";
        const BoxTexts t = ReadMessageBox(box);
        EXPECT_EQ(t.caption, caption);
        EXPECT_EQ(t.text, text);
        EXPECT_TRUE(CloseMessageBox(box));
    }

    // Nothing shows up for a while: no box, no new file, still running.
    void ExpectNothingHappens(const std::vector<std::string>& files) {
        PumpFor(1500);
        EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
        EXPECT_EQ(FilesIn(OutFolder()), files);
        EXPECT_TRUE(kelvora_->Running());
    }

    char MenuFirstItem() {
        TrayMenu menu;
        if (!menu.Open()) {
            ADD_FAILURE() << "the tray menu did not open";
            return '?';
        }
        const char first = menu.FirstItem();
        menu.Dismiss();
        return first;
    }

    // Waits until a recording runs (its temporary file appears); `startedAt`
    // is the tick count then.
    bool WaitRecordingStarted(DWORD* startedAt) {
        const bool started = PumpUntil([] { return fs::exists(VideoTempPath()); }, 20000);
        *startedAt = GetTickCount();
        return started;
    }

    // The save is over when the temporary file is gone and `count` AVIs are
    // there. The worker's end reaches the program's UI thread a moment later;
    // a start before that would be refused by the camera (and the menu would
    // still switch to "Остановить", as it follows the command).
    bool WaitSaved(size_t count, DWORD timeoutMs = 120000) {
        const bool saved = PumpUntil(
            [&] { return !fs::exists(VideoTempPath()) && Avis().size() == count; }, timeoutMs);
        PumpFor(1000);
        return saved;
    }

    std::vector<std::string> Avis() const {
        std::vector<std::string> avis;
        for (const std::string& f : FilesIn(OutFolder())) {
            if (fs::path(f).extension() == ".avi") {
                avis.push_back(f);
            }
        }
        return avis;
    }

    // A note for the host check beside the files: what the file is and,
    // for a recording, for how long it ran.
    // `area` is where the frame lies on the screen (the whole screen when
    // empty); `folder` is the file's folder in the case's.
    void Note(const std::string& tag, const std::string& file, const std::string& kind,
              DWORD ms = 0, const RECT& area = {}, const std::string& folder = "out") {
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

    std::string IniValue(const char* key) const {
        char text[MAX_PATH] = {};  // OutputDir is a whole path
        GetPrivateProfileStringA("Options", key, "", text, sizeof text, Ini().c_str());
        return text;
    }

    // The tip of Kelvora's tray icon ("Kelvora..."), or empty.
    static std::wstring KelvoraTip() {
        for (HWND icon : TrayIconWindows()) {
            const std::wstring tip = TrayTip(icon);
            if (tip.rfind(L"Kelvora", 0) == 0) {
                return tip;
            }
        }
        return {};
    }

    // Records `ms` with hot keys; returns the new file's name, noted as `tag`.
    std::string RecordWithHotKeys(const std::string& tag, DWORD ms,
                                  const std::function<void()>& during = {}) {
        const std::vector<std::string> before = Avis();
        SYSTEMTIME pressed{};
        GetLocalTime(&pressed);
        PressShift('R');
        DWORD started = 0;
        EXPECT_TRUE(WaitRecordingStarted(&started)) << tag << ": no recording started";
        SYSTEMTIME seen{};
        GetLocalTime(&seen);
        if (during) {
            during();
        }
        PumpFor(ms - std::min<DWORD>(ms, GetTickCount() - started));
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

    void ExpectExitLeavesNothing() {
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

    // Waits until the selection of Kelvora shows; null after the timeout.
    HWND WaitSelection() {
        HWND w = nullptr;
        PumpUntil(
            [&] { return (w = kelvora_->TopWindowOfClass(L"KelvoraFreeHandWindow")) != nullptr; },
            10000);
        return w;
    }

    static std::thread pattern_;
    static DWORD patternThread_;
    fs::path case_;
    KelvoraSettings settings_;
    std::unique_ptr<KelvoraProcess> kelvora_;
    size_t trayIcons_ = 0;  // Wine's tray icons before Kelvora's start
};
std::thread KelvoraE2e::pattern_;
DWORD KelvoraE2e::patternThread_ = 0;

// Shift+R, a few seconds of the moving pattern, Shift+S, with each built-in
// compressor chosen by its catalogue index (MSVC, ZMBV, MJPG, DIB). While
// recording, Shift+R does nothing (a Record would warn: the folder is unset
// then) and Shift+X saves a picture without stopping; Shift+S while idle
// does nothing. The keys leave the keyboard with the program the user works
// in.
TEST_F(KelvoraE2e, HotKeysRecordWithEachBuiltInCompressor) {
    Prepare("hotkeys");
    Launch();
    PressShift('S');  // idle: nothing to stop
    ExpectNothingHappens({});

    EditWindow editor;
    const char* names[] = {"msvc", "zmbv", "mjpg", "dib"};
    for (int codec = 0; codec < 4; ++codec) {
        SCOPED_TRACE(names[codec]);
        settings_.Codec = std::to_string(codec);
        WriteIni();
        std::function<void()> during;
        if (codec == 0) {
            editor.Focus();
            ASSERT_TRUE(editor.HasKeyboard());
            during = [&] {
                EXPECT_TRUE(editor.HasKeyboard()) << "Shift+R took the keyboard";
                PumpFor(800);
                const std::string folder = settings_.OutputDir;
                settings_.OutputDir.clear();
                WriteIni();
                PressShift('R');  // recording already: ignored
                PumpFor(700);
                EXPECT_EQ(kelvora_->FindMessageBox(), nullptr) << "Shift+R ran Record again";
                settings_.OutputDir = folder;
                WriteIni();
                PressShift('X');  // a picture, and the recording goes on
                ASSERT_TRUE(PumpUntil(
                    [&] {
                        for (const std::string& f : FilesIn(OutFolder())) {
                            if (fs::path(f).extension() == ".png") {
                                return true;
                            }
                        }
                        return false;
                    },
                    10000))
                    << "no screenshot during the recording";
                EXPECT_TRUE(editor.HasKeyboard()) << "Shift+X took the keyboard";
            };
        }
        const std::string made =
            RecordWithHotKeys(std::string("hotkeys-") + names[codec], 2500, during);
        ASSERT_FALSE(made.empty());
        EXPECT_TRUE(kelvora_->Running());
    }
    // One file per recording and the one picture.
    EXPECT_EQ(Avis().size(), 4u);
    EXPECT_EQ(FilesIn(OutFolder()).size(), 5u);
    EXPECT_EQ(MenuFirstItem(), 'r');
    kelvora_->Terminate();
}

// The three warnings of Record, each a "Kelvora" box with its text, the
// menu still offering "Записать"; Shift+R typed into another program's
// window is taken by Kelvora and never reaches that window.
TEST_F(KelvoraE2e, RecordWarnsAndHotKeysNeverReachOtherWindows) {
    Prepare("warnings");
    // First run: no Settings.ini at all.
    fs::create_directories(case_ / "app");
    kelvora_ = std::make_unique<KelvoraProcess>();
    ASSERT_TRUE(
        kelvora_->Start((fs::current_path() / "shell" / "Kelvora.exe").string(), AppFolder()));
    ASSERT_TRUE(kelvora_->WaitUp());

    EditWindow editor;
    editor.Focus();
    Key('K', true);
    Key('K', false);
    ASSERT_TRUE(PumpUntil([&] { return editor.Text() == L"k"; }, 3000))
        << "the editor does not take keys";
    PressShift('R');
    ExpectBox(L"Kelvora", kNoFolder);
    PumpFor(200);
    EXPECT_EQ(editor.Text(), L"k") << "Shift+R reached the other window";

    settings_.OutputDir = WindowsPath((case_ / "gone").string()) + "\\";
    WriteIni();
    editor.Focus();
    PressShift('R');
    ExpectBox(L"Kelvora", kMissingFolder);

    settings_.OutputDir = WindowsPath(OutFolder()) + "\\";
    settings_.Codec = "-1";
    WriteIni();
    editor.Focus();
    PressShift('R');
    ExpectBox(L"Kelvora", kNoCodec);
    settings_.writeCodec = false;  // absent: the index stays "none"
    WriteIni();
    PressShift('R');
    ExpectBox(L"Kelvora", kNoCodec);
    EXPECT_EQ(editor.Text(), L"k");
    EXPECT_EQ(FilesIn(OutFolder()), std::vector<std::string>{});
    EXPECT_EQ(MenuFirstItem(), 'r');
    kelvora_->Terminate();
}

// A record key chosen in Settings.ini (as the options dialog saves it):
// Ctrl+Alt+R records, and Shift+R is left to the other programs, where it
// types a capital R.
TEST_F(KelvoraE2e, ChosenHotKeyRecordsAndShiftRReachesOtherWindows) {
    Prepare("hot-keys");
    WriteIni();
    std::ofstream(Ini(), std::ios::app) << "HotKeyRecord=1618\r\n";  // Ctrl+Alt+R
    kelvora_ = std::make_unique<KelvoraProcess>();
    ASSERT_TRUE(
        kelvora_->Start((fs::current_path() / "shell" / "Kelvora.exe").string(), AppFolder()));
    ASSERT_TRUE(PumpUntil([] { return ShiftHotKeyHeld('S') && ShiftHotKeyHeld('X'); }, 20000));
    EXPECT_FALSE(ShiftHotKeyHeld('R'));

    EditWindow editor;
    editor.Focus();
    PressShift('R');
    EXPECT_TRUE(PumpUntil([&] { return editor.Text() == L"R"; }, 3000))
        << "Shift+R did not reach the other window";

    Key(VK_CONTROL, true);
    Key(VK_MENU, true);
    Key('R', true);
    Key('R', false);
    Key(VK_MENU, false);
    Key(VK_CONTROL, false);
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started)) << "Ctrl+Alt+R started no recording";
    PumpFor(1000);
    PressShift('S');
    EXPECT_TRUE(WaitSaved(1));
    kelvora_->Terminate();
}

// Shift+X saves BMP, JPG and PNG pictures named by the time; a format in the
// wrong case and a non-integer quality save nothing and say nothing; a folder
// that takes no files shows the "Error" box and leaves nothing.
TEST_F(KelvoraE2e, ScreenshotsInEachFormatAndTheirFailures) {
    Prepare("screenshots");
    Launch();
    for (const char* format : {"BMP", "JPG", "PNG"}) {
        SCOPED_TRACE(format);
        settings_.Format = format;
        WriteIni();
        std::string ext = std::string(".") + format;
        for (char& c : ext) {
            c = static_cast<char>(tolower(c));
        }
        SYSTEMTIME before{}, after{};
        GetLocalTime(&before);
        PressShift('X');
        std::string made;
        ASSERT_TRUE(PumpUntil(
            [&] {
                for (const std::string& f : FilesIn(OutFolder())) {
                    if (fs::path(f).extension() == ext) {
                        made = f;
                        return true;
                    }
                }
                return false;
            },
            10000));
        GetLocalTime(&after);
        EXPECT_TRUE(NamedByTimeBetween(made, ext, before, after)) << made;
        Note(std::string("screenshot-") + format, made, "picture");
    }
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    const std::vector<std::string> three = FilesIn(OutFolder());
    ASSERT_EQ(three.size(), 3u);

    settings_.Format = "jpg";
    WriteIni();
    PressShift('X');
    ExpectNothingHappens(three);
    settings_.Format = "JPG";
    settings_.Compress = "abc";
    WriteIni();
    PressShift('X');
    ExpectNothingHappens(three);

    // Linux's sysfs through Wine's drive of the whole file system: no new
    // files there, even for root.
    settings_.Format = "BMP";
    settings_.Compress = "";
    settings_.OutputDir = "Z:\\sys\\";
    WriteIni();
    std::vector<std::string> sysBefore = FilesIn("Z:\\sys");
    PressShift('X');
    HWND box = kelvora_->WaitMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadMessageBox(box).caption, L"Error");
    EXPECT_FALSE(ReadMessageBox(box).text.empty());
    EXPECT_TRUE(CloseMessageBox(box));
    EXPECT_EQ(FilesIn("Z:\\sys"), sysBefore);
    kelvora_->Terminate();
}

// A recording the camera cannot make (a compressor index beyond the
// catalogue) shows "Ошибка записи", and the menu offers "Записать" again: it
// follows the camera, which records nothing. Then a real recording: a second
// Kelvora.exe ends at once, silently, and the first goes on; Exit from the
// menu while recording saves the file and ends the program with its hot keys
// freed and no temporary file left.
TEST_F(KelvoraE2e, FailedRecordingSecondInstanceAndExitWhileRecording) {
    Prepare("failures");
    settings_.Codec = "99";
    Launch();
    PressShift('R');
    ExpectBox(L"Error", kRecordError);
    EXPECT_TRUE(PumpUntil([&] { return MenuFirstItem() == 'r'; }, 10000))
        << "the menu offers a stop of nothing";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    EXPECT_TRUE(Avis().empty());

    settings_.Codec = "1";  // ZMBV
    WriteIni();
    SYSTEMTIME pressed{};
    GetLocalTime(&pressed);
    PressShift('R');
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started));
    SYSTEMTIME seen{};
    GetLocalTime(&seen);

    win32::Handle second;
    ASSERT_TRUE(kelvora_->StartAnother(&second));
    // Waiting with the messages dispatched: the pattern moves on meanwhile.
    EXPECT_TRUE(
        PumpUntil([&] { return WaitForSingleObject(second.get(), 0) == WAIT_OBJECT_0; }, 20000))
        << "the second instance did not end";
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(second.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(kelvora_->Running());
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    EXPECT_TRUE(fs::exists(VideoTempPath())) << "the second instance touched the recording";
    EXPECT_TRUE(ShiftHotKeyHeld('S'));

    PumpFor(1500);
    TrayMenu menu;
    ASSERT_TRUE(menu.Open());
    EXPECT_EQ(menu.FirstItem(), 's');
    ASSERT_TRUE(menu.Choose(TrayMenu::kExit));  // "Выйти"
    const DWORD recorded = GetTickCount() - started;
    ExpectExitLeavesNothing();
    const std::vector<std::string> avis = Avis();
    ASSERT_EQ(avis.size(), 1u);
    EXPECT_TRUE(NamedByTimeBetween(avis[0], ".avi", pressed, seen)) << avis[0];
    Note("exit-while-recording", avis[0], "recording", recorded);
}

// The tray menu as a user works it: "Записать", later "Остановить", the
// About box, then "Выйти". Pictures of the menu and the About box are left
// for reviewers. The user has a file of the recording's name already (as
// two recordings started in one second leave it): it stays, and the
// recording takes "<time> (2).avi".
TEST_F(KelvoraE2e, TrayMenuRecordsStopsShowsAboutAndExits) {
    Prepare("tray");
    settings_.Codec = "2";  // MJPG
    Launch();
    SYSTEMTIME pressed{}, seen{};
    DWORD started = 0;
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        const RECT r = menu.Rect();
        GrabScreen(r).Save("kelvora_tray_menu.png");
        EXPECT_EQ(menu.FirstItem(), 'r');
        GetLocalTime(&pressed);
        const std::vector<std::string> taken = NamesByTime(pressed, 30, ".avi");
        for (const std::string& name : taken) {
            std::ofstream(fs::path(OutFolder()) / name) << "the user's own file";
        }
        ASSERT_TRUE(menu.Choose(TrayMenu::kRecordOrStop));  // "Записать"
        ASSERT_TRUE(WaitRecordingStarted(&started));
        GetLocalTime(&seen);
    }
    const size_t taken = Avis().size();
    PumpFor(2000);
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        GrabScreen(menu.Rect()).Save("kelvora_tray_menu_recording.png");
        EXPECT_EQ(menu.FirstItem(), 's');
        ASSERT_TRUE(menu.Choose(TrayMenu::kRecordOrStop));  // "Остановить"
    }
    const DWORD recorded = GetTickCount() - started;
    ASSERT_TRUE(WaitSaved(taken + 1));
    std::string made;
    for (const std::string& f : Avis()) {
        const std::string stem = fs::path(f).stem().string();
        if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, " (2)") == 0) {
            made = f;
            EXPECT_TRUE(
                NamedByTimeBetween(stem.substr(0, stem.size() - 4) + ".avi", ".avi", pressed, seen))
                << f;
        } else {
            std::ifstream old(fs::path(OutFolder()) / f);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "the user's own file")
                << f << " was replaced";
        }
    }
    ASSERT_FALSE(made.empty()) << "no \"(2)\" recording beside the user's file";
    Note("tray-menu", made, "recording", recorded);

    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        EXPECT_EQ(menu.FirstItem(), 'r');
        ASSERT_TRUE(menu.Choose(TrayMenu::kAbout));  // "О программе"
    }
    HWND about = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] { return (about = kelvora_->TopWindowOfClass(L"TAboutBox")) != nullptr; }, 5000));
    RECT r{};
    GetWindowRect(about, &r);
    GrabUntil(r, [](const ScreenPicture&) { return true; });
    PumpFor(300);
    GrabScreen(r).Save("kelvora_about_box.png");
    PostMessageW(about, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(about); }, 5000));

    TrayMenu menu;
    ASSERT_TRUE(menu.Open());
    ASSERT_TRUE(menu.Choose(TrayMenu::kExit));  // "Выйти"
    ExpectExitLeavesNothing();
}

// While a long uncompressed recording is being saved, Record does not start
// another: a balloon says why and the menu stays. Exit chosen then waits for
// the save, which completes, then the program ends. The save is held while
// the test acts (the program's threads but the UI thread are paused), so
// that all of it happens during the save on any machine.
TEST_F(KelvoraE2e, ExitDuringALongSaveKeepsTheFile) {
    Prepare("long-save");
    settings_.Codec = "3";  // DIB: large frames, a long save
    Launch();
    PumpFor(500);
    const std::vector<DWORD> idleThreads = ThreadsOf(kelvora_->Pid());
    SYSTEMTIME pressed{};
    GetLocalTime(&pressed);
    PressShift('R');
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started));
    SYSTEMTIME seen{};
    GetLocalTime(&seen);
    PumpFor(3000);
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kRecordOrStop));  // "Остановить"
    }
    const DWORD recorded = GetTickCount() - started;
    // The save has begun once the tip shows its progress.
    ASSERT_TRUE(PumpUntil(
        [] { return KelvoraTip().rfind(L"Kelvora \u2014 сохранение ", 0) == 0; }, 60000))
        << "no save in progress";
    PausedThreads save(kelvora_->Pid(), idleThreads);
    ASSERT_GT(save.count(), 0u);

    PressShift('R');
    HWND balloon = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return TrayBalloon(&balloon) == kStillSaving; }, 10000))
        << "no balloon; the tray shows \"" << TrayBalloon() << "\"";
    PumpFor(800);
    RECT r{};
    GetWindowRect(balloon, &r);
    InflateRect(&r, 40, 8);
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&r, &r, &screen);
    GrabScreen(r).Save("kelvora_balloon_still_saving.png");
    EXPECT_EQ(MenuFirstItem(), 'r') << "Record during the save changed the menu";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);

    ASSERT_TRUE(fs::exists(VideoTempPath()));
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kExit));  // "Выйти", during the save
    }
    PumpFor(500);
    EXPECT_TRUE(kelvora_->Running()) << "Exit did not wait for the save";
    save.Resume();
    ExpectExitLeavesNothing();
    const std::vector<std::string> avis = Avis();
    ASSERT_EQ(avis.size(), 1u);
    EXPECT_TRUE(NamedByTimeBetween(avis[0], ".avi", pressed, seen)) << avis[0];
    Note("long-save", avis[0], "recording", recorded);
}

// "Настройки" in the tray menu opens the options dialog; the screenshot
// format chosen there with the mouse and the keyboard and saved with
// "Сохранить" is in Settings.ini, and the next Shift+X uses it.
TEST_F(KelvoraE2e, SettingsFromTheTrayMenuAreSavedAndUsed) {
    Prepare("settings");
    settings_.Format = "PNG";
    Launch();
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kSettings));  // "Настройки"
    }
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] { return (dialog = kelvora_->TopWindowOfClass(L"TfrmOption")) != nullptr; }, 10000))
        << "no options dialog";
    const auto click = [](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        MoveMouse((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PumpFor(100);
        MouseButton(MOUSEEVENTF_LEFTDOWN);
        MouseButton(MOUSEEVENTF_LEFTUP);
        PumpFor(300);
    };
    HWND format = GetDlgItem(dialog, TfrmOption::formatscr);
    ASSERT_NE(format, nullptr);
    const auto selected = [&] { return SendMessageW(format, CB_GETCURSEL, 0, 0); };
    EXPECT_EQ(selected(), 2) << "the dialog shows PNG, as Settings.ini holds it";
    click(format);  // the list opens
    Key(VK_UP, true);
    Key(VK_UP, false);
    Key(VK_RETURN, true);
    Key(VK_RETURN, false);
    ASSERT_TRUE(PumpUntil([&] { return selected() == 1; }, 5000)) << "JPG was not chosen";
    RECT r{};
    GetWindowRect(dialog, &r);
    PumpFor(300);
    GrabScreen(r).Save("kelvora_options_dialog.png");
    click(GetDlgItem(dialog, TfrmOption::Button2));  // "Сохранить"
    EXPECT_TRUE(PumpUntil([&] { return IniValue("Format") == "JPG"; }, 5000))
        << "Settings.ini holds Format=" << IniValue("Format");
    EXPECT_EQ(IniValue("OutputDir"), settings_.OutputDir);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(dialog); }, 5000));

    MoveMouse(1700, 1000);
    PressShift('X');
    std::string made;
    EXPECT_TRUE(PumpUntil(
        [&] {
            const std::vector<std::string> files = FilesIn(OutFolder());
            made = files.empty() ? std::string() : files[0];
            return fs::path(made).extension() == ".jpg";
        },
        10000))
        << "Shift+X made " << made;
    if (!made.empty()) {
        Note("settings-screenshot", made, "picture");
    }
    kelvora_->Terminate();
}

// The recording area chosen in the tray's submenu is kept in Settings.ini and
// read back by the next run: "Выделить область…" then makes Shift+R open the
// rectangle selection; Esc cancels it, and a drag over the pattern with a
// Ctrl+click records exactly that rectangle. While it records, the tray
// icon's tip counts the time; afterwards it is "Kelvora" again.
TEST_F(KelvoraE2e, AreaFromTheTrayMenuAndTheTipWhileRecording) {
    Prepare("area");
    settings_.Codec = "1";  // ZMBV
    Launch();
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_NE(menu.OpenSubmenu(TrayMenu::kArea, 4), nullptr) << "no submenu";
        ASSERT_TRUE(menu.ChooseInSubmenu(1));  // "Выделить область…"
    }
    EXPECT_EQ(IniValue("RegionType"), "1");
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kExit));
    }
    ASSERT_TRUE(kelvora_->WaitExit(20000));
    Launch(false);  // the Settings.ini the first run left
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_NE(menu.OpenSubmenu(TrayMenu::kArea, 4), nullptr) << "no submenu";
        RECT both{};
        const RECT main = menu.Rect(), sub = menu.SubmenuRect();
        UnionRect(&both, &main, &sub);
        GrabScreen(both).Save("kelvora_tray_menu_area.png");
        menu.Dismiss();
    }
    EXPECT_EQ(KelvoraTip(), L"Kelvora");

    PressShift('R');
    HWND selection = WaitSelection();
    ASSERT_NE(selection, nullptr) << "Shift+R opened no rectangle selection";
    Key(VK_ESCAPE, true);
    Key(VK_ESCAPE, false);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(selection); }, 5000));
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    // The program notices the cancel on its state timer's next tick.
    EXPECT_TRUE(PumpUntil([&] { return MenuFirstItem() == 'r'; }, 10000))
        << "the menu kept \"Остановить\" after Esc";

    // Stop (Shift+S) while the selection shows cancels it and the start
    // that waited for it: nothing records, the menu offers "Записать".
    PressShift('R');
    selection = WaitSelection();
    ASSERT_NE(selection, nullptr);
    PressShift('S');
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(selection); }, 5000))
        << "Stop left the selection open";
    EXPECT_TRUE(PumpUntil([&] { return MenuFirstItem() == 'r'; }, 10000));
    PumpFor(500);
    EXPECT_FALSE(fs::exists(VideoTempPath())) << "a recording started after Stop";

    PressShift('R');
    selection = WaitSelection();
    ASSERT_NE(selection, nullptr);
    const RECT area{kPatternLeft, kPatternTop, kPatternLeft + rp::kWidth, kPatternTop + rp::kHeight};
    MoveMouse(area.left, area.top);
    PumpFor(100);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    // The selection takes the press where the cursor is when it handles it.
    PumpFor(300);
    MoveMouse(area.left + 100, area.top + 100);
    PumpFor(100);
    MoveMouse(area.right, area.bottom);
    PumpFor(100);
    MouseButton(MOUSEEVENTF_LEFTUP);
    PumpFor(300);
    Key(VK_CONTROL, true);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    MouseButton(MOUSEEVENTF_LEFTUP);
    Key(VK_CONTROL, false);
    MoveMouse(1700, 1000);
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started));

    // The tip counts whole seconds: "0:00:01" and "0:00:02" both show.
    std::vector<std::wstring> tips;
    const std::wstring counting = L"Kelvora \u2014 запись 0:00:0";
    EXPECT_TRUE(PumpUntil(
        [&] {
            const std::wstring tip = KelvoraTip();
            if (tips.empty() || tips.back() != tip) {
                tips.push_back(tip);
            }
            return tip == counting + L"2";
        },
        20000));
    EXPECT_NE(std::find(tips.begin(), tips.end(), counting + L"1"), tips.end());
    // The recording's start reaches the program's UI thread a moment after
    // its file appears: until then the tip may still be the idle one.
    while (!tips.empty() && tips.front() == L"Kelvora") {
        tips.erase(tips.begin());
    }
    for (const std::wstring& tip : tips) {
        EXPECT_EQ(tip.rfind(counting, 0), 0u) << "tip while recording";
    }
    PumpFor(3000 - std::min<DWORD>(3000, GetTickCount() - started));
    PressShift('S');
    const DWORD recorded = GetTickCount() - started;
    bool savingShown = false;
    ASSERT_TRUE(PumpUntil(
        [&] {
            savingShown = savingShown || KelvoraTip().rfind(L"Kelvora \u2014 сохранение ", 0) == 0;
            return !fs::exists(VideoTempPath()) && Avis().size() == 1;
        },
        120000));
    // Not asserted (a short save may end between two looks): its percent.
    std::printf("area: the saving tip was %sseen\n", savingShown ? "" : "not ");
    EXPECT_TRUE(PumpUntil([] { return KelvoraTip() == L"Kelvora"; }, 10000)) << "tip after saving";
    Note("area-rectangle", Avis()[0], "recording", recorded, area);
    // The area was small, so the preview stayed on: no selection opens by
    // itself now that the recording is over (it would have opened a tick
    // after the recording stopped, before the save).
    PumpFor(300);
    EXPECT_EQ(kelvora_->TopWindowOfClass(L"KelvoraFreeHandWindow"), nullptr)
        << "a selection opened after the recording";
    EXPECT_EQ(MenuFirstItem(), 'r');
    kelvora_->Terminate();
}

// A killed recording comes back on the next start: into the output folder,
// named by the temporary file's last write, the user told where in a
// "Kelvora" box owned by the main window, the temporary file gone. Without an
// output folder it goes to the temporary folder. A normal start shows no box.
TEST_F(KelvoraE2e, RecordingCutOffByAKillIsRecoveredAtTheNextStart) {
    Prepare("recovery");
    settings_.Codec = "1";  // ZMBV
    Launch();
    PumpFor(1500);
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr) << "a normal start showed a box";

    // Records ~3 s and kills the program; the temporary file's stamp.
    auto recordAndKill = [&](DWORD* recorded) {
        PressShift('R');
        DWORD started = 0;
        EXPECT_TRUE(WaitRecordingStarted(&started));
        PumpFor(3000);
        kelvora_->Terminate();
        *recorded = GetTickCount() - started;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        FILETIME local{};
        SYSTEMTIME t{};
        EXPECT_TRUE(GetFileAttributesExA(VideoTempPath().c_str(), GetFileExInfoStandard, &data))
            << "no temporary file after the kill";
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &t);
        return TimeStamp({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
    };
    // The recovered file's name in `folder`: "<stamp> (восстановлено).avi",
    // or its Latin spelling where the ANSI code page has no Cyrillic.
    auto recoveredIn = [](const std::string& folder, const std::string& stamp) {
        for (const std::string& f : FilesIn(folder)) {
            if (f == stamp + " (восстановлено).avi" || f == stamp + " (vosstanovleno).avi") {
                return f;
            }
        }
        return std::string();
    };
    auto expectRecoveryBox = [&](const std::string& path) {
        HWND box = kelvora_->WaitMessageBox();
        ASSERT_NE(box, nullptr) << "no message box";
        const BoxTexts t = ReadMessageBox(box);
        EXPECT_EQ(t.caption, L"Kelvora");
        EXPECT_EQ(t.text, kRecovered + fs::path(path).wstring());
        EXPECT_EQ(GetWindow(box, GW_OWNER), kelvora_->MainWindow());
        EXPECT_TRUE(CloseMessageBox(box));
    };

    DWORD recorded = 0;
    std::string stamp = recordAndKill(&recorded);
    Launch(false);
    std::string name = recoveredIn(OutFolder(), stamp);
    ASSERT_FALSE(name.empty()) << "nothing recovered for " << stamp;
    expectRecoveryBox(settings_.OutputDir + name);
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    EXPECT_EQ(Avis().size(), 1u);
    Note("recovered-output", name, "recovered", recorded);

    // The same without an output folder: the temporary folder takes it.
    stamp = recordAndKill(&recorded);
    settings_.writeOutputDir = false;
    WriteIni();
    Launch(false);
    const std::string tempDir = fs::path(VideoTempPath()).parent_path().string();
    name = recoveredIn(tempDir, stamp);
    ASSERT_FALSE(name.empty()) << "nothing recovered into " << tempDir;
    expectRecoveryBox(tempDir + "\\" + name);
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    EXPECT_EQ(Avis().size(), 1u);
    // Moved beside the case's files for the host check.
    fs::create_directories(case_ / "temp");
    fs::copy_file(fs::path(tempDir) / name, case_ / "temp" / name);
    fs::remove(fs::path(tempDir) / name);
    Note("recovered-temp", name, "recovered", recorded, {}, "temp");
    kelvora_->Terminate();
}

// The file's bytes; empty when it cannot be read.
std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How many names the file has; 0 when it cannot be opened.
DWORD Links(const fs::path& file) {
    win32::File f(CreateFileW(file.wstring().c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return f && GetFileInformationByHandle(f.get(), &info) ? info.nNumberOfLinks : 0;
}

// A user's file hard-linked under the temporary file's name, as anyone can
// plant one in a shared temporary folder: the start (recovery and wipe) only
// takes the link's name away, and a recording goes into a new file of its
// own; the user's file keeps its bytes throughout.
TEST_F(KelvoraE2e, UserFileLinkedAsTheTemporaryFileKeepsItsBytes) {
    Prepare("linked-temp");
    const fs::path user = case_ / "user's file.bin";
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::ofstream(user, std::ios::binary) << bytes;
    const std::wstring temp = fs::path(VideoTempPath()).wstring();
    ASSERT_TRUE(CreateHardLinkW(temp.c_str(), user.wstring().c_str(), nullptr));
    ASSERT_EQ(Links(user), 2u);

    Launch();
    PumpFor(1500);
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr) << "a linked file is no recording of ours";
    EXPECT_EQ(Bytes(user), bytes) << "written through the link at the start";
    EXPECT_EQ(Links(user), 1u) << "the link keeps its name";

    ASSERT_TRUE(CreateHardLinkW(temp.c_str(), user.wstring().c_str(), nullptr));
    PressShift('R');
    // Recording once the name is a file of its own.
    ASSERT_TRUE(PumpUntil([&] { return Links(user) == 1 && fs::exists(temp); }, 20000));
    const DWORD started = GetTickCount();
    PumpFor(2500);
    PressShift('S');
    const DWORD recorded = GetTickCount() - started;
    ASSERT_TRUE(WaitSaved(1));
    EXPECT_EQ(Bytes(user), bytes) << "written through the link by the recording";
    Note("linked-temp", Avis()[0], "recording", recorded);
    kelvora_->Terminate();
}

// Kelvora.exe in a folder whose name no ANSI code page spells: the
// Settings.ini beside it is read (its record key, its output folder) and
// written (the area chosen in the tray menu).
TEST_F(KelvoraE2e, ProgramInAFolderNamedOutsideTheCodePageKeepsItsSettings) {
    Prepare("unicode-folder");
    const fs::path app = case_ / L"app \u03A9\u65E5";
    const fs::path ini = app / "Settings.ini";
    fs::create_directories(app);
    ASSERT_TRUE(WriteSettings(ini, settings_));
    std::ofstream(ini, std::ios::app) << "HotKeyRecord=1618\r\n";  // Ctrl+Alt+R
    kelvora_ = std::make_unique<KelvoraProcess>();
    ASSERT_TRUE(kelvora_->Start(fs::current_path() / "shell" / "Kelvora.exe", app));
    ASSERT_TRUE(PumpUntil([] { return ShiftHotKeyHeld('S') && ShiftHotKeyHeld('X'); }, 20000));
    EXPECT_FALSE(ShiftHotKeyHeld('R')) << "the record key of its Settings.ini was not read";

    const WORD keys[] = {VK_CONTROL, VK_MENU, 'R'};
    for (WORD vk : keys) {
        Key(vk, true);
    }
    for (int i = 2; i >= 0; --i) {
        Key(keys[i], false);
    }
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started)) << "Ctrl+Alt+R started no recording";
    PumpFor(1000);
    PressShift('S');
    EXPECT_TRUE(WaitSaved(1)) << "nothing saved in the output folder of its Settings.ini";
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_NE(menu.OpenSubmenu(TrayMenu::kArea, 4), nullptr) << "no submenu";
        ASSERT_TRUE(menu.ChooseInSubmenu(3));  // "Следовать за курсором"
    }
    wchar_t area[16] = {};
    EXPECT_TRUE(PumpUntil(
        [&] {
            GetPrivateProfileStringW(L"Options", L"RegionType", L"", area, 16,
                                     ini.wstring().c_str());
            return std::wstring(area) == L"2";
        },
        5000))
        << "RegionType=" << fs::path(area).string();
    kelvora_->Terminate();
}

// Logoff or shutdown while recording: Windows asks the program's windows
// (WM_QUERYENDSESSION), tells them (WM_ENDSESSION) and may end the process
// as soon as that returns. The recording stops at the question and is saved,
// with its index, before the answer to the end returns; the program then
// ends by itself. The host check decodes the file whole.
TEST_F(KelvoraE2e, EndOfTheSessionWhileRecordingSavesTheFileWhole) {
    Prepare("end-session");
    settings_.Codec = "1";  // ZMBV
    Launch();
    PressShift('R');
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started));
    PumpFor(2500);
    const HWND main = kelvora_->MainWindow();
    DWORD_PTR answer = FALSE;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                    30000, &answer));
    const DWORD recorded = GetTickCount() - started;
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the user's logoff is let through";
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                    120000, &ignored));
    // From here the system may end the process at any moment.
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    const std::vector<std::string> avis = Avis();
    ASSERT_EQ(avis.size(), 1u);
    const std::string file = Bytes(fs::path(OutFolder()) / avis[0]);
    EXPECT_NE(file.find("idx1"), std::string::npos) << "no index";
    ExpectExitLeavesNothing();
    Note("end-session", avis[0], "recording", recorded);
}

// ---- Sound (the private PulseAudio of the test script: what is played into
// its null sink is what the default input records) ----

// RecordAudio=1 with a 1 kHz tone playing: the recording has the picture
// and the tone (the host check measures it); RecordAudio=0 records the
// picture alone, as without the keys.
TEST_F(KelvoraE2e, SoundOfATonePlayingIsRecordedAndOffRecordsNone) {
    if (!SoundServerRunning()) {
        GTEST_SKIP() << "no private PulseAudio (scripts/test.sh starts one)";
    }
    Prepare("sound-tone");
    settings_.Codec = "1";  // ZMBV
    WriteIni();
    ASSERT_TRUE(WriteSoundKeys(Ini(), true, ""));
    Launch(false);
    const std::string tone = (case_ / "tone.wav").string();
    ASSERT_TRUE(WriteToneWav(tone, 12));
    ASSERT_TRUE(PlayWithPaplay(tone));
    PumpFor(1000);
    RecordWithHotKeys("sound-tone", 5000);
    NoteSound("sound-tone", "tone");
    EXPECT_EQ(TrayBalloon(), L"") << "no sound problem";

    ASSERT_TRUE(WriteSoundKeys(Ini(), false, ""));  // read before each command
    RecordWithHotKeys("sound-off", 2000);
    NoteSound("sound-off", "none");
    kelvora_->Terminate();
}

// The window over the pattern turns white the moment the click plays: in the
// file the click and the first white frame are close (the host check
// measures and prints the offset).
TEST_F(KelvoraE2e, SoundStaysInStepWithThePicture) {
    if (!SoundServerRunning()) {
        GTEST_SKIP() << "no private PulseAudio (scripts/test.sh starts one)";
    }
    Prepare("sound-sync");
    settings_.Codec = "1";
    WriteIni();
    ASSERT_TRUE(WriteSoundKeys(Ini(), true, ""));
    Launch(false);
    win32::Window flash;
    RecordWithHotKeys("sound-sync", 4000, [&] {
        PumpFor(1500);
        flash = PlayClickAndFlash({kPatternLeft, kPatternTop, kPatternLeft + rp::kWidth,
                                   kPatternTop + rp::kHeight});
        ASSERT_TRUE(flash) << "the click did not play";
    });
    NoteSound("sound-sync", "click");
    kelvora_->Terminate();
}

// A device that is not there: the picture is recorded, the balloon names
// the reason, and the sound is silence as long as the picture.
TEST_F(KelvoraE2e, MissingSoundDeviceCostsThePictureNothing) {
    Prepare("sound-missing-device");
    settings_.Codec = "1";
    WriteIni();
    ASSERT_TRUE(WriteSoundKeys(Ini(), true, "No Such Microphone"));
    Launch(false);
    std::wstring balloon;
    RecordWithHotKeys("sound-missing-device", 3000, [&] {
        PumpUntil([&] { return !(balloon = TrayBalloon()).empty(); }, 10000);
    });
    EXPECT_EQ(balloon,
              L"Звук не записывается: устройство записи «No Such Microphone» не найдено");
    NoteSound("sound-missing-device", "silence");
    kelvora_->Terminate();
}

// A recording with sound killed: the next start recovers both streams.
TEST_F(KelvoraE2e, RecordingWithSoundCutOffByAKillIsRecoveredWithItsSound) {
    Prepare("sound-recovered");
    settings_.Codec = "1";
    WriteIni();
    ASSERT_TRUE(WriteSoundKeys(Ini(), true, ""));
    Launch(false);
    PressShift('R');
    DWORD started = 0;
    ASSERT_TRUE(WaitRecordingStarted(&started));
    PumpFor(3000);
    kelvora_->Terminate();
    const DWORD recorded = GetTickCount() - started;
    Launch(false);
    HWND box = kelvora_->WaitMessageBox();
    ASSERT_NE(box, nullptr) << "no recovery";
    EXPECT_EQ(ReadMessageBox(box).text.rfind(kRecovered, 0), 0u);
    EXPECT_TRUE(CloseMessageBox(box));
    const std::vector<std::string> avis = Avis();
    ASSERT_EQ(avis.size(), 1u);
    Note("sound-recovered", avis[0], "recovered", recorded);
    NoteSound("sound-recovered", "any");
    kelvora_->Terminate();
}

}  // namespace
}  // namespace kelvora::test
