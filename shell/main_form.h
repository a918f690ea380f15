// TfrmMain: Kelvora's main window and controller. The window is never seen;
// it receives the global hot keys Shift+R, Shift+S and Shift+X, owns the tray
// icon with its menu, the one screen camera and the settings record, and
// parents the program's message boxes. Every user command arrives here and
// becomes a call on the camera, the settings store, the options dialog or
// the screenshot command.
//
// Protocol:
//  - Create() runs FormCreate: hot keys, camera, its events, the hidden
//    panel applied, the preview switched on, the settings read, the tray
//    icon shown. The single-instance check comes before, in the program
//    entry, so that a second copy never touches the temporary files.
//  - The program sets OptionsDialog (the "Настройки" window) once it exists.
//  - N24Click (Exit) posts the close; the close sequence ends the program's
//    message loop with PostQuitMessage. A recording still running is stopped
//    and saved before the camera is released; commands that arrive while the
//    camera is released are ignored. The end of the Windows session stops
//    and saves it the same way, before WM_ENDSESSION returns.
//  - The camera's events reach the handlers on the UI thread, whichever
//    thread raised them (CameraEvents, camera_events.h); the progress answer
//    (Continue) is handed back before the worker goes on.
//  - The menu ("Записать" or "Остановить"), the tray icon and tip, Exit and
//    the hot keys follow the camera's state (TScreenCamera::State()), never
//    a record of their own.
// Everything runs on the UI thread.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/settings.h"
#include "shell/hot_keys.h"
#include "shell/settings_rules.h"
#include "win32/form_window.h"
#include "win32/handles.h"

class TScreenCamera;
enum class TCameraState;

namespace kelvora {

class CameraEvents;
class TAboutBox;
class TMenuImages;
class TMyTrayIcon;
class TPopupMenu;
struct TMenuItem;

// The options dialog as the controller uses it: fill it from the settings
// just read and show it (or bring it to the front).
class TOptionsDialog {
  public:
    virtual ~TOptionsDialog() = default;
    virtual void FillAndShow() = 0;
    // True while a compressor's own dialog, opened from here, runs its
    // loop on the camera: the camera must not be released meanwhile.
    virtual bool InCodecDialog() const = 0;
};

class TfrmMain : public FormWindow {
  public:
    // The main window with FormCreate run; null when a window could not be
    // made.
    [[nodiscard]] static std::unique_ptr<TfrmMain> Create();
    ~TfrmMain() override;

    // ---- Commands (UI thread) ----
    void rClick();    // Record
    void sClick();    // Stop
    void N19Click();  // Settings
    void N23Click();  // About
    void N24Click();  // Exit: posts the close
    void WMHotKey(int id);
    void TakeScreenshot();

    // ---- State ----
    // Null once the close sequence has released it.
    TScreenCamera* Camera() const { return camera.get(); }
    TSettings& Settings() { return settings_; }
    // Directory of the executable without a trailing separator.
    const std::wstring& AppDir() const { return AppDir_; }
    std::wstring IniPath() const { return SettingsPath(AppDir_); }
    TPopupMenu& Popup() { return *Popup_; }
    TMyTrayIcon& Tray() { return *tray; }
    void SetOptionsDialog(TOptionsDialog* dialog) { optionsDialog_ = dialog; }

