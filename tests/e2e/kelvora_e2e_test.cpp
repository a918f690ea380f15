// Kelvora.exe end to end under Wine: the program a user runs, started in a
// folder of its own with a prepared Settings.ini, driven by real input (its
// global hot keys through SendInput, its tray menu clicked in Wine's tray)
// while a moving pattern shows on the screen. What it leaves on disk is
// noted beside the files; kelvora_e2e_check_test.cpp reads the recordings
// and pictures with ffprobe and ffmpeg on the host.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "shell/file_names.h"
#include "shell/options_dialog.h"
#include "tests/e2e/kelvora_driver.h"
#include "tests/e2e/sound_probe.h"
#include "tests/engine/recording_pattern.h"
#include "tests/support/desktop.h"

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
namespace rp = recording_pattern;

constexpr wchar_t kNoFolder[] = L"Внимание! Вы не выбрали папку для сохранения!";
constexpr wchar_t kMissingFolder[] = L"Внимание! Папка для сохранения не существует!";
constexpr wchar_t kNoCodec[] = L"Внимание! Вы не выбрали кодек!";
constexpr wchar_t kRecordError[] = L"Ошибка записи";
constexpr wchar_t kRecovered[] =
    L"Запись, прерванная при прошлом запуске программы, восстановлена:\n";
constexpr wchar_t kStillSaving[] = L"Предыдущая запись ещё сохраняется";

// Shift+R, a few seconds of the moving pattern, Shift+S, with each built-in
// compressor chosen by its catalogue index (MSVC, ZMBV, MJPG, DIB): one
// file per recording.
TEST_F(KelvoraE2e, HotKeysRecordWithEachBuiltInCompressor) {
    Prepare("hotkeys");
    Launch();
    const char* names[] = {"msvc", "zmbv", "mjpg", "dib"};
    for (int codec = 0; codec < 4; ++codec) {
        SCOPED_TRACE(names[codec]);
        settings_.Codec = std::to_string(codec);
        WriteIni();
        const std::string made = RecordWithHotKeys(std::string("hotkeys-") + names[codec], 2000);
        ASSERT_FALSE(made.empty());
        EXPECT_TRUE(kelvora_->Running());
    }
    EXPECT_EQ(Avis().size(), 4u);
    EXPECT_EQ(FilesIn(OutFolder()).size(), 4u);
    EXPECT_EQ(MenuFirstItem(), 'r');
}

// Hot keys out of turn: Shift+S while idle does nothing; while recording,
// Shift+R does nothing (a Record would warn: the folder is unset then) and
// Shift+X saves a picture without stopping. The keys leave the keyboard
// with the program the user works in.
TEST_F(KelvoraE2e, HotKeysWhileRecordingTakeAPictureAndLeaveTheRecordingRunning) {
    Prepare("hotkeys-during");
    Launch();
    PressShift('S');  // idle: nothing to stop
    ExpectNothingHappens({});

    EditWindow editor;
    editor.Focus();
    ASSERT_TRUE(editor.HasKeyboard());
    const std::string made = RecordWithHotKeys("hotkeys-during", 2500, [&] {
        EXPECT_TRUE(editor.HasKeyboard()) << "Shift+R took the keyboard";
        const std::string folder = settings_.OutputDir;
        settings_.OutputDir.clear();
        WriteIni();
        PressShift('R');  // recording already: ignored
        EXPECT_TRUE(kelvora_->WaitHandled()) << "Kelvora.exe did not answer";
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
    });
    ASSERT_FALSE(made.empty());
    EXPECT_TRUE(kelvora_->Running());
    // The recording and the one picture.
    EXPECT_EQ(Avis().size(), 1u);
    EXPECT_EQ(FilesIn(OutFolder()).size(), 2u);
    EXPECT_EQ(MenuFirstItem(), 'r');
}

