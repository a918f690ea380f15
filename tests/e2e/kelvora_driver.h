// Drives a running Kelvora.exe from another Wine process, as a user would:
// starts it in a folder of its own with a prepared Settings.ini, waits until
// its hidden main window and hot keys are there, presses Shift+R / S / X
// with SendInput, opens its tray menu in Wine's tray window and picks items,
// finds its message boxes and reads them, and ends it.
//
// Protocol: one KelvoraProcess at a time per display (the program is single
// instance and its hot keys are global). The owner ends the process when it
// goes: Exit through the menu or WM_CLOSE where a case wants the program's own
// close, TerminateProcess as the last resort, so no case leaves one behind.
// Everything runs on the caller's thread, which dispatches its own messages
// while it waits.
//
// KelvoraE2e, at the end, is the fixture of the end-to-end cases: a moving
// pattern on the screen for the whole suite, a scratch folder per case, the
// program started and ended, and notes beside the files it leaves for the
// host check (kelvora_e2e_check_test.cpp), one per tag.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "win32/handles.h"

namespace kelvora::test {

// What Settings.ini holds; every key written as given (an empty optional
// key is left out of the file).
struct KelvoraSettings {
    std::string OutputDir;  // Windows path, with its trailing backslash
    std::string Format = "PNG";
    std::string Compress;
    std::string Codec = "0";
    std::string VideoCompress = "100";
    std::string RegionType;  // the recording area's mode, as the tray menu keeps it
    bool writeOutputDir = true;
    bool writeCodec = true;
};

// Writes `settings` as [Options] into the file at `iniPath` (replacing it).
bool WriteSettings(const std::filesystem::path& iniPath, const KelvoraSettings& settings);

// The Windows form of a path the test names ("Z:\..." for a file of the
// host's tree), with backslashes.
std::string WindowsPath(const std::string& path);

// Kelvora's temporary recording ("~vstream.avi" in the temporary folder).
std::string VideoTempPath();

// True when another program holds Shift+`vk` as a hot key (our own
// registration of it fails); a successful registration is undone at once.
// Until then the probe holds the key itself, so a program that registers it
// at that moment finds it taken: probe only once the program has registered
// (KelvoraProcess::WaitUp).
bool ShiftHotKeyHeld(UINT vk);

// Shift+`vk` pressed and released through SendInput.
void PressShift(WORD vk);

// Files of `folder` (names only), sorted.
std::vector<std::string> FilesIn(const std::string& folder);

// True when `name` is "yyyy.MM.dd_hh-mm-ss" + `extension` for a local time
// from `before` to `after` (whole seconds).
bool NamedByTimeBetween(const std::string& name, const std::string& extension,
                        const SYSTEMTIME& before, const SYSTEMTIME& after);
// "yyyy.MM.dd_hh-mm-ss" + `extension` for each of `seconds` local seconds
// from `from` on.
std::vector<std::string> NamesByTime(const SYSTEMTIME& from, int seconds,
                                     const std::string& extension);

class KelvoraProcess {
  public:
    KelvoraProcess() = default;
    ~KelvoraProcess();
    KelvoraProcess(const KelvoraProcess&) = delete;
    KelvoraProcess& operator=(const KelvoraProcess&) = delete;

    // Copies `exe` into `folder` (created; a copy already there is kept) and
    // starts it there. Does not wait.
    bool Start(const std::filesystem::path& exe, const std::filesystem::path& folder);
    // Starts the copy already in `folder` once more (a second instance).
    bool StartAnother(win32::Handle* process) const;
    // Waits until the main window of this process, its tray icon (one more
    // than before the start) and its Shift+`shiftKeys` hot keys are there.
    bool WaitUp(DWORD timeoutMs = 20000, const char* shiftKeys = "RSX");
    // What a failed wait needs: running or the exit code, the main window,
    // the tray icon, the Shift hot keys held and a message box.
    std::string State() const;
    // WaitWindowHandled of the main window: the program's UI thread has
    // handled what reached it before the call (a hot key, a menu command).
    bool WaitHandled(DWORD timeoutMs = 10000) const;
    // Waits for the process to end; true when it has.
    bool WaitExit(DWORD timeoutMs);
    bool Running() const;
    DWORD ExitCode() const;
    // Ends the process at once (nothing saved) and waits for it.
    void Terminate();

    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_.get(); }
    HWND MainWindow() const;
    const std::filesystem::path& Folder() const { return folder_; }

