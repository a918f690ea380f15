// Program entry of Kelvora.exe: the DLL search restricted, the common
// controls, the single-instance guard, then the main form and the message
// loop; the options dialog beside the main form.
#include <windows.h>
// commctrl.h needs the declarations of windows.h first.
#include <commctrl.h>

#include <memory>
#include <string>

#include "shell/options_dialog.h"
#include "shell/main_form.h"
#include "shell/startup_recovery.h"
#include "win32/handles.h"
#include "win32/system_dll.h"
#include "win32/text.h"

namespace {

// The named event "Kelvora": the first instance takes its initial signal and
// keeps it unsignalled for its whole life, so that every later instance
// times out here and ends, silently. Checked before anything touches the
// temporary files, which belong to the running instance's recording.
bool FirstInstance(win32::Handle& guard) {
    guard.reset(CreateEventA(nullptr, FALSE, TRUE, "Kelvora"));
    return guard && WaitForSingleObject(guard.get(), 10) == WAIT_OBJECT_0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    win32::RestrictDllSearch();  // before anything loads a DLL by name
    win32::Handle guard;
    if (!FirstInstance(guard)) {
        return 0;
    }
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);

    // Before the camera exists: it would wipe what a crash left behind.
    const std::string recovered = kelvora::RecoverCutOffRecording();

    std::unique_ptr<kelvora::TfrmMain> form = kelvora::TfrmMain::Create();
    if (!form) {
        return 1;
    }
    // The options dialog lives for the run; it goes before the main form,
    // whose window owns it and whose camera it reaches.
    kelvora::TfrmMain* main = form.get();
    std::unique_ptr<kelvora::TfrmOption> options = kelvora::TfrmOption::Create(
        main->Handle(), main->Settings(), [main] { return main->Camera(); }, main->IniPath());
    if (options) {
        options->SetHotKeyAccess({[main] { return main->HotKeys(); },
                                  [main](const kelvora::TfrmOption::HotKeySet& wanted) {
                                      return main->ApplyHotKeys(wanted);
                                  }});
    }
    form->SetOptionsDialog(options.get());
    if (!recovered.empty()) {
        MessageBoxW(form->Handle(), win32::Widen(recovered).c_str(), L"Kelvora",
                    MB_ICONINFORMATION);
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and Enter in the dialogs (options, About).
        HWND active = GetActiveWindow();
        if (active != nullptr && active != form->Handle() && IsDialogMessageW(active, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    form->SetOptionsDialog(nullptr);
    options.reset();
    form.reset();
    return 0;
}