// The three warnings of Record, each a "Kelvora" box with its text, the
// menu still offering "Записать"; Shift+R typed into another program's
// window is taken by Kelvora and never reaches that window.
TEST_F(KelvoraE2e, RecordWarnsAndHotKeysNeverReachOtherWindows) {
    Prepare("warnings");
    // First run: no Settings.ini at all.
    fs::create_directories(case_ / "app");
    StartProgram();
    ASSERT_TRUE(kelvora_->WaitUp()) << kelvora_->State();

    EditWindow editor;
    editor.Focus();
    Key('K', true);
    Key('K', false);
    ASSERT_TRUE(PumpUntil([&] { return editor.Text() == L"k"; }, 3000))
        << "the editor does not take keys";
    PressShift('R');
    ExpectBox(L"Kelvora", kNoFolder);
    // The wait for the box dispatched this thread's messages: a key that
    // reached the editor is typed by now.
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
}

// A record key chosen in Settings.ini (as the options dialog saves it):
// Ctrl+Alt+R records, and Shift+R is left to the other programs, where it
// types a capital R.
TEST_F(KelvoraE2e, ChosenHotKeyRecordsAndShiftRReachesOtherWindows) {
    Prepare("hot-keys");
    WriteIni();
    std::ofstream(Ini(), std::ios::app) << "HotKeyRecord=1618\r\n";  // Ctrl+Alt+R
    StartProgram();
    ASSERT_TRUE(kelvora_->WaitUp(20000, "SX")) << kelvora_->State();
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
    KeepRecording(started, 1000);
    PressShift('S');
    EXPECT_TRUE(WaitSaved(1));
}

// Shift+X saves BMP, JPG and PNG pictures named by the time.
TEST_F(KelvoraE2e, ScreenshotsInEachFormat) {
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
    EXPECT_EQ(FilesIn(OutFolder()).size(), 3u);
}

// A screenshot format in the wrong case and a non-integer quality save
// nothing and say nothing.
TEST_F(KelvoraE2e, ScreenshotSettingsItCannotReadSaveNothingAndSayNothing) {
    Prepare("screenshot-settings");
    settings_.Format = "jpg";
    Launch();
    PressShift('X');
    ExpectNothingHappens({});
    settings_.Format = "JPG";
    settings_.Compress = "abc";
    WriteIni();
    PressShift('X');
    ExpectNothingHappens({});
}

// A screenshot into a folder that takes no files shows the "Error" box and
// leaves nothing there.
TEST_F(KelvoraE2e, ScreenshotIntoAFolderThatTakesNoFilesShowsAnError) {
    Prepare("screenshot-error");
    // Linux's sysfs through Wine's drive of the whole file system: no new
    // files there, even for root.
    settings_.Format = "BMP";
    settings_.OutputDir = "Z:\\sys\\";
    Launch();
    std::vector<std::string> sysBefore = FilesIn("Z:\\sys");
    PressShift('X');
    HWND box = kelvora_->WaitMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ReadMessageBox(box).caption, L"Error");
    EXPECT_FALSE(ReadMessageBox(box).text.empty());
    EXPECT_TRUE(CloseMessageBox(box));
    EXPECT_EQ(FilesIn("Z:\\sys"), sysBefore);
}

// A recording the camera cannot make (a compressor index beyond the
// catalogue) shows "Ошибка записи", and the menu offers "Записать" again: it
// follows the camera, which records nothing.
TEST_F(KelvoraE2e, FailedRecordingShowsAnErrorAndTheMenuOffersRecordAgain) {
    Prepare("failures");
    settings_.Codec = "99";
    Launch();
    PressShift('R');
    ExpectBox(L"Error", kRecordError);
    EXPECT_TRUE(PumpUntil([&] { return MenuFirstItem() == 'r'; }, 10000))
        << "the menu offers a stop of nothing";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    EXPECT_TRUE(Avis().empty());
}