    // A visible message box (#32770) of this process, or null.
    HWND FindMessageBox() const;
    // Waits for a message box; null after the timeout.
    HWND WaitMessageBox(DWORD timeoutMs = 10000) const;
    // A visible top-level window of this process of `cls` other than the
    // main window (About box), or null.
    HWND TopWindowOfClass(const wchar_t* cls) const;

  private:
    std::filesystem::path folder_;
    std::filesystem::path exe_;
    win32::Handle process_;
    DWORD pid_ = 0;
    size_t iconsBefore_ = 0;  // Wine's tray icons before the start
};

// Caption and text (the static text) of a message box of another process.
struct BoxTexts {
    std::wstring caption;
    std::wstring text;
};
BoxTexts ReadMessageBox(HWND box);
// Presses the box's OK (or its only button) and waits until it is gone.
bool CloseMessageBox(HWND box);

// Waits until Wine's tray shows no more than `keep` icons, passing the
// pointer over them so that the icons of ended programs go.
bool DropEndedTrayIcons(size_t keep, DWORD timeoutMs = 10000);

// The tip of a tray icon window, read from the tooltip control that Wine's
// tray keeps for it (in the tray's process); empty when none is found.
std::wstring TrayTip(HWND icon);
// The text of the balloon Wine's tray shows (a tooltip control of the
// balloon style), empty when none shows; *window (when given) receives it.
std::wstring TrayBalloon(HWND* window = nullptr);
// Saves a picture of the balloon `window` once it is painted under the test's
// output folder as `png`; false when it was not painted.
bool SaveBalloonPicture(HWND window, const char* png);

// Like PumpUntil, but asks `done` only every `pollMs`: for questions that
// cost Wine's server work (window lists, other processes' controls) while
// the program being waited for needs that server too.
bool PollUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs = 50);

// Waits until the thread of `window` (another process's) has handled what
// reached it before the call: false when it did not answer within
// `timeoutMs` or is gone.
bool WaitWindowHandled(HWND window, DWORD timeoutMs = 10000);

// Waits until the screen shows `area` painted and settled: two grabs in a
// row alike and not all of one colour. False after the timeout.
bool WaitPainted(const RECT& area, DWORD timeoutMs = 5000);

// Moves the pointer to (x, y) and waits until it is there.
bool PointAt(int x, int y);

// Far from the tray, the menus, the pattern and the test windows: the
// pointer rests here (it is drawn into recordings).
inline constexpr POINT kAway{1700, 1000};

// The threads of a process.
std::vector<DWORD> ThreadsOf(DWORD pid);
// Holds the threads of process `pid` but those in `keep` suspended until it
// goes (or Resume): a step of the program that would end too soon for a
// test to act during it is held there.
class PausedThreads {
  public:
    PausedThreads(DWORD pid, const std::vector<DWORD>& keep);
    ~PausedThreads();
    PausedThreads(const PausedThreads&) = delete;
    PausedThreads& operator=(const PausedThreads&) = delete;
    void Resume();
    size_t count() const { return paused_.size(); }

  private:
    std::vector<win32::Handle> paused_;
};

// Kelvora's tray menu, opened with a right click on its icon in Wine's
// tray. The menu is read from the screen (its items are in another
// process): five visible items of one height, the first "Записать" (a red
// dot) or "Остановить" (a grey square).
class TrayMenu {
  public:
    enum Item { kRecordOrStop, kArea, kSettings, kAbout, kExit, kItemCount };

    // Opens the menu; false when no icon or no menu shows.
    bool Open();
    // The shown menu window.
    HWND Window() const { return popup_; }
    RECT Rect() const { return rect_; }
    // What the first item shows: 'r' the record picture ("Записать"), 's'
    // the stop picture ("Остановить"), '?' neither.
    char FirstItem() const;
    // Clicks the item and waits until the menu is gone.
    bool Choose(Item item);
    // Points at `item` until its submenu shows; the submenu's window, or
    // null. `items` is how many items the submenu has.
    HWND OpenSubmenu(Item item, int items);
    RECT SubmenuRect() const { return subRect_; }
    // Clicks item `index` of the open submenu and waits until the menus are
    // gone.
    bool ChooseInSubmenu(int index);
    // Closes the menu without a choice.
    void Dismiss();

