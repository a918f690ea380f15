// The main form's hidden panels: their controls built from one table, and
// the handlers that carry their values into the camera.
#include "shell/hidden_panel.h"

#include <commctrl.h>

#include "engine/screen_camera.h"
#include "shell/main_form.h"
#include "shell/tray_state.h"

namespace kelvora {

const std::vector<ControlSpec>& HiddenPanels() {
    static const std::vector<ControlSpec> table = {
        {GroupBox2, WC_BUTTONW, L"Settings", {0, 0, 400, 330}, BS_GROUPBOX},
        {ComboBox1, WC_COMBOBOXW, L"", {100, 16, 120, 200}, CBS_DROPDOWNLIST | WS_TABSTOP},
        {ComboBox2, WC_COMBOBOXW, L"", {100, 44, 120, 200}, CBS_DROPDOWNLIST | WS_TABSTOP},
        {ComboBox3, WC_COMBOBOXW, L"", {100, 72, 120, 200}, CBS_DROPDOWNLIST | WS_TABSTOP},
        {CheckBox1,
         WC_BUTTONW,
         L"Record cursor in area capture",
         {8, 100, 250, 17},
         BS_AUTOCHECKBOX},
        {CheckBox3,
         WC_BUTTONW,
         L"Draw rectangle around area capture",
         {8, 120, 250, 17},
         BS_AUTOCHECKBOX},
        {CheckBox4, WC_BUTTONW, L"Draw cross rectangle line", {8, 140, 250, 17}, BS_AUTOCHECKBOX},
        {CheckBox5,
         WC_BUTTONW,
         L"Minimize application on start capture",
         {8, 160, 250, 17},
         BS_AUTOCHECKBOX},
        {CheckBox6,
         WC_BUTTONW,
         L"Restore application after capture",
         {8, 180, 250, 17},
         BS_AUTOCHECKBOX},
        {CheckBox8, WC_BUTTONW, L"Preview ON", {8, 200, 250, 17}, BS_AUTOCHECKBOX},
        {CheckBox9, WC_BUTTONW, L"Timer Capture ON", {8, 220, 150, 17}, BS_AUTOCHECKBOX},
        {Edit5, WC_EDITW, L"0", {160, 220, 40, 21}, ES_NUMBER | WS_BORDER},
        {UpDown5, UPDOWN_CLASSW, L"", {200, 220, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit6, WC_EDITW, L"0", {220, 220, 40, 21}, ES_NUMBER | WS_BORDER},
        {UpDown6, UPDOWN_CLASSW, L"", {260, 220, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit7, WC_EDITW, L"0", {280, 220, 40, 21}, ES_NUMBER | WS_BORDER},
        {UpDown7, UPDOWN_CLASSW, L"", {320, 220, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit1, WC_EDITW, L"0", {60, 250, 60, 21}, ES_NUMBER | WS_BORDER},
        {UpDown1, UPDOWN_CLASSW, L"", {120, 250, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit2, WC_EDITW, L"0", {200, 250, 60, 21}, ES_NUMBER | WS_BORDER},
        {UpDown2, UPDOWN_CLASSW, L"", {260, 250, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit3, WC_EDITW, L"300", {60, 276, 60, 21}, ES_NUMBER | WS_BORDER},
        {UpDown3, UPDOWN_CLASSW, L"", {120, 276, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {Edit4, WC_EDITW, L"300", {200, 276, 60, 21}, ES_NUMBER | WS_BORDER},
        {UpDown4, UPDOWN_CLASSW, L"", {260, 276, 16, 21}, UDS_SETBUDDYINT | UDS_ARROWKEYS},
        {RadioGroup1, WC_BUTTONW, L"Select Region Type", {240, 16, 150, 70}, BS_GROUPBOX},
        {RadioFixed,
         WC_BUTTONW,
         L"Fixed Region (Region From Windows)",
         {248, 34, 140, 17},
         BS_AUTORADIOBUTTON | WS_GROUP},
        {RadioFull, WC_BUTTONW, L"Full Screen", {248, 56, 140, 17}, BS_AUTORADIOBUTTON},
        {Panel2, WC_STATICW, L"", {0, 340, 400, 60}, SS_ETCHEDFRAME},
        {Progress, PROGRESS_CLASSW, L"", {8, 348, 380, 16}, 0},
        {LStatus, WC_STATICW, L"No Status", {8, 370, 280, 17}, WS_DISABLED},
        {BCancel, WC_BUTTONW, L"Cancel", {300, 368, 88, 23}, BS_PUSHBUTTON | WS_DISABLED},
    };
    return table;
}

void TfrmMain::BuildHiddenPanels() {
    (void)CreateControls(HiddenPanels());
    auto items = [this](int id, std::initializer_list<const wchar_t*> texts, int selected) {
        HWND combo = Control(id);
        for (const wchar_t* t : texts) {
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
        }
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    };
    items(ComboBox1,
          {L"Idle", L"Lowest", L"Lower", L"Normal", L"Higher", L"Highest", L"TimeCritical"}, 3);
    items(ComboBox2, {L"Original Colors", L"Reverse Colors"}, 0);
    items(ComboBox3, {L"8 bit", L"16 bit", L"24 bit", L"32 bit"}, 3);
    for (int id : {CheckBox1, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox8}) {
        SetChecked(id, true);
    }
    SetChecked(RadioFull, true);
    SendMessageW(Control(Progress), PBM_SETRANGE32, 0, 100);
    const struct {
        int upDown, edit, max;
    } buddies[] = {{UpDown5, Edit5, 99},   {UpDown6, Edit6, 59},   {UpDown7, Edit7, 59},
                   {UpDown1, Edit1, 9999}, {UpDown2, Edit2, 9999}, {UpDown3, Edit3, 9999},
                   {UpDown4, Edit4, 9999}};
    for (const auto& b : buddies) {
        SendMessageW(Control(b.upDown), UDM_SETBUDDY, reinterpret_cast<WPARAM>(Control(b.edit)), 0);
        SendMessageW(Control(b.upDown), UDM_SETRANGE32, 0, b.max);
    }

    OnClick(CheckBox8, [this] { CheckBox8Click(); });
    OnClick(CheckBox9, [this] { CheckBox9Click(); });
    OnClick(RadioFixed, [this] { RadioGroup1Click(); });
    OnClick(RadioFull, [this] { RadioGroup1Click(); });
    OnClick(BCancel, [this] { FCancelRequested = true; });
    // Only their own clicks carry these two into the camera.
    OnClick(CheckBox5, [this] { camera->FMinimizeAppOnStart = Checked(CheckBox5); });
    OnClick(CheckBox6, [this] { camera->FRestoreAppWindowAfterCapture = Checked(CheckBox6); });
    for (int id : {Edit1, Edit2, Edit3, Edit4}) {
        OnCommand(id, [this, id](WORD code) {
            if (code == EN_CHANGE) {
                EditChange(id);
            }
        });
    }
    for (int id : {Edit5, Edit6, Edit7}) {
        OnCommand(id, [this](WORD code) {
            if (code == EN_CHANGE) {
                TimerEditChange();
            }
        });
    }
}

bool TfrmMain::Checked(int id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmMain::SetChecked(int id, bool checked) {
    SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int TfrmMain::ComboIndex(int id) const {
    return static_cast<int>(SendMessageW(Control(id), CB_GETCURSEL, 0, 0));
}

int TfrmMain::EditValue(int id) const {
    wchar_t text[16] = {};
    GetWindowTextW(Control(id), text, 16);
    return static_cast<int>(wcstol(text, nullptr, 10));
}

void TfrmMain::SetEnabled(int id, bool enabled) {
    EnableWindow(Control(id), enabled);
}

void TfrmMain::RadioGroup1Click() {
    if (camera) {
        ApplyPanel(*camera);
    }
}

void TfrmMain::ApplyPanel(TScreenCamera& c) {
    c.FVideoPriority = ComboIndex(ComboBox1);
    c.FFilterColor = ComboIndex(ComboBox2);
    c.SetColorDepth(ComboIndex(ComboBox3));
    c.FRecordCursor = Checked(CheckBox1);
    c.FDrawAreaCapture = Checked(CheckBox3);
    c.FLineRectClear = Checked(CheckBox4);
    c.SetPreview(Checked(CheckBox8));
    RebuildTimedCapture();
    const struct {
        int edit, upDown;
    } rectangle[] = {{Edit1, UpDown1}, {Edit2, UpDown2}, {Edit3, UpDown3}, {Edit4, UpDown4}};
    for (const auto& e : rectangle) {
        SetEnabled(e.edit, false);
        SetEnabled(e.upDown, false);
    }
    SetEnabled(CheckBox3, false);
    SetEnabled(CheckBox4, false);
    // The area chosen in the tray menu is applied by Record, for its
    // recording only. Between recordings the camera watches the whole
    // screen, whose frame lies outside it: an area chosen for a recording
    // that ended neither shows a frame nor opens a selection.
    const TCameraState state = c.State();
    if (state == TCameraState::Idle || state == TCameraState::Finishing) {
        // A rectangle chosen in a selection (mode 3 now) sets the size the
        // area keeps when it follows the mouse.
        if (c.FRegionType == 3) {
            followWidth_ = c.FWidth;
            followHeight_ = c.FHeight;
        }
        c.FRegionType = kAreaFullScreen;
    }
}

void TfrmMain::CheckBox8Click() {
    RadioGroup1Click();
    if (camera) {
        camera->SetPreview(Checked(CheckBox8));
    }
}

void TfrmMain::CheckBox9Click() {
    const bool on = Checked(CheckBox9);
    for (int id : {Edit5, Edit6, Edit7, UpDown5, UpDown6, UpDown7}) {
        SetEnabled(id, on);
    }
    RebuildTimedCapture();
}

void TfrmMain::TimerEditChange() {
    RebuildTimedCapture();
}

void TfrmMain::RebuildTimedCapture() {
    if (!camera) {
        return;
    }
    camera->FTimerCapture = TTimerCapture{static_cast<std::uint8_t>(Checked(CheckBox9) ? 1 : 0),
                                          static_cast<std::uint8_t>(EditValue(Edit5)),
                                          static_cast<std::uint8_t>(EditValue(Edit6)),
                                          static_cast<std::uint8_t>(EditValue(Edit7))};
}

void TfrmMain::EditChange(int id) {
    // Texts that CameraPreview put there came from the camera: written back
    // (clamped to the primary screen) they would move or crop the area of a
    // recording, a maximised window or one on another monitor.
    if (!camera || showingArea_) {
        return;
    }
    HWND edit = Control(id);
    if (GetWindowTextLengthW(edit) == 0) {
        SetWindowTextW(edit, L"0");  // comes back here with the text
        return;
    }
    const bool vertical = id == Edit1 || id == Edit4;
    const int max = GetSystemMetrics(vertical ? SM_CYSCREEN : SM_CXSCREEN);
    SendMessageW(Control(id - Edit1 + UpDown1), UDM_SETRANGE32, 0, max);
    int value = EditValue(id);
    if (value > max) {
        SetWindowTextW(edit, std::to_wstring(max).c_str());
        return;
    }
    switch (id) {
        case Edit1:
            camera->FTop = value;
            break;
        case Edit2:
            camera->FLeft = value;
            break;
        case Edit3:
            camera->FWidth = value;
            break;
        default:
            camera->FHeight = value;
            break;
    }
}

}  // namespace kelvora