// A second Kelvora.exe started while the first records ends at once,
// silently, and the first goes on recording.
TEST_F(KelvoraE2e, SecondInstanceEndsAtOnceAndTheFirstRecordsOn) {
    Prepare("second-instance");
    settings_.Codec = "1";  // ZMBV
    Launch();
    DWORD started = 0;
    ASSERT_TRUE(StartRecordingWithHotKey(&started));

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
}

// Exit from the menu while recording saves the file and ends the program
// with its hot keys freed and no temporary file left.
TEST_F(KelvoraE2e, ExitWhileRecordingSavesTheFileAndEnds) {
    Prepare("exit-while-recording");
    settings_.Codec = "1";  // ZMBV
    Launch();
    SYSTEMTIME pressed{}, seen{};
    DWORD started = 0;
    ASSERT_TRUE(StartRecordingWithHotKey(&started, &pressed, &seen));
    KeepRecording(started, 2500);
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

// The tray menu records and stops: "Записать", later "Остановить", and
// "Записать" again once saved. The user has a file of the recording's name
// already (as two recordings started in one second leave it): it stays, and
// the recording takes "<time> (2).avi". Pictures of the menu are left for
// reviewers.
TEST_F(KelvoraE2e, TrayMenuRecordsAndStopsBesideTheUsersFileOfTheSameName) {
    Prepare("tray");
    settings_.Codec = "2";  // MJPG
    Launch();
    SYSTEMTIME pressed{}, seen{};
    DWORD started = 0;
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        const RECT r = menu.Rect();
        EXPECT_TRUE(WaitPainted(r));
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
    KeepRecording(started, 2000);
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        EXPECT_EQ(menu.FirstItem(), 's');
        EXPECT_TRUE(WaitPainted(menu.Rect()));
        GrabScreen(menu.Rect()).Save("kelvora_tray_menu_recording.png");
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
    EXPECT_EQ(MenuFirstItem(), 'r');
}

// "О программе" in the tray menu shows the About box; its picture is left
// for reviewers.
TEST_F(KelvoraE2e, AboutBoxFromTheTrayMenu) {
    Prepare("about");
    Launch();
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kAbout));  // "О программе"
    }
    HWND about = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] { return (about = kelvora_->TopWindowOfClass(L"TAboutBox")) != nullptr; }, 5000));
    RECT r{};
    GetWindowRect(about, &r);
    EXPECT_TRUE(WaitPainted(r)) << "the About box was not painted";
    GrabScreen(r).Save("kelvora_about_box.png");
    PostMessageW(about, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(about); }, 5000));
}

// "Выйти" in the tray menu ends the program: exit code 0, the hot keys
// free, the tray icon gone, no temporary file.
TEST_F(KelvoraE2e, ExitFromTheTrayMenuLeavesNothing) {
    Prepare("exit");
    Launch();
    TrayMenu menu;
    ASSERT_TRUE(menu.Open());
    ASSERT_TRUE(menu.Choose(TrayMenu::kExit));  // "Выйти"
    ExpectExitLeavesNothing();
}

// While a long uncompressed recording is being saved, Record does not start
// another: a balloon says why and the menu stays. The save is held while the
// test acts (the program's threads but the UI thread are paused), so that
// all of it happens during the save on any machine.
TEST_F(KelvoraE2e, RecordDuringASaveSaysWhyInABalloon) {
    Prepare("record-during-save");
    settings_.Codec = "3";  // DIB: large frames, a long save
    Launch();
    const std::vector<DWORD> idleThreads = ThreadsOf(kelvora_->Pid());
    DWORD started = 0;
    ASSERT_TRUE(StartRecordingWithHotKey(&started));
    KeepRecording(started, 1500);
    PressShift('S');
    const std::unique_ptr<PausedThreads> save = HoldTheSave(idleThreads);
    ASSERT_NE(save, nullptr);

    PressShift('R');
    HWND balloon = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return TrayBalloon(&balloon) == kStillSaving; }, 10000))
        << "no balloon; the tray shows \"" << TrayBalloon() << "\"";
    EXPECT_TRUE(SaveBalloonPicture(balloon, "kelvora_balloon_still_saving.png"))
        << "the balloon was not painted";
    EXPECT_EQ(MenuFirstItem(), 'r') << "Record during the save changed the menu";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr);
    EXPECT_TRUE(fs::exists(VideoTempPath())) << "the save ended while held";
}