    // The global hot keys registered now: record, stop, screenshot.
    const std::array<HotKey, kHotKeyCount>& HotKeys() const { return hotKeys_; }
    // Registers `wanted` in place of the current keys as one set
    // (ApplyHotKeySet): a key that cannot be had leaves the previous one
    // registered and gives a message for it ("Сочетание ... занято другой
    // программой" only when another program holds it); the menu's shortcut
    // texts follow what is registered.
    std::vector<std::wstring> ApplyHotKeys(const std::array<HotKey, kHotKeyCount>& wanted);

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    TfrmMain() = default;
    [[nodiscard]] bool FormCreate();
    void BuildHiddenPanels();
    void BuildMenu();
    void CloseSequence();
    // The end of the Windows session (logoff, shutdown): a recording is
    // stopped when Windows asks, and saved before the end is let through;
    // meanwhile the shutdown screen gives the reason.
    bool QueryEndSession();
    void EndSession(bool ending);
    // The recording area chosen in the tray menu: stored, marked, applied.
    void ChooseArea(std::uint8_t mode);
    void LoadArea();
    // A key of section "Options" of Settings.ini; nullopt when missing.
    std::optional<std::string> ReadOption(const char* key) const;
    void MarkArea();
    // Every 250 ms: the menu, icon and tip follow the camera's state.
    void StateTick();
    void ShowState(TCameraState state);

    // The hidden settings panel and what it carries into the camera.
    void RadioGroup1Click();
    void ApplyPanel(TScreenCamera& c);
    void CheckBox8Click();
    void CheckBox9Click();
    void EditChange(int id);
    void TimerEditChange();
    void RebuildTimedCapture();
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);
    int ComboIndex(int id) const;
    int EditValue(int id) const;
    void SetEnabled(int id, bool enabled);

    // Camera events, on the UI thread; `sender` is null once the camera has
    // been released.
    void CameraError(TScreenCamera* sender, const std::string& text);
    void CameraRecordStart(TScreenCamera* sender);
    void CameraRecordStop(TScreenCamera* sender);
    void CameraRecordTime(TScreenCamera* sender);
    void CameraPreview(TScreenCamera* sender, bool previewShown, bool recording);
    // `pumpMessages`: process the pending window messages first (not when
    // the worker's call arrives as a sent message).
    bool CameraProgress(TScreenCamera* sender, int percent, const std::string& caption,
                        bool pumpMessages);
    void ResetProgressPanel();

    void Warn(const char* text);
    // LoadSettings, then the warning when the output folder is unset or
    // missing; true when it exists.
    bool LoadSettingsWithFolder();

    // Before the camera: it outlives the camera, whose events it carries.
    std::unique_ptr<CameraEvents> events_;
    std::unique_ptr<TScreenCamera> camera;
    std::unique_ptr<TMyTrayIcon> tray;
    std::unique_ptr<TPopupMenu> Popup_;
    std::unique_ptr<TMenuImages> images_;
    std::unique_ptr<TAboutBox> about_;
    TOptionsDialog* optionsDialog_ = nullptr;
    TMenuItem* r = nullptr;
    TMenuItem* s = nullptr;
    TMenuItem* area_ = nullptr;  // "Область записи"
    std::uint8_t areaMode_ = 4;
    // Size of the last area chosen in a selection: the follow-mouse size.
    std::int32_t followWidth_ = 640;
    std::int32_t followHeight_ = 480;
    // The tray shows the recording icon (a recording runs or is saved).
    bool trayRecording_ = false;
    bool stateTimerOn_ = false;  // kStateTimer runs
    int lastSavePercent_ = -1;
    win32::Icon normalIcon_;
    win32::Icon recordingIcon_;
    std::string lastTimeText_;  // the last record time in the tip
    std::array<HotKey, kHotKeyCount> hotKeys_ = kDefaultHotKeys;
    TSettings settings_;
    std::wstring AppDir_;
    std::atomic<bool> FCancelRequested{false};
    bool closing_ = false;
    bool blockingShutdown_ = false;  // the saving reason is shown at shutdown
    // A preview event being handled: the check box change it makes must
    // not start another round of the same.
    bool inPreview_ = false;
    // The rectangle values CameraPreview last put into Edit1..Edit4.
    std::int32_t shownRect_[4] = {-1, -1, -1, -1};
    // CameraPreview is writing those texts: their change handlers must not
    // write them back into the camera.
    bool showingArea_ = false;
};

}  // namespace kelvora
