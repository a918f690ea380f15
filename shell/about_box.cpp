#include "shell/about_box.h"

#include <commctrl.h>

#include <vector>

#include "resource_ids.h"

namespace kelvora {

namespace {

constexpr wchar_t kClassName[] = L"TAboutBox";

enum ControlId { Picture = 10, Name, Version, Codecs, Copyright, OkButton };

const std::vector<ControlSpec>& Table() {
    static const std::vector<ControlSpec> table = {
        {Picture, WC_STATICW, L"", {16, 16, 48, 48}, SS_ICON | SS_REALSIZEIMAGE | WS_VISIBLE},
        {Name, WC_STATICW, L"Kelvora", {80, 16, 220, 16}, WS_VISIBLE},
        {Version, WC_STATICW, L"Версия " KELVORA_VERSION_TEXT, {80, 36, 220, 16}, WS_VISIBLE},
        {Codecs,
         WC_STATICW,
         L"Встроенные кодеки: Microsoft Video 1, ZMBV, Motion JPEG и несжатые кадры; "
         L"установленные в системе кодеки тоже доступны.",
         {80, 58, 220, 58},
         WS_VISIBLE},
        {Copyright,
         WC_STATICW,
         L"Запись экрана в AVI и скриншоты BMP, JPEG, PNG.",
         {80, 122, 220, 30},
         WS_VISIBLE},
        {OkButton,
         WC_BUTTONW,
         L"OK",
         {224, 160, 76, 24},
         BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
    };
    return table;
}

}  // namespace

std::unique_ptr<TAboutBox> TAboutBox::Create(HWND owner) {
    std::unique_ptr<TAboutBox> box(new TAboutBox());
    if (!box->CreateCaptionForm(kClassName, L"О программе", WS_CAPTION | WS_SYSMENU,
                                WS_EX_DLGMODALFRAME, owner, SIZE{316, 196}) ||
        !box->CreateControls(Table())) {
        return nullptr;
    }
    box->icon_.reset(static_cast<HICON>(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_KELVORA), IMAGE_ICON, 48, 48, 0)));
    SendMessageW(box->Control(Picture), STM_SETICON, reinterpret_cast<WPARAM>(box->icon_.get()), 0);
    box->OnClick(OkButton, [b = box.get()] { ShowWindow(b->Handle(), SW_HIDE); });
    return box;
}

TAboutBox::~TAboutBox() {
    DestroyForm();
}

void TAboutBox::ShowNonModal() {
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
}

LRESULT TAboutBox::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        ShowWindow(Handle(), SW_HIDE);  // lives for the whole run
        return 0;
    }
    return FormWindow::HandleMessage(msg, wp, lp);
}

}  // namespace kelvora