// Exit chosen while a long recording is being saved waits for the save,
// which completes, then the program ends. The save is held (as above) while
// Exit is chosen.
TEST_F(KelvoraE2e, ExitDuringALongSaveKeepsTheFile) {
    Prepare("long-save");
    settings_.Codec = "3";  // DIB: large frames, a long save
    Launch();
    const std::vector<DWORD> idleThreads = ThreadsOf(kelvora_->Pid());
    SYSTEMTIME pressed{}, seen{};
    DWORD started = 0;
    ASSERT_TRUE(StartRecordingWithHotKey(&started, &pressed, &seen));
    KeepRecording(started, 1500);  // the save is held: its length needs no more
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kRecordOrStop));  // "Остановить"
    }
    const DWORD recorded = GetTickCount() - started;
    const std::unique_ptr<PausedThreads> save = HoldTheSave(idleThreads);
    ASSERT_NE(save, nullptr);

    ASSERT_TRUE(fs::exists(VideoTempPath()));
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_TRUE(menu.Choose(TrayMenu::kExit));  // "Выйти", during the save
    }
    // A close that did not wait would end the process a moment after the
    // command; a close that waits shows nothing to wait for, so time is given.
    PumpFor(500);
    EXPECT_TRUE(kelvora_->Running()) << "Exit did not wait for the save";
    save->Resume();
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
        PointAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        MouseButton(MOUSEEVENTF_LEFTDOWN);
        MouseButton(MOUSEEVENTF_LEFTUP);
    };
    HWND format = GetDlgItem(dialog, TfrmOption::formatscr);
    ASSERT_NE(format, nullptr);
    const auto selected = [&] { return SendMessageW(format, CB_GETCURSEL, 0, 0); };
    EXPECT_EQ(selected(), 2) << "the dialog shows PNG, as Settings.ini holds it";
    click(format);
    ASSERT_TRUE(
        PumpUntil([&] { return SendMessageW(format, CB_GETDROPPEDSTATE, 0, 0) != 0; }, 5000))
        << "the list did not open";
    Key(VK_UP, true);
    Key(VK_UP, false);
    Key(VK_RETURN, true);
    Key(VK_RETURN, false);
    ASSERT_TRUE(PumpUntil([&] { return selected() == 1; }, 5000)) << "JPG was not chosen";
    RECT r{};
    GetWindowRect(dialog, &r);
    EXPECT_TRUE(
        PumpUntil([&] { return SendMessageW(format, CB_GETDROPPEDSTATE, 0, 0) == 0; }, 5000))
        << "the list stayed open";
    EXPECT_TRUE(WaitPainted(r)) << "the dialog was not painted";
    GrabScreen(r).Save("kelvora_options_dialog.png");
    click(GetDlgItem(dialog, TfrmOption::Button2));  // "Сохранить"
    // The file is rewritten key by key while the click is handled, and a
    // read may fall between two writes: the values are taken from one look
    // at which both keys are there.
    std::string savedFormat, savedDir;
    EXPECT_TRUE(PumpUntil(
        [&] {
            savedFormat = IniValue("Format");
            savedDir = IniValue("OutputDir");
            return savedFormat == "JPG" && !savedDir.empty();
        },
        5000))
        << "Settings.ini holds Format=" << savedFormat;
    EXPECT_EQ(savedDir, settings_.OutputDir);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(dialog); }, 5000));

    MoveMouse(kAway.x, kAway.y);
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
// read back by the next run: after "Выделить область…" and a restart,
// Shift+R opens the rectangle selection. A picture of the submenu is left
// for reviewers.
TEST_F(KelvoraE2e, AreaChosenInTheTrayMenuIsKeptForTheNextRun) {
    Prepare("area");
    Launch();
    {
        TrayMenu menu;
        ASSERT_TRUE(menu.Open());
        ASSERT_NE(menu.OpenSubmenu(TrayMenu::kArea, 4), nullptr) << "no submenu";
        ASSERT_TRUE(menu.ChooseInSubmenu(1));  // "Выделить область…"
    }
    // Written when the program handles the command, after the menu closes.
    EXPECT_TRUE(PumpUntil([&] { return IniValue("RegionType") == "1"; }, 5000))
        << "Settings.ini holds RegionType=" << IniValue("RegionType");
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
        EXPECT_TRUE(WaitPainted(both));
        GrabScreen(both).Save("kelvora_tray_menu_area.png");
        menu.Dismiss();
    }
    PressShift('R');
    EXPECT_NE(WaitSelection(), nullptr) << "Shift+R opened no rectangle selection";
}

