#include "shell/options_dialog.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/screen_camera.h"
#include "engine/sound_input.h"
#include "resource_ids.h"
#include "shell/autorun.h"
#include "shell/settings_store.h"
#include "shell/settings_rules.h"
#include "shell/sound_settings.h"
#include "win32/text.h"

namespace kelvora {

namespace {

using win32::Narrow;
using win32::Widen;

constexpr wchar_t kClassName[] = L"TfrmOption";
constexpr SIZE kClient96{405, 429};
constexpr const wchar_t* kFormats[] = {L"BMP", L"JPG", L"PNG"};
constexpr int kHotKeyFields[] = {TfrmOption::HotKeyRecord, TfrmOption::HotKeyStop,
                                 TfrmOption::HotKeyShot};
constexpr int kScrollPage = 10;
constexpr wchar_t kDefaultDevice[] = L"Устройство по умолчанию";  // the scroll bar's step for a click beside the thumb

constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kGroup = WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kHotKeyField = WS_VISIBLE | WS_TABSTOP | WS_BORDER;

// The visible controls top to bottom, then the hidden GroupBox1 below the
// client area. Creation order is the tab order.
const std::vector<ControlSpec>& Table() {
    using T = TfrmOption;
    static const std::vector<ControlSpec> table = {
        {T::Compressor, WC_BUTTONW, L"Кодек", {8, 4, 389, 96}, kGroup},
        {T::Label8, WC_STATICW, L"Выберите кодек:", {16, 22, 200, 14}, kLabel},
        {T::VideoCompressor,
         WC_COMBOBOXW,
         L"",
         {16, 38, 213, 200},
         WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST},
        {T::AboutB, WC_BUTTONW, L"О кодеке", {237, 36, 75, 25}, kButton},
        {T::ConfigB, WC_BUTTONW, L"Настроить", {316, 36, 75, 25}, kButton},
        {T::Label1, WC_STATICW, L"Качество сжатия :", {16, 72, 112, 14}, kLabel},
        {T::VideoQuality,
         TRACKBAR_CLASSW,
         L"",
         {130, 67, 221, 24},
         WS_VISIBLE | WS_TABSTOP | TBS_HORZ | TBS_NOTICKS},
        {T::LabelQuality, WC_STATICW, L"", {355, 72, 36, 14}, kLabel},
        {T::GroupBox2, WC_BUTTONW, L"Папка для сохранения:", {8, 104, 389, 50}, kGroup},
        {T::Dir,
         WC_EDITW,
         L"",
         {16, 123, 292, 21},
         WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL},
        {T::change, WC_BUTTONW, L"Выбрать", {316, 121, 75, 25}, kButton},
        {T::GroupBox3, WC_BUTTONW, L"Формат скриншотов", {8, 158, 389, 102}, kGroup},
        {T::Label2,
         WC_STATICW,
         L"Выберите формат для скриншотов. Доступные форматы: ",
         {16, 174, 292, 28},
         kLabel},
        {T::formatscr,
         WC_COMBOBOXW,
         L"",
         {316, 177, 75, 200},
         WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST},
        {T::Label10,
         WC_STATICW,
         L"Здесь Вы можете установить уровень сжатия для JPG",
         {16, 204, 375, 14},
         kLabel},
        {T::ScrollBar1, WC_SCROLLBARW, L"", {16, 220, 375, 17}, WS_VISIBLE | WS_TABSTOP | SBS_HORZ},
        {T::Label3, WC_STATICW, L"Хорошее сжатие", {16, 240, 120, 14}, kLabel | WS_DISABLED},
        {T::y, WC_STATICW, L"", {146, 240, 113, 14}, WS_VISIBLE | SS_CENTER | SS_NOPREFIX},
        {T::Label9,
         WC_STATICW,
         L"Хорошее качество",
         {271, 240, 120, 14},
         WS_VISIBLE | SS_RIGHT | SS_NOPREFIX | WS_DISABLED},
        {T::GroupBoxHotKeys, WC_BUTTONW, L"Горячие клавиши", {8, 262, 389, 62}, kGroup},
        {T::LabelHotKeyRecord, WC_STATICW, L"Записать:", {16, 278, 119, 14}, kLabel},
        {T::HotKeyRecord, HOTKEY_CLASSW, L"", {16, 294, 119, 21}, kHotKeyField},
        {T::LabelHotKeyStop, WC_STATICW, L"Остановить:", {144, 278, 119, 14}, kLabel},
        {T::HotKeyStop, HOTKEY_CLASSW, L"", {144, 294, 119, 21}, kHotKeyField},
        {T::LabelHotKeyShot, WC_STATICW, L"Скриншот:", {272, 278, 119, 14}, kLabel},
        {T::HotKeyShot, HOTKEY_CLASSW, L"", {272, 294, 119, 21}, kHotKeyField},
        {T::GroupBoxSound, WC_BUTTONW, L"Звук", {8, 328, 389, 50}, kGroup},
        {T::RecordSound,
         WC_BUTTONW,
         L"Записывать звук",
         {16, 349, 140, 17},
         WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX},
        {T::SoundDevice,
         WC_COMBOBOXW,
         L"",
         {164, 346, 227, 200},
         WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST},
        {T::avto,
         WC_BUTTONW,
         L"Поместить в автозагрузку",
         {16, 383, 220, 17},
         WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX},
        {T::Button2,
         WC_BUTTONW,
         L"Сохранить",
         {316, 380, 81, 25},
         WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        // Sizes itself along the bottom edge.
        {T::StatusBar1, STATUSCLASSNAMEW, L"", {0, 409, 405, 20}, WS_VISIBLE},

        // Never shown: carries the camera's two timing values.
        {T::GroupBox1, WC_BUTTONW, L"Другое", {8, 448, 389, 150}, BS_GROUPBOX},
        {T::LabelRecordTitle, WC_STATICW, L"Задержка между кадрами :", {16, 466, 200, 14}, 0},
        {T::TrackBarRecord, TRACKBAR_CLASSW, L"", {16, 482, 300, 24}, TBS_HORZ | TBS_NOTICKS},
        {T::LabelRecordMin, WC_STATICW, L"5 милисекунд", {16, 508, 100, 14}, 0},
        {T::LabelRecordMax, WC_STATICW, L"1 Second", {236, 508, 80, 14}, SS_RIGHT},
        {T::labelmspFrecord, WC_STATICW, L"", {320, 486, 70, 14}, 0},
        {T::LabelPlaybackTitle, WC_STATICW, L"Playback Frame Rate : (FPS)", {16, 526, 200, 14}, 0},
        {T::TrackBarPlayback, TRACKBAR_CLASSW, L"", {16, 542, 300, 24}, TBS_HORZ | TBS_NOTICKS},
        {T::LabelPlaybackMin, WC_STATICW, L"1 fps", {16, 568, 100, 14}, 0},
        {T::LabelPlaybackMax, WC_STATICW, L"200 fps", {236, 568, 80, 14}, SS_RIGHT},
        {T::labelFPSPlayback, WC_STATICW, L"", {320, 546, 70, 14}, 0},
        {T::AutoMode,
         WC_BUTTONW,
         L"Full Auto Mode ON (Synchronize  f/s)",
         {16, 582, 300, 17},
         BS_AUTOCHECKBOX},
    };
    return table;
}

void SetText(HWND control, const std::wstring& text) {
    SetWindowTextW(control, text.c_str());
}

std::wstring WindowText(HWND wnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(wnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(wnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The thread's visible, enabled top-level windows are disabled while a
// system dialog runs and enabled again afterwards.
class DisabledWindows {
  public:
    DisabledWindows() {
        EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(&windows_));
        for (HWND w : windows_) {
            EnableWindow(w, FALSE);
        }
    }
    ~DisabledWindows() {
        for (HWND w : windows_) {
            if (IsWindow(w)) {
                EnableWindow(w, TRUE);
            }
        }
    }
    DisabledWindows(const DisabledWindows&) = delete;
    DisabledWindows& operator=(const DisabledWindows&) = delete;

  private:
    static BOOL CALLBACK Collect(HWND w, LPARAM lp) {
        if (IsWindowVisible(w) && IsWindowEnabled(w)) {
            reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
        }
        return TRUE;
    }
    std::vector<HWND> windows_;
};

// The shell's folder browser wants COM on the calling thread.
class ComApartment {
  public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (ok_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool ok_;
};

struct ItemIdList {
    void operator()(LPITEMIDLIST item) const { CoTaskMemFree(item); }
};

// The shell's folder browser, owned by `owner`, with `caption` above its tree:
// the chosen file-system folder, or "" when cancelled.
std::wstring SystemFolderChooser(HWND owner, const wchar_t* caption) {
    ComApartment com;
    BROWSEINFOW bi{};
    bi.hwndOwner = owner;
    bi.lpszTitle = caption;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    const std::unique_ptr<ITEMIDLIST, ItemIdList> item(SHBrowseForFolderW(&bi));
    wchar_t path[MAX_PATH] = {};
    if (!item || !SHGetPathFromIDListW(item.get(), path)) {
        return {};
    }
    return path;
}

}  // namespace

TfrmOption::TfrmOption(HWND owner, TSettings& settings, CameraGetter camera, std::wstring iniPath)
    : owner_(owner),
      settings_(settings),
      camera_(std::move(camera)),
      iniPath_(std::move(iniPath)) {}

std::unique_ptr<TfrmOption> TfrmOption::Create(HWND owner, TSettings& settings, CameraGetter camera,
                                               std::wstring iniPath) {
    std::unique_ptr<TfrmOption> form(
        new TfrmOption(owner, settings, std::move(camera), std::move(iniPath)));
    if (!form->CreateCaptionForm(kClassName, L"Настройки программы", WS_CAPTION | WS_SYSMENU, 0,
                                 owner, kClient96) ||
        !form->CreateControls(Table()) || !form->FormCreate()) {
        return nullptr;
    }
    return form;
}

TfrmOption::~TfrmOption() {
    DestroyForm();
}

bool TfrmOption::FormCreate() {
    icon_.reset(static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KELVORA), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));

    SendMessageW(Control(VideoQuality), TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    SendMessageW(Control(VideoQuality), TBM_SETPAGESIZE, 0, 10);
    SendMessageW(Control(VideoQuality), TBM_SETPOS, TRUE, 90);
    SendMessageW(Control(TrackBarRecord), TBM_SETRANGE, FALSE, MAKELPARAM(5, 1000));
    SendMessageW(Control(TrackBarPlayback), TBM_SETRANGE, FALSE, MAKELPARAM(1, 200));
    for (const wchar_t* f : kFormats) {
        SendMessageW(Control(formatscr), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f));
    }
    SendMessageW(Control(formatscr), CB_SETCURSEL, 0, 0);
    // A letter without a modifier would be taken from every program: the
    // field adds Ctrl+Alt to it.
    for (int id : kHotKeyFields) {
        SendMessageW(Control(id), HKM_SETRULES, HKCOMB_NONE,
                     MAKELPARAM(HOTKEYF_CONTROL | HOTKEYF_ALT, 0));
    }
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 100, 0, 80, 0};
    SetScrollInfo(Control(ScrollBar1), SB_CTL, &si, TRUE);

    OnCommand(VideoCompressor, [this](WORD code) {
        if (code == CBN_SELCHANGE) {
            VideoCompressorClick();
        }
    });
    OnClick(AboutB, [this] { AboutBClick(); });
    OnClick(ConfigB, [this] { ConfigBClick(); });
    OnClick(change, [this] { changeClick(); });
    OnClick(AutoMode, [this] { AutoModeClick(); });
    OnClick(Button2, [this] { Button2Click(); });
    OnScroll(VideoQuality, [this](WORD) { UpdateLabels(); });
    OnScroll(TrackBarRecord, [this](WORD) { TrackBarRecordChange(true); });
    OnScroll(TrackBarPlayback, [this](WORD) { TrackBarPlaybackChange(true); });
    OnScroll(ScrollBar1, [this](WORD request) { OnScrollBar(request); });

    // Autorun as the registry holds it now; afterwards the box keeps the
    // user's choice for the run.
    SendMessageW(Control(avto), BM_SETCHECK, AutorunEnabled() ? BST_CHECKED : BST_UNCHECKED, 0);
    ScrollBar1Change();
    return true;
}

void TfrmOption::FillAndShow() {
    // The JPEG quality, when the file holds an integer up to 100 (below 0
    // the scroll bar takes 0).
    if (!settings_.Compress.empty()) {
        const std::optional<std::int32_t> compress = ParseSettingInt(settings_.Compress);
        if (compress && *compress <= 100) {
            SetScrollPos(*compress);
        }
    }
    // Only an exact format name selects.
    for (int i = 0; i < 3; ++i) {
        if (Widen(settings_.Format, CP_ACP) == kFormats[i]) {
            SendMessageW(Control(formatscr), CB_SETCURSEL, static_cast<WPARAM>(i), 0);
        }
    }
    SelectCodec(settings_.Codec);
    SetTrackPos(VideoQuality, settings_.VideoCompress);
    UpdateCodecButtons();
    SetText(Control(Dir), Widen(settings_.OutputDir, CP_ACP));
    ShowHotKeys();
    ShowSound();
    SetStatus(L"");
    // Already shown: only brought to the front, the list stays.
    if (!Showing()) {
        FormShow();
        ShowWindow(Handle(), SW_SHOW);
    }
    SetForegroundWindow(Handle());
}

void TfrmOption::FormShow() {
    TScreenCamera* camera = camera_();
    if (camera == nullptr) {
        return;
    }
    // The catalogue afresh, with the camera's choice selected.
    HWND list = Control(VideoCompressor);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : camera->GetVideoCompressors()) {
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
    }
    SelectCodec(camera->FCodecIndex.load());
    SetTrackPos(TrackBarRecord, camera->FMSPFRecord.load());
    SetTrackPos(TrackBarPlayback, camera->FFrameRatePlayback.load());
    SetTrackPos(VideoQuality, camera->FCompressionQuality.load() / 100);
    UpdateCodecButtons();
}

void TfrmOption::UpdateCodecButtons() {
    bool canAbout = false;
    bool canConfigure = false;
    if (TScreenCamera* camera = camera_()) {
        camera->CompressorQuery(CodecByte(), canAbout, canConfigure);
    }
    EnableWindow(Control(AboutB), canAbout);
    EnableWindow(Control(ConfigB), canConfigure);
    const bool selected = SendMessageW(Control(VideoCompressor), CB_GETCURSEL, 0, 0) >= 0;
    for (int id : {VideoQuality, Label1, LabelQuality}) {
        EnableWindow(Control(id), selected);
    }
}

void TfrmOption::AboutBClick() {
    if (TScreenCamera* camera = camera_()) {
        ++codecDialogs_;
        camera->CompressorAbout(CodecByte(), Handle());
        --codecDialogs_;
    }
}

void TfrmOption::ConfigBClick() {
    if (TScreenCamera* camera = camera_()) {
        ++codecDialogs_;
        camera->CompressorConfigure(CodecByte(), Handle());
        --codecDialogs_;
    }
}

void TfrmOption::UpdateLabels() {
    SetText(Control(labelmspFrecord), std::to_wstring(TrackPos(TrackBarRecord)) + L" Millisecond");
    SetText(Control(labelFPSPlayback), std::to_wstring(TrackPos(TrackBarPlayback)) + L" fps");
    SetText(Control(LabelQuality), std::to_wstring(TrackPos(VideoQuality)));
}

void TfrmOption::ScrollBar1Change() {
    SetText(Control(y), std::to_wstring(ScrollPos()) + L" %");
}

// Only a move by the user couples the other track bar: a change the program
// makes (including the coupling itself) updates the labels and stops there.
void TfrmOption::TrackBarRecordChange(bool byUser) {
    if (byUser && Checked(AutoMode)) {
        SetTrackPos(TrackBarPlayback, 1000 / TrackPos(TrackBarRecord));
    }
    UpdateLabels();
}

void TfrmOption::TrackBarPlaybackChange(bool byUser) {
    if (byUser && Checked(AutoMode)) {
        SetTrackPos(TrackBarRecord, 1000 / TrackPos(TrackBarPlayback));
    }
    UpdateLabels();
}

void TfrmOption::AutoModeClick() {
    if (Checked(AutoMode)) {
        SetTrackPos(TrackBarRecord, 1000 / TrackPos(TrackBarPlayback));
    }
}

void TfrmOption::changeClick() {
    const std::wstring folder = BrowseForFolder(L"Выберите папку");
    if (folder.empty()) {
        return;  // cancelled
    }
    const std::wstring dir = folder.back() == L'\\' ? folder : folder + L'\\';
    // "Settings.ini" keeps the folder in the ANSI code page; a name that it
    // cannot spell would come back as another folder.
    if (!win32::ToCodePage(dir)) {
        const std::wstring text = L"Папку \"" + dir +
                                  L"\" нельзя выбрать: в её пути есть знаки, которых нет в "
                                  L"кодировке системы, и файл настроек не сможет её сохранить. "
                                  L"Выберите папку с другим именем.";
        MessageBoxW(Handle(), text.c_str(), L"Kelvora", MB_ICONWARNING);
        return;
    }
    SetText(Control(Dir), dir);
}

std::wstring TfrmOption::BrowseForFolder(const wchar_t* caption) {
    std::wstring path;
    {
        DisabledWindows disabled;
        const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        path = chooser_ ? chooser_(owner_, caption) : SystemFolderChooser(owner_, caption);
        SetErrorMode(oldMode);
    }
    if (path.size() == 2) {
        path += L'\\';  // a bare drive
    }
    return path;
}

void TfrmOption::Button2Click() {
    // The controls into the camera.
    UpdateLabels();
    const int codec = static_cast<int>(SendMessageW(Control(VideoCompressor), CB_GETCURSEL, 0, 0));
    const int quality = TrackPos(VideoQuality);
    if (TScreenCamera* camera = camera_()) {
        camera->FCodecIndex = codec;
        camera->FCompressionQuality = quality * 100;
        camera->FMSPFRecord = TrackPos(TrackBarRecord);
        camera->FFrameRatePlayback = TrackPos(TrackBarPlayback);
    }
    // The file; the folder came from it or passed the chooser's ANSI check.
    TSettings values;
    values.OutputDir = Narrow(WindowText(Control(Dir)), CP_ACP);
    values.Format = Narrow(WindowText(Control(formatscr)), CP_ACP);
    values.Compress = std::to_string(ScrollPos());
    values.Codec = codec;
    values.VideoCompress = quality;
    const SaveResult saved = SaveSettings(iniPath_, values);
    if (!saved.Ok) {
        MessageBoxW(Handle(), saved.Message.c_str(), L"Kelvora", MB_ICONERROR);
        return;  // the dialog stays open; autorun is not touched
    }
    // Autorun only after the file.
    const bool autorunSaved = SaveAutorun();

    // The hot keys: registered first, so that the file keeps only keys
    // that work; a refused one keeps its previous key.
    std::vector<std::wstring> refused;
    if (hotKeys_.apply && hotKeys_.registered) {
        HotKeySet wanted{};
        for (int i = 0; i < kHotKeyCount; ++i) {
            wanted[i] = HotKeyFromControl(static_cast<std::uint16_t>(
                SendMessageW(Control(kHotKeyFields[i]), HKM_GETHOTKEY, 0, 0)));
        }
        refused = hotKeys_.apply(wanted);
        ShowHotKeys();
        if (!SaveHotKeys(hotKeys_.registered())) {
            MessageBoxW(Handle(), UnableToWriteText(iniPath_).c_str(), L"Kelvora", MB_ICONERROR);
            return;
        }
    }
    if (!SaveSound(&refused)) {
        MessageBoxW(Handle(), UnableToWriteText(iniPath_).c_str(), L"Kelvora", MB_ICONERROR);
        return;
    }
    std::wstring status;
    for (const std::wstring& message : refused) {
        status += (status.empty() ? L"" : L"; ") + message;
    }
    SetStatus(status);
    if (refused.empty() && autorunSaved) {
        Hide();
    }  // else the dialog stays open with the refusal in its status bar
}

bool TfrmOption::SaveAutorun() {
    const bool on = Checked(avto);
    std::wstring problem;
    if (SetAutorun(on, ExecutablePath(), &problem) != AutorunWrite::Failed) {
        return true;
    }
    // Said at once: otherwise the box would come back as it was at the next
    // start, without a word. It shows what holds now.
    const std::wstring text = std::wstring(on ? L"Не удалось поместить Kelvora в автозагрузку."
                                              : L"Не удалось убрать Kelvora из автозагрузки.") +
                              L"\n\n" + problem;
    MessageBoxW(Handle(), text.c_str(), L"Kelvora", MB_ICONERROR);
    SendMessageW(Control(avto), BM_SETCHECK, AutorunEnabled() ? BST_CHECKED : BST_UNCHECKED, 0);
    return false;
}

void TfrmOption::ShowHotKeys() {
    const HotKeySet keys = hotKeys_.registered ? hotKeys_.registered() : kDefaultHotKeys;
    for (int i = 0; i < kHotKeyCount; ++i) {
        SendMessageW(Control(kHotKeyFields[i]), HKM_SETHOTKEY, HotKeyToControl(keys[i]), 0);
    }
}

bool TfrmOption::SaveHotKeys(const HotKeySet& keys) const {
    for (int i = 0; i < kHotKeyCount; ++i) {
        if (!WriteSetting(iniPath_, kHotKeyNames[i], HotKeySetting(keys[i]))) {
            return false;
        }
    }
    return true;
}

void TfrmOption::ShowSound() {
    const SoundSettings sound =
        ReadSoundSettings([this](const char* key) { return ReadSetting(iniPath_, key); });
    SendMessageW(Control(RecordSound), BM_SETCHECK, sound.RecordAudio ? BST_CHECKED : BST_UNCHECKED,
                 0);
    HWND list = Control(SoundDevice);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kDefaultDevice));
    const std::wstring chosen = Widen(sound.AudioDevice, CP_ACP);
    int selected = 0;
    for (const std::string& name : SoundInputDevices()) {
        const std::wstring device = Widen(name);
        const LRESULT at =
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device.c_str()));
        if (device == chosen) {
            selected = static_cast<int>(at);
        }
    }
    // A device that is not plugged in now stays chosen until the user
    // picks another.
    if (!chosen.empty() && selected == 0) {
        selected = static_cast<int>(
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(chosen.c_str())));
    }
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

