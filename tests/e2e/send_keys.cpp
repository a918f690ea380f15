// The run command's hands on a running Kelvora.exe (under Wine, same
// prefix and display):
//   send_keys up          waits until Kelvora's window, tray icon and hot keys
//                         (Shift+R, Shift+S, Shift+X) are there
//   send_keys R|S|X       presses Shift+<key> and waits until Kelvora has
//                         handled it
//   send_keys close       closes Kelvora as its "Выйти" does and waits until
//                         its hot keys are free again
// Exits 0 on success, 1 when the wait ran out, 2 on a wrong argument.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/e2e/kelvora_driver.h"
#include "tests/support/desktop.h"

namespace {

bool HotKeysHeld(bool held) {
    using kelvora::test::ShiftHotKeyHeld;
    return kelvora::test::PumpUntil(
        [&] {
            return ShiftHotKeyHeld('R') == held && ShiftHotKeyHeld('S') == held &&
                   ShiftHotKeyHeld('X') == held;
        },
        120000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: send_keys up|R|S|X|close\n");
        return 2;
    }
    const char* what = argv[1];
    if (std::strcmp(what, "up") == 0) {
        // The hot keys come first in its start-up, the tray icon last.
        const bool up = kelvora::test::PumpUntil(
            [] {
                return FindWindowW(L"TfrmMain", nullptr) != nullptr &&
                       !kelvora::test::TrayIconWindows().empty();
            },
            120000);
        return up && HotKeysHeld(true) ? 0 : 1;
    }
    if (std::strcmp(what, "close") == 0) {
        HWND main = FindWindowW(L"TfrmMain", nullptr);
        if (main == nullptr) {
            return 1;
        }
        PostMessageW(main, WM_CLOSE, 0, 0);
        return HotKeysHeld(false) ? 0 : 1;
    }
    if (std::strlen(what) == 1 && std::strchr("RSX", what[0]) != nullptr) {
        kelvora::test::PressShift(static_cast<WORD>(what[0]));
        return kelvora::test::WaitWindowHandled(FindWindowW(L"TfrmMain", nullptr), 120000) ? 0 : 1;
    }
    std::fprintf(stderr, "send_keys: unknown command %s\n", what);
    return 2;
}