// Esc in the rectangle selection cancels it and the start that waited for
// it: nothing records, the menu offers "Записать".
TEST_F(KelvoraE2e, EscCancelsTheRectangleSelection) {
    Prepare("area-esc");
    settings_.RegionType = "1";  // "Выделить область…"
    Launch();
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
}

// Stop (Shift+S) while the selection shows cancels it and the start that
// waited for it: nothing records, the menu offers "Записать".
TEST_F(KelvoraE2e, StopWhileTheSelectionShowsCancelsTheStart) {
    Prepare("area-stop");
    settings_.RegionType = "1";  // "Выделить область…"
    Launch();
    PressShift('R');
    HWND selection = WaitSelection();
    ASSERT_NE(selection, nullptr);
    PressShift('S');
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(selection); }, 5000))
        << "Stop left the selection open";
    EXPECT_TRUE(PumpUntil([&] { return MenuFirstItem() == 'r'; }, 10000));
    // A wrong start would make its file a moment later, on the worker;
    // when none comes there is nothing to wait for but time.
    PumpFor(500);
    EXPECT_FALSE(fs::exists(VideoTempPath())) << "a recording started after Stop";
}

// The mouse capture of the thread that owns `window`.
HWND CaptureOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndCapture
                                                                              : nullptr;
}

// A drag over the pattern in the rectangle selection and a Ctrl+click
// record exactly that rectangle. While it records, the tray icon's tip
// counts the time; afterwards it is "Kelvora" again.
TEST_F(KelvoraE2e, RectangleDraggedInTheSelectionIsRecordedWhileTheTipCounts) {
    Prepare("area-rectangle");
    settings_.Codec = "1";       // ZMBV
    settings_.RegionType = "1";  // "Выделить область…"
    Launch();
    EXPECT_EQ(KelvoraTip(), L"Kelvora");

    PressShift('R');
    HWND selection = WaitSelection();
    ASSERT_NE(selection, nullptr);
    const RECT area{kPatternLeft, kPatternTop, kPatternLeft + rp::kWidth,
                    kPatternTop + rp::kHeight};
    // The selection draws a blue cross through the pointer once it is on
    // the screen and takes the mouse: its vertical line, below the pattern.
    // The pointer moves on the spot until then, so that a move reaches it.
    const RECT below{area.left, area.bottom + 60, area.left + 1, area.bottom + 61};
    int wiggle = 0;
    ASSERT_TRUE(PollUntil(
        [&] {
            PointAt(area.left, area.top + (++wiggle & 1));
            const ScreenPicture line = GrabScreen(below);
            return line.ok && line.px[0] == 0x0000FF;
        },
        10000))
        << "the selection does not follow the pointer";
    PointAt(area.left, area.top);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    // The selection takes the press where the pointer is when it handles
    // it; it holds the mouse from then on.
    ASSERT_TRUE(PumpUntil([&] { return CaptureOf(selection) == selection; }, 5000))
        << "the selection did not take the press";
    PointAt(area.left + 100, area.top + 100);
    PointAt(area.right, area.bottom);
    MouseButton(MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpUntil([&] { return CaptureOf(selection) != selection; }, 5000))
        << "the selection did not take the release";
    Key(VK_CONTROL, true);
    MouseButton(MOUSEEVENTF_LEFTDOWN);
    MouseButton(MOUSEEVENTF_LEFTUP);
    Key(VK_CONTROL, false);
    MoveMouse(kAway.x, kAway.y);
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
    KeepRecording(started, 3000);
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
    EXPECT_TRUE(kelvora_->WaitHandled()) << "Kelvora.exe did not answer";
    EXPECT_EQ(kelvora_->TopWindowOfClass(L"KelvoraFreeHandWindow"), nullptr)
        << "a selection opened after the recording";
    EXPECT_EQ(MenuFirstItem(), 'r');
}