bool TfrmOption::SaveSound(std::vector<std::wstring>* refused) {
    SoundSettings sound;
    sound.RecordAudio = Checked(RecordSound);
    HWND list = Control(SoundDevice);
    if (SendMessageW(list, CB_GETCURSEL, 0, 0) > 0) {
        const std::wstring name = WindowText(list);
        sound.AudioDevice = Narrow(name, CP_ACP);
        // The file holds ANSI text: a name the code page cannot spell would
        // come back as no device, or as another one.
        if (Widen(sound.AudioDevice, CP_ACP) != name) {
            sound.AudioDevice.clear();
            SendMessageW(list, CB_SETCURSEL, 0, 0);
            refused->push_back(L"Имя устройства «" + name +
                               L"» не записывается в Settings.ini, выбрано устройство по умолчанию");
        }
    }
    if (TScreenCamera* camera = camera_()) {
        camera->FRecordAudio = sound.RecordAudio;
        camera->FAudioDevice = Narrow(Widen(sound.AudioDevice, CP_ACP));
    }
    return WriteSoundSettings(
        [this](const char* key, const std::string& value) {
            return WriteSetting(iniPath_, key, value);
        },
        sound);
}

void TfrmOption::SetStatus(const std::wstring& text) {
    SendMessageW(Control(StatusBar1), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void TfrmOption::Hide() {
    ShowWindow(Handle(), SW_HIDE);
}

void TfrmOption::SelectCodec(int index) {
    // An index outside the list leaves no selection (Wine's combo box keeps
    // the old one when asked for an index past its end).
    HWND list = Control(VideoCompressor);
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    SendMessageW(list, CB_SETCURSEL, index >= 0 && index < count ? index : -1, 0);
}

std::uint8_t TfrmOption::CodecByte() const {
    return static_cast<std::uint8_t>(SendMessageW(Control(VideoCompressor), CB_GETCURSEL, 0, 0));
}

int TfrmOption::TrackPos(int id) const {
    return static_cast<int>(SendMessageW(Control(id), TBM_GETPOS, 0, 0));
}

void TfrmOption::SetTrackPos(int id, int pos) {
    SendMessageW(Control(id), TBM_SETPOS, TRUE, pos);  // the control clamps to its range
    if (id == TrackBarRecord) {
        TrackBarRecordChange(false);
    } else if (id == TrackBarPlayback) {
        TrackBarPlaybackChange(false);
    } else {
        UpdateLabels();
    }
}

int TfrmOption::ScrollPos() const {
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_POS;
    GetScrollInfo(Control(ScrollBar1), SB_CTL, &si);
    return si.nPos;
}

void TfrmOption::SetScrollPos(int pos) {
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_POS;
    si.nPos = std::clamp(pos, 0, 100);
    SetScrollInfo(Control(ScrollBar1), SB_CTL, &si, TRUE);
    ScrollBar1Change();
}

void TfrmOption::OnScrollBar(WORD request) {
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_POS | SIF_TRACKPOS;
    GetScrollInfo(Control(ScrollBar1), SB_CTL, &si);
    int pos = si.nPos;
    switch (request) {
        case SB_LINELEFT:
            --pos;
            break;
        case SB_LINERIGHT:
            ++pos;
            break;
        case SB_PAGELEFT:
            pos -= kScrollPage;
            break;
        case SB_PAGERIGHT:
            pos += kScrollPage;
            break;
        case SB_LEFT:
            pos = 0;
            break;
        case SB_RIGHT:
            pos = 100;
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            pos = si.nTrackPos;
            break;
        default:
            return;  // SB_ENDSCROLL
    }
    if (pos != si.nPos || request == SB_THUMBTRACK) {
        SetScrollPos(pos);
    }
}

bool TfrmOption::Checked(int id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

LRESULT TfrmOption::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE:
            Hide();  // lives for the whole run; nothing is stored
            return 0;
        case DM_GETDEFID:
            // Enter in IsDialogMessageW presses the save button.
            return MAKELRESULT(Button2, DC_HASDEFID);
        case WM_COMMAND:
            // Esc from IsDialogMessageW acts as the close box.
            if (LOWORD(wp) == IDCANCEL) {
                Hide();
                return 0;
            }
            break;
        default:
            break;
    }
    return FormWindow::HandleMessage(msg, wp, lp);
}

}  // namespace kelvora
