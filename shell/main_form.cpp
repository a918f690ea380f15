#include "shell/main_form.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "resource_ids.h"
#include "shell/about_box.h"
#include "shell/menu_images.h"
#include "shell/tray_icon.h"
#include "shell/popup_menu.h"
#include "shell/screenshot.h"
#include "shell/camera_events.h"
#include "shell/settings_store.h"
#include "shell/file_names.h"
#include "shell/hidden_panel.h"
#include "shell/hot_keys_win32.h"
#include "shell/local_clock.h"
#include "shell/tray_state.h"
#include "win32/text.h"

namespace kelvora {

namespace {

using win32::Widen;

constexpr wchar_t kClassName[] = L"TfrmMain";
constexpr UINT_PTR kStateTimer = 1;
constexpr UINT kStateTimerMs = 250;
constexpr UINT_PTR kCloseRetryTimer = 2;
constexpr UINT kCloseRetryMs = 200;

constexpr const char* kNoFolder = "Внимание! Вы не выбрали папку для сохранения!";
constexpr const char* kMissingFolder = "Внимание! Папка для сохранения не существует!";
constexpr const char* kNoCodec = "Внимание! Вы не выбрали кодек!";
constexpr wchar_t kStillSaving[] = L"Предыдущая запись ещё сохраняется";

TMenuItem MenuItem(const wchar_t* caption, const wchar_t* shortCut = L"", int image = -1,
                   bool visible = true, std::function<void()> onClick = {}) {
    TMenuItem item;
    item.Caption = caption;
    item.ShortCut = shortCut;
    item.ImageIndex = image;
    item.Visible = visible;
    item.OnClick = std::move(onClick);
    return item;
}

}  // namespace

std::unique_ptr<TfrmMain> TfrmMain::Create() {
    std::unique_ptr<TfrmMain> form(new TfrmMain());
    if (!form->CreateCaptionForm(kClassName, L"Kelvora", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                 WS_EX_LAYERED, nullptr, SIZE{115, 4}) ||
        !form->FormCreate()) {
        return nullptr;
    }
    return form;
}

TfrmMain::~TfrmMain() {
    CloseSequence();
    // FormDestroy: the hot keys once more, errors ignored.
    UnregisterHotKeys(Handle());
    DestroyForm();
}

bool TfrmMain::FormCreate() {
    HWND wnd = Handle();
    SetLayeredWindowAttributes(wnd, 0, 1, LWA_ALPHA);  // alpha 1 of 255

    // Hot keys (Shift+R, Shift+S, Shift+X unless the user chose others);
    // a combination another program holds is silently absent.
    AppDir_ = AppDirectory();
    for (int i = 0; i < kHotKeyCount; ++i) {
        hotKeys_[i] = HotKeyFromSetting(ReadOption(kHotKeyNames[i]), kDefaultHotKeys[i]);
    }
    RegisterHotKeys(wnd, hotKeys_);
    // No save has been cancelled yet.
    FCancelRequested = false;

    BuildHiddenPanels();
    BuildMenu();

    // The camera and its events, which reach the handlers below on
    // this thread whichever thread raised them.
    events_ = std::make_unique<CameraEvents>(CameraHandlers{
        [this](TScreenCamera* sender, const std::string& text) { CameraError(sender, text); },
        [this](TScreenCamera* sender) { CameraRecordStart(sender); },
        [this](TScreenCamera* sender) { CameraRecordStop(sender); },
        [this](TScreenCamera* sender) { CameraRecordTime(sender); },
        [this](TScreenCamera* sender, bool shown, bool recording) {
            CameraPreview(sender, shown, recording);
        },
        [this](TScreenCamera* sender, int percent, const std::string& caption, bool direct) {
            return CameraProgress(sender, percent, caption, direct);
        },
        [this](TScreenCamera*, const std::string& reason) {
            if (tray) {
                tray->ShowBalloon(L"Kelvora", L"Звук не записывается: " + Widen(reason));
            }
        }});
    camera = std::make_unique<TScreenCamera>(wnd);
    events_->Attach(*camera);
    // Nothing of the preview picture is displayed: the ticks need not grab it.
    camera->FPreviewPictureWanted = false;

    // The hidden panel's choices into the camera; the preview on.
    RadioGroup1Click();
    camera->SetPreview(Checked(CheckBox8));

    // The user's settings and the recorded area from Settings.ini.
    LoadSettings(IniPath(), settings_, *camera);
    LoadArea();

    // The tray icon with its menu.
    tray = std::make_unique<TMyTrayIcon>(wnd);
    tray->Enabled = true;
    tray->SetHint(L"Kelvora");
    tray->IcoIndex = 0;
    const auto trayIcon = [](int id) {
        return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
    };
    normalIcon_.reset(trayIcon(IDI_KELVORA));
    recordingIcon_.reset(trayIcon(IDI_KELVORA_RECORDING));
    tray->SetIcon(normalIcon_.get());
    tray->PopupMenu = Popup_.get();
    tray->SetIconVisible(true);

    about_ = TAboutBox::Create(wnd);
    stateTimerOn_ = SetTimer(wnd, kStateTimer, kStateTimerMs, nullptr) != 0;
    return camera != nullptr;
}

void TfrmMain::BuildMenu() {
    images_ = std::make_unique<TMenuImages>();
    if (!images_->LoadStrip(GetModuleHandleW(nullptr), IDB_MENU_IMAGES, MENU_IMAGE_SIZE)) {
        images_.reset();  // a program without the pictures still has its menu
    }
    Popup_ = std::make_unique<TPopupMenu>();
    Popup_->Images = images_.get();
    r = Popup_->Add(
        MenuItem(L"Записать", ShortcutText(hotKeys_[0]).c_str(), 2, true, [this] { rClick(); }));
    s = Popup_->Add(
        MenuItem(L"Остановить", ShortcutText(hotKeys_[1]).c_str(), 3, false, [this] { sClick(); }));
    area_ = Popup_->Add(MenuItem(L"Область записи"));
    area_->AddSub(MenuItem(L"Весь экран", L"", -1, true, [this] { ChooseArea(kAreaFullScreen); }));
    area_->AddSub(
        MenuItem(L"Выделить область\u2026", L"", -1, true, [this] { ChooseArea(kAreaRectangle); }));
    area_->AddSub(
        MenuItem(L"Выбрать окно\u2026", L"", -1, true, [this] { ChooseArea(kAreaWindow); }));
    area_->AddSub(MenuItem(L"Следовать за курсором", L"", -1, true,
                           [this] { ChooseArea(kAreaFollowMouse); }));
    MarkArea();
    Popup_->Add(MenuItem(L"Настройки", L"", 4, true, [this] { N19Click(); }));
    Popup_->Add(MenuItem(L"О программе", L"", 1, true, [this] { N23Click(); }));
    Popup_->Add(MenuItem(L"Выйти", L"", -1, true, [this] { N24Click(); }));
}

// ---- Commands ----

void TfrmMain::Warn(const char* text) {
    MessageBoxW(Handle(), Widen(text).c_str(), L"Kelvora", MB_ICONWARNING);
}

std::optional<std::string> TfrmMain::ReadOption(const char* key) const {
    return ReadSetting(IniPath(), key);
}

void TfrmMain::LoadArea() {
    areaMode_ = AreaModeFromSetting(ReadOption(kAreaKey));
    MarkArea();
}

std::vector<std::wstring> TfrmMain::ApplyHotKeys(const std::array<HotKey, kHotKeyCount>& wanted) {
    WindowHotKeys system(Handle());
    std::vector<std::wstring> refused;
    for (const RefusedHotKey& key : ApplyHotKeySet(system, hotKeys_, wanted)) {
        refused.push_back(RefusalText(key));
    }
    r->ShortCut = ShortcutText(hotKeys_[0]);
    s->ShortCut = ShortcutText(hotKeys_[1]);
    return refused;
}

void TfrmMain::ChooseArea(std::uint8_t mode) {
    if (closing_) {
        return;
    }
    areaMode_ = mode;
    MarkArea();
    // Kept for the next run; a file that cannot be written keeps the choice
    // for this run only.
    static_cast<void>(WriteSetting(IniPath(), kAreaKey, std::to_string(mode)));
}

void TfrmMain::MarkArea() {
    if (area_ == nullptr) {
        return;
    }
    const std::uint8_t modes[] = {kAreaFullScreen, kAreaRectangle, kAreaWindow, kAreaFollowMouse};
    for (std::size_t i = 0; i < area_->SubItems.size(); ++i) {
        area_->SubItems[i]->Checked = modes[i] == areaMode_;
    }
}

bool TfrmMain::LoadSettingsWithFolder() {
    LoadSettings(IniPath(), settings_, *camera);
    LoadArea();
    if (settings_.OutputDir.empty()) {
        Warn(kNoFolder);
        return false;
    }
    const DWORD attributes = GetFileAttributesA(settings_.OutputDir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Warn(kMissingFolder);
        return false;
    }
    return true;
}

void TfrmMain::rClick() {
    if (closing_ || !camera) {
        return;
    }
    switch (camera->State()) {
        case TCameraState::Idle:
            break;
        case TCameraState::Finishing:
            // The camera takes no start before the save ends; the menu stays.
            tray->ShowBalloon(L"Kelvora", kStillSaving);
            return;
        case TCameraState::Selecting:
        case TCameraState::Recording:
            return;  // a menu opened before the start: nothing to add
    }
    if (!LoadSettingsWithFolder()) {
        return;
    }
    if (camera->FCodecIndex == -1) {
        Warn(kNoCodec);
        return;
    }
    RadioGroup1Click();
    // The area chosen in the tray menu, for this recording; a rectangle
    // chosen in an earlier selection is the size that follows the mouse.
    if (areaMode_ == kAreaFollowMouse) {
        camera->FWidth = followWidth_;
        camera->FHeight = followHeight_;
    }
    camera->FRegionType = areaMode_;
    const std::string name = OutputFileName(settings_.OutputDir, CurrentLocalTime(), ".avi");
    camera->StartRecording(name);
    ShowState(camera->State());
}

void TfrmMain::sClick() {
    if (closing_ || !camera) {
        return;
    }
    // Recording: stop and save. Selecting: the selection and its pending
    // start are cancelled.
    camera->StopRecording();
    ShowState(camera->State());
}

void TfrmMain::N19Click() {
    if (closing_ || !camera) {
        return;
    }
    LoadSettings(IniPath(), settings_, *camera);
    if (optionsDialog_ != nullptr) {
        optionsDialog_->FillAndShow();
    }
}

void TfrmMain::N23Click() {
    if (!closing_ && about_) {
        about_->ShowNonModal();
    }
}

void TfrmMain::N24Click() {
    // Posted: the menu and the tray icon that opened it are still on the
    // stack; the close runs from the message loop.
    PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TfrmMain::WMHotKey(int id) {
    if (closing_ || !camera) {
        return;
    }
    // The keys come while the user works in another program: the hidden
    // main window is neither restored nor brought to the top, which would
    // take the keyboard from that program.
    const TCameraState state = camera->State();
    const bool recordOffered = state == TCameraState::Idle || state == TCameraState::Finishing;
    if (id == 1 && recordOffered) {
        rClick();
    } else if (id == 2 && !recordOffered) {
        sClick();
    } else if (id == 3) {
        TakeScreenshot();
    }
}

void TfrmMain::TakeScreenshot() {
    if (closing_ || !camera) {
        return;
    }
    if (!LoadSettingsWithFolder()) {
        return;
    }
    const ScreenshotResult result = SaveScreenshot(settings_.OutputDir, settings_.Format,
                                                   settings_.Compress, CurrentLocalTime());
    if (result.outcome == ScreenshotOutcome::Failed) {
        MessageBoxW(Handle(), Widen(result.error).c_str(), L"Error", MB_OK);
    }
}

void TfrmMain::CloseSequence() {
    if (closing_) {
        return;
    }
    // A selection window's loop may be running below: end it and close
    // once it has returned, so that nothing returns into a released camera.
    if (camera && camera->SelectionShowing()) {
        camera->HotKeyWndProc(kWmHotKey, camera->FHotKey2);
        PostMessageW(Handle(), WM_CLOSE, 0, 0);
        return;
    }
    // A compressor's About or configuration dialog cannot be ended from
    // here: the close waits until the user closes it.
    if (optionsDialog_ != nullptr && optionsDialog_->InCodecDialog()) {
        SetTimer(Handle(), kCloseRetryTimer, kCloseRetryMs, nullptr);
        return;
    }
    closing_ = true;
    KillTimer(Handle(), kStateTimer);
    stateTimerOn_ = false;
    for (int id = 1; id <= 3; ++id) {
        UnregisterHotKey(Handle(), id);
    }
    // Exit never discards a recording: it is stopped and saved first; the
    // camera's release waits for the save.
    if (camera && camera->State() == TCameraState::Recording) {
        camera->StopRecording();
    }
    if (events_) {
        events_->Detach();
    }
    camera.reset();
    if (events_) {
        events_->RunPending();  // what the last save reported is still shown
    }
    tray.reset();
    PostQuitMessage(0);
}

// ---- The end of the session ----

bool TfrmMain::QueryEndSession() {
    if (closing_ || !camera) {
        return true;
    }
    const TCameraState state = camera->State();
    if (state != TCameraState::Recording && state != TCameraState::Finishing) {
        return true;
    }
    // Saving may outlast what Windows waits for an answer: its shutdown
    // screen names the reason meanwhile.
    blockingShutdown_ = ShutdownBlockReasonCreate(Handle(), L"Kelvora сохраняет запись") != FALSE;
    if (state == TCameraState::Recording) {
        sClick();  // the save starts now, while the other programs answer
    }
    return true;  // the user's logoff goes ahead; the save comes first
}

void TfrmMain::EndSession(bool ending) {
    if (ending && !closing_ && camera) {
        if (camera->State() == TCameraState::Recording) {
            sClick();
        }
        // Once this returns the process may be ended at any moment: the file
        // must be complete first.
        camera->Platform().WaitServingUi([this] {
            const TRecordAVIThread* worker = camera->FRecordThread.load();
            return worker == nullptr || worker->Ended();
        });
    }
    if (blockingShutdown_) {
        ShutdownBlockReasonDestroy(Handle());
        blockingShutdown_ = false;
    }
    if (ending) {
        CloseSequence();
    }
}

// ---- Camera events ----

void TfrmMain::CameraError(TScreenCamera*, const std::string& text) {
    MessageBoxW(Handle(), Widen(text).c_str(), L"Error", MB_OK);
}

void TfrmMain::ShowState(TCameraState state) {
    // The state tick is needed only while the state can change without the
    // user (a recording, its save, a selection); idle, nothing wakes up.
    const bool tickWanted = state != TCameraState::Idle && !closing_;
    if (tickWanted != stateTimerOn_) {
        stateTimerOn_ = tickWanted && SetTimer(Handle(), kStateTimer, kStateTimerMs, nullptr) != 0;
        if (!tickWanted) {
            KillTimer(Handle(), kStateTimer);
        }
    }
    // The menu offers what the camera can do now: a stop while a start
    // waits for its selection or a recording runs, a record otherwise (one
    // during the save gets the reason in a balloon).
    const bool stopOffered = state == TCameraState::Selecting || state == TCameraState::Recording;
    r->Visible = !stopOffered;
    s->Visible = stopOffered;
    // The icon and tip: the recording's time while it runs, the save's
    // progress while it is saved (CameraProgress), "Kelvora" otherwise.
    const bool recording = state == TCameraState::Recording || state == TCameraState::Finishing;
    if (!tray || trayRecording_ == recording) {
        return;
    }
    trayRecording_ = recording;
    lastSavePercent_ = -1;
    lastTimeText_.clear();
    tray->SetIcon(recording ? recordingIcon_.get() : normalIcon_.get());
    tray->SetHint(recording ? RecordingTip("0:0:0") : std::wstring(L"Kelvora"));
}

void TfrmMain::StateTick() {
    if (closing_ || !camera) {
        return;
    }
    events_->RunPending();  // an event whose wake-up was lost
    if (camera) {
        ShowState(camera->State());
    }
}

void TfrmMain::CameraRecordStart(TScreenCamera* sender) {
    if (sender == nullptr) {
        return;
    }
    ShowState(sender->State());
    for (int id : {ComboBox3, RadioGroup1, RadioFixed, RadioFull, Edit1, Edit2, Edit3, Edit4,
                   UpDown1, UpDown2, UpDown3, UpDown4}) {
        SetEnabled(id, false);
    }
}

void TfrmMain::CameraRecordStop(TScreenCamera* sender) {
    if (sender == nullptr) {
        return;
    }
    for (int id : {ComboBox3, RadioGroup1, RadioFixed, RadioFull}) {
        SetEnabled(id, true);
    }
    ApplyPanel(*sender);
    ShowState(sender->State());
}

void TfrmMain::CameraRecordTime(TScreenCamera* sender) {
    // The tray's tip follows the recording time, once a second.
    if (sender == nullptr || !sender->FRecording || !trayRecording_) {
        return;
    }
    const std::string text = sender->FRecordTimeText.get();
    if (text != lastTimeText_) {
        lastTimeText_ = text;
        tray->SetHint(RecordingTip(text));
    }
}

void TfrmMain::CameraPreview(TScreenCamera* sender, bool previewShown, bool recording) {
    if (sender == nullptr || inPreview_) {
        return;
    }
    inPreview_ = true;
    const bool was = Checked(CheckBox8);
    if (previewShown && !was) {
        SetChecked(CheckBox8, true);
        CheckBox8Click();
    } else if (!previewShown && recording && was) {
        SetChecked(CheckBox8, false);
        CheckBox8Click();
    }
    // The rectangle's texts; unchanged ones are left alone. This runs every
    // 30 ms for the program's whole life: values already shown are not read
    // back from the edits (each read is several calls into Wine's server).
    const struct {
        int id;
        std::int32_t value;
    } texts[] = {{Edit1, sender->FTop},
                 {Edit2, sender->FLeft},
                 {Edit3, sender->FWidth},
                 {Edit4, sender->FHeight}};
    showingArea_ = true;
    for (const auto& t : texts) {
        std::int32_t& shown = shownRect_[t.id - Edit1];
        if (shown == t.value) {
            continue;
        }
        if (EditValue(t.id) != t.value || GetWindowTextLengthW(Control(t.id)) == 0) {
            SetWindowTextW(Control(t.id), std::to_wstring(t.value).c_str());
        }
        shown = t.value;
    }
    showingArea_ = false;
    inPreview_ = false;
}

bool TfrmMain::CameraProgress(TScreenCamera*, int percent, const std::string& caption,
                              bool pumpMessages) {
    // Let pending messages be processed; a quit is kept for the main loop.
    MSG msg;
    while (pumpMessages && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (FCancelRequested) {
        ResetProgressPanel();
        return false;
    }
    if (!IsWindowEnabled(Control(BCancel))) {
        SetEnabled(BCancel, true);
        SetEnabled(LStatus, true);
        SetWindowTextW(Control(LStatus), Widen(caption).c_str());
    }
    SendMessageW(Control(Progress), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    if (trayRecording_ && caption == kSavingCaption && percent != lastSavePercent_) {
        lastSavePercent_ = percent;
        tray->SetHint(SavingTip(percent));
    }
    if (percent == 100) {
        ResetProgressPanel();
    }
    return true;
}

void TfrmMain::ResetProgressPanel() {
    FCancelRequested = false;
    SetEnabled(LStatus, false);
    SetEnabled(BCancel, false);
    SetWindowTextW(Control(LStatus), L"");
    SendMessageW(Control(Progress), PBM_SETPOS, 0, 0);
}

// ---- Messages ----

LRESULT TfrmMain::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ACTIVATE:
            // FormActivate: the main form is never seen.
            if (LOWORD(wp) != WA_INACTIVE) {
                ShowWindow(Handle(), SW_HIDE);
            }
            return 0;
        case WM_HOTKEY:
            WMHotKey(static_cast<int>(wp));
            return 0;
        case WM_CLOSE:
            CloseSequence();  // closing is always allowed
            return 0;
        case WM_QUERYENDSESSION:
            return QueryEndSession() ? TRUE : FALSE;
        case WM_ENDSESSION:
            EndSession(wp != FALSE);
            return 0;
        case WM_TIMER:
            if (wp == kStateTimer) {
                StateTick();
                return 0;
            }
            if (wp == kCloseRetryTimer) {
                KillTimer(Handle(), kCloseRetryTimer);
                CloseSequence();
                return 0;
            }
            return FormWindow::HandleMessage(msg, wp, lp);
        default:
            return FormWindow::HandleMessage(msg, wp, lp);
    }
}

}  // namespace kelvora