// Records ~3 s with Shift+R and kills the program; the temporary file's
// stamp, as a recovered file is named.
std::string RecordAndKill(KelvoraProcess& kelvora, DWORD* recorded) {
    PressShift('R');
    DWORD started = 0;
    EXPECT_TRUE(PumpUntil([] { return fs::exists(VideoTempPath()); }, 20000))
        << "no recording started";
    started = GetTickCount();
    PumpFor(3000);  // the recording's length
    kelvora.Terminate();
    *recorded = GetTickCount() - started;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local{};
    SYSTEMTIME t{};
    EXPECT_TRUE(GetFileAttributesExA(VideoTempPath().c_str(), GetFileExInfoStandard, &data))
        << "no temporary file after the kill";
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &t);
    return TimeStamp({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
}

// The recovered file's name in `folder`: "<stamp> (восстановлено).avi",
// or its Latin spelling where the ANSI code page has no Cyrillic.
std::string RecoveredIn(const std::string& folder, const std::string& stamp) {
    for (const std::string& f : FilesIn(folder)) {
        if (f == stamp + " (восстановлено).avi" || f == stamp + " (vosstanovleno).avi") {
            return f;
        }
    }
    return std::string();
}

// The "Kelvora" box that tells where the recovered file is, owned by the
// main window; closed.
void ExpectRecoveryBox(const KelvoraProcess& kelvora, const std::string& path) {
    HWND box = kelvora.WaitMessageBox();
    ASSERT_NE(box, nullptr) << "no message box";
    const BoxTexts t = ReadMessageBox(box);
    EXPECT_EQ(t.caption, L"Kelvora");
    EXPECT_EQ(t.text, kRecovered + fs::path(path).wstring());
    EXPECT_EQ(GetWindow(box, GW_OWNER), kelvora.MainWindow());
    EXPECT_TRUE(CloseMessageBox(box));
}

// A killed recording comes back on the next start: into the output folder,
// named by the temporary file's last write, the user told where in a
// "Kelvora" box owned by the main window, the temporary file gone. A normal
// start shows no box.
TEST_F(KelvoraE2e, RecordingCutOffByAKillIsRecoveredAtTheNextStart) {
    Prepare("recovery");
    settings_.Codec = "1";  // ZMBV
    Launch();
    EXPECT_TRUE(kelvora_->WaitHandled()) << "Kelvora.exe did not answer";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr) << "a normal start showed a box";

    DWORD recorded = 0;
    const std::string stamp = RecordAndKill(*kelvora_, &recorded);
    Launch(false);
    const std::string name = RecoveredIn(OutFolder(), stamp);
    ASSERT_FALSE(name.empty()) << "nothing recovered for " << stamp;
    ExpectRecoveryBox(*kelvora_, settings_.OutputDir + name);
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    EXPECT_EQ(Avis().size(), 1u);
    Note("recovered-output", name, "recovered", recorded);
}