  private:
    HWND popup_ = nullptr;
    RECT rect_{};
    HWND sub_ = nullptr;
    RECT subRect_{};
    int subItems_ = 0;
};

// Another program's window with an edit control that has the keyboard.
class EditWindow {
  public:
    EditWindow();
    // Gives the edit control the keyboard and waits until it has it.
    void Focus();
    std::wstring Text() const;
    HWND edit() const { return edit_.get(); }
    // True while this window has the keyboard.
    bool HasKeyboard() const;

  private:
    win32::Window frame_;
    win32::Window edit_;
};

// Where the moving pattern shows; the host check crops the same rectangle.
inline constexpr int kPatternLeft = 200, kPatternTop = 150;

// The fixture of the end-to-end cases. Per case: Prepare(name) makes a
// fresh folder (the program in app\, its output in out\), settings_ is
// written as app\Settings.ini by Launch() or WriteIni(), and kelvora_ is
// the running program, ended when the case ends.
class KelvoraE2e : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A fresh folder for this case.
    void Prepare(const std::string& name);
    std::string AppFolder() const { return (case_ / "app").string(); }
    std::string OutFolder() const { return (case_ / "out").string(); }
    std::string Ini() const { return (case_ / "app" / "Settings.ini").string(); }
    void WriteIni();

    // Starts Kelvora.exe in `folder` (the case's app folder when empty)
    // without waiting for it.
    void StartProgram(const std::filesystem::path& folder = {});
    // Starts Kelvora.exe with the current settings (or with the Settings.ini
    // left by the last run) and waits until it is up.
    void Launch(bool writeIni = true);

    // Expects a message box with `caption` and `text`, and closes it.
    void ExpectBox(const wchar_t* caption, const wchar_t* text);
    // The program has handled what was pressed and nothing shows up: no
    // box, no new file, still running.
    void ExpectNothingHappens(const std::vector<std::string>& files);
    // What the first item of the tray menu shows (TrayMenu::FirstItem).
    char MenuFirstItem();

    // Waits until a recording runs (its temporary file appears); `startedAt`
    // is the tick count then.
    bool WaitRecordingStarted(DWORD* startedAt);
    // Presses Shift+R and waits until the recording runs. `pressed` and
    // `seen` (when given) receive the local times of the press and of the
    // start seen: a file named by its start's time lies between them.
    bool StartRecordingWithHotKey(DWORD* startedAt, SYSTEMTIME* pressed = nullptr,
                                  SYSTEMTIME* seen = nullptr);
    // Waits until the save of the stopped recording shows its progress in
    // the tip, then holds it there: the threads of the program but those
    // of `idleThreads` (the UI thread's) are paused until the result goes.
    std::unique_ptr<PausedThreads> HoldTheSave(const std::vector<DWORD>& idleThreads);
    // Lets the recording started at `started` run until it is `ms` long.
    static void KeepRecording(DWORD started, DWORD ms);
    // The save is over when the temporary file is gone, `count` AVIs are
    // there and the program knows it (its tip is "Kelvora" again).
    bool WaitSaved(size_t count, DWORD timeoutMs = 120000);
    std::vector<std::string> Avis() const;

    // A note for the host check beside the files: what the file is and,
    // for a recording, for how long it ran. `area` is where the frame lies
    // on the screen (the whole screen when empty); `folder` is the file's
    // folder in the case's.
    void Note(const std::string& tag, const std::string& file, const std::string& kind,
              DWORD ms = 0, const RECT& area = {}, const std::string& folder = "out");

    std::string IniValue(const char* key) const;
    // The tip of Kelvora's tray icon ("Kelvora..."), or empty.
    static std::wstring KelvoraTip();

    // Records `ms` with hot keys; returns the new file's name, noted as `tag`.
    std::string RecordWithHotKeys(const std::string& tag, DWORD ms,
                                  const std::function<void()>& during = {});
    void ExpectExitLeavesNothing();
    // Waits until the rectangle selection of Kelvora shows; null after the
    // timeout.
    HWND WaitSelection();

    static std::thread pattern_;
    static DWORD patternThread_;
    static size_t otherIcons_;  // other programs' icons in Wine's tray
    std::filesystem::path case_;
    KelvoraSettings settings_;
    std::unique_ptr<KelvoraProcess> kelvora_;
    size_t trayIcons_ = 0;  // Wine's tray icons before Kelvora's start
};

}  // namespace kelvora::test
