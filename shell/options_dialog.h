// TfrmOption: the options dialog "Настройки программы". The user picks the
// compressor from the camera's catalogue (with its About and configuration
// dialogs) and its quality, the output folder through the system's folder
// chooser, the screenshot format and JPEG quality, autorun, and whether and
// from which input device sound is recorded.
//
// Protocol:
//  - Create() once at start-up (FormCreate: the autorun box from the
//    registry); the object lives for the whole run and is destroyed before
//    the main form, whose window owns it.
//  - FillAndShow() is "Настройки": the caller has just run LoadSettings on
//    the settings record given at creation; the controls take the record's
//    values, then the window shows (FormShow: the codec list rebuilt from the
//    camera) or, when it shows already, comes to the front.
//  - "Сохранить" (Button2, also Enter) carries the controls into the camera,
//    writes "Settings.ini" and, only when that succeeded, autorun and the
//    hot keys (registered through the controller, then the registered ones
//    written after the other keys), then hides the window; a file that
//    cannot be written is reported and the window stays open, as it does
//    when the registry refuses autorun (a box says where and why) and when a
//    chosen combination cannot be had (the status bar says which; the field
//    shows the key that stays registered).
//  - The hot-key fields show the controller's registered keys at each
//    FillAndShow (the defaults until SetHotKeyAccess is called). The close box (and Esc) hides it
//    without storing.
//  - The camera is reached through the getter given at creation on every
//    use; while it answers null (the program is closing) the handlers do
//    nothing with it.
// Tab and Enter work when the message loop passes the window's messages
// through IsDialogMessageW. UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/settings.h"
#include "shell/main_form.h"
#include "shell/hot_keys.h"
#include "win32/form_window.h"
#include "win32/handles.h"

class TScreenCamera;

namespace kelvora {

class TfrmOption : public FormWindow, public TOptionsDialog {
  public:
    // The controls' ids, in visual (and tab) order; the hidden GroupBox1
    // and its controls last.
    enum Id : int {
        Compressor = 200,
        Label8,
        VideoCompressor,
        AboutB,
        ConfigB,
        Label1,
        VideoQuality,
        LabelQuality,
        GroupBox2,
        Dir,
        change,
        GroupBox3,
        Label2,
        formatscr,
        Label10,
        ScrollBar1,
        Label3,
        y,
        Label9,
        GroupBoxHotKeys,
        LabelHotKeyRecord,
        HotKeyRecord,
        LabelHotKeyStop,
        HotKeyStop,
        LabelHotKeyShot,
        HotKeyShot,
        GroupBoxSound,
        RecordSound,
        SoundDevice,
        avto,
        Button2,
        StatusBar1,
        GroupBox1,
        LabelRecordTitle,
        TrackBarRecord,
        LabelRecordMin,
        LabelRecordMax,
        labelmspFrecord,
        LabelPlaybackTitle,
        TrackBarPlayback,
        LabelPlaybackMin,
        LabelPlaybackMax,
        labelFPSPlayback,
        AutoMode,
    };

    using CameraGetter = std::function<TScreenCamera*()>;
    using HotKeySet = std::array<HotKey, kHotKeyCount>;

    // The controller's global hot keys: those registered now, and the
    // registration of wanted ones, which answers a message for each
    // combination another program holds (see TfrmMain::ApplyHotKeys).
    struct HotKeyAccess {
        std::function<HotKeySet()> registered;
        std::function<std::vector<std::wstring>(const HotKeySet&)> apply;
    };

    // The hidden dialog owned by `owner` (the application window), working on
    // `settings` (ANSI strings, as the settings store reads them), the
    // camera that `camera` answers and the settings file `iniPath`. Null when
    // the platform refuses the window.
    [[nodiscard]] static std::unique_ptr<TfrmOption> Create(HWND owner, TSettings& settings,
                                                            CameraGetter camera,
                                                            std::wstring iniPath);
    ~TfrmOption() override;

    // "Настройки" after LoadSettings (see the protocol above).
    void FillAndShow() override;
    bool InCodecDialog() const override { return codecDialogs_ > 0; }

    void SetHotKeyAccess(HotKeyAccess access) { hotKeys_ = std::move(access); }

    // ---- Handlers (public so that tests can name what they drive) ----
    void VideoCompressorClick() { UpdateCodecButtons(); }
    void AboutBClick();
    void ConfigBClick();
    void changeClick();
    void ScrollBar1Change();
    void TrackBarRecordChange(bool byUser);
    void TrackBarPlaybackChange(bool byUser);
    void AutoModeClick();
    void Button2Click();

    // The folder chooser: the chosen file-system folder, "" when cancelled.
    // A bare drive ("C:") comes back with its backslash.
    std::wstring BrowseForFolder(const wchar_t* caption);

    // Tests: `chooser` answers in place of the system's folder chooser (the
    // window of the dialog, the caption; the folder or "" for cancel); an
    // empty function restores the system's.
    using FolderChooser = std::function<std::wstring(HWND owner, const wchar_t* caption)>;
    void SetFolderChooserForTesting(FolderChooser chooser) { chooser_ = std::move(chooser); }

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    TfrmOption(HWND owner, TSettings& settings, CameraGetter camera, std::wstring iniPath);
    [[nodiscard]] bool FormCreate();
    void FormShow();
    void UpdateCodecButtons();
    void UpdateLabels();
    void Hide();

    void SelectCodec(int index);
    // The selected compressor as the catalogue takes it: -1 becomes 255.
    std::uint8_t CodecByte() const;
    int TrackPos(int id) const;
    // Sets a track bar (clamped to its range) and runs its change handler,
    // as a change made by the program.
    void SetTrackPos(int id, int pos);
    int ScrollPos() const;
    void SetScrollPos(int pos);
    void OnScrollBar(WORD request);
    bool Checked(int id) const;
    void ShowHotKeys();
    // Writes the registered keys; false when the file refused one.
    [[nodiscard]] bool SaveHotKeys(const HotKeySet& keys) const;
    // Autorun as the box says; false (and the user told where and why, the
    // box showing what holds) when the registry refused.
    [[nodiscard]] bool SaveAutorun();
    void SetStatus(const std::wstring& text);
    // The sound group from the file, with the system's input devices.
    void ShowSound();
    // The sound group into the camera and the file; false when it refused.
    // A device name the file cannot hold is not taken: the default device
    // is, and the refusal joins `refused`.
    [[nodiscard]] bool SaveSound(std::vector<std::wstring>* refused);

    HWND owner_;
    TSettings& settings_;
    CameraGetter camera_;
    std::wstring iniPath_;
    win32::Icon icon_;
    FolderChooser chooser_;
    HotKeyAccess hotKeys_;
    int codecDialogs_ = 0;  // a compressor's dialog runs its loop
};

}  // namespace kelvora
