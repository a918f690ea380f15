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
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
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
    // Waits until the main window of this process, its tray icon and its
    // three hot keys are there.
    bool WaitUp(DWORD timeoutMs = 20000);
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
};

// Caption and text (the static text) of a message box of another process.
struct BoxTexts {
    std::wstring caption;
    std::wstring text;
};
BoxTexts ReadMessageBox(HWND box);
// Presses the box's OK (or its only button) and waits until it is gone.
bool CloseMessageBox(HWND box);

// The tip of a tray icon window, read from the tooltip control that Wine's
// tray keeps for it (in the tray's process); empty when none is found.
std::wstring TrayTip(HWND icon);
// The text of the balloon Wine's tray shows (a tooltip control of the
// balloon style), empty when none shows; *window (when given) receives it.
std::wstring TrayBalloon(HWND* window = nullptr);

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

}  // namespace kelvora::test