// Without an output folder, a killed recording is recovered into the
// temporary folder, and the box names it there.
TEST_F(KelvoraE2e, RecordingCutOffWithoutAnOutputFolderIsRecoveredIntoTheTemporaryFolder) {
    Prepare("recovery-temp");
    settings_.Codec = "1";  // ZMBV
    Launch();
    DWORD recorded = 0;
    const std::string stamp = RecordAndKill(*kelvora_, &recorded);
    settings_.writeOutputDir = false;
    WriteIni();
    Launch(false);
    const std::string tempDir = fs::path(VideoTempPath()).parent_path().string();
    const std::string name = RecoveredIn(tempDir, stamp);
    ASSERT_FALSE(name.empty()) << "nothing recovered into " << tempDir;
    ExpectRecoveryBox(*kelvora_, tempDir + "\\" + name);
    EXPECT_FALSE(fs::exists(VideoTempPath()));
    EXPECT_EQ(Avis().size(), 0u) << "recovered into the output folder it no longer has";
    // Moved beside the case's files for the host check.
    fs::create_directories(case_ / "temp");
    fs::copy_file(fs::path(tempDir) / name, case_ / "temp" / name);
    fs::remove(fs::path(tempDir) / name);
    Note("recovered-temp", name, "recovered", recorded, {}, "temp");
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
    EXPECT_TRUE(kelvora_->WaitHandled()) << "Kelvora.exe did not answer";
    EXPECT_EQ(kelvora_->FindMessageBox(), nullptr) << "a linked file is no recording of ours";
    EXPECT_EQ(Bytes(user), bytes) << "written through the link at the start";
    EXPECT_EQ(Links(user), 1u) << "the link keeps its name";

    ASSERT_TRUE(CreateHardLinkW(temp.c_str(), user.wstring().c_str(), nullptr));
    PressShift('R');
    // Recording once the name is a file of its own.
    ASSERT_TRUE(PumpUntil([&] { return Links(user) == 1 && fs::exists(temp); }, 20000));
    const DWORD started = GetTickCount();
    KeepRecording(started, 2500);
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
    StartProgram(app);
    ASSERT_TRUE(kelvora_->WaitUp(20000, "SX")) << kelvora_->State();
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
    KeepRecording(started, 1000);
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
    DWORD started = 0;
    ASSERT_TRUE(StartRecordingWithHotKey(&started));
    KeepRecording(started, 2500);
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
    constexpr DWORD kToneMs = 8000;  // the first recording's first 6 s
    ASSERT_TRUE(WriteToneWav(tone, kToneMs / 1000));
    ASSERT_TRUE(PlayWithPaplay(tone));
    const DWORD toneEnds = GetTickCount() + kToneMs + 1000;  // with paplay's start
    PumpFor(1000);
    RecordWithHotKeys("sound-tone", 5000);
    NoteSound("sound-tone", "tone");
    EXPECT_EQ(TrayBalloon(), L"") << "no sound problem";

    ASSERT_TRUE(WriteSoundKeys(Ini(), false, ""));  // read before each command
    RecordWithHotKeys("sound-off", 2000);
    NoteSound("sound-off", "none");
    kelvora_->Terminate();
    // Played on, the tone would be in the next case's recording.
    PumpUntil([&] { return static_cast<LONG>(GetTickCount() - toneEnds) >= 0; }, kToneMs + 1000);
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
        flash = PlayClickAndFlash(
            {kPatternLeft, kPatternTop, kPatternLeft + rp::kWidth, kPatternTop + rp::kHeight});
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
        HWND window = nullptr;
        if (PumpUntil([&] { return !(balloon = TrayBalloon(&window)).empty(); }, 10000)) {
            EXPECT_TRUE(SaveBalloonPicture(window, "kelvora_balloon_no_sound.png"));
        }
    });
    EXPECT_EQ(balloon, L"Звук не записывается: устройство записи «No Such Microphone» не найдено");
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
