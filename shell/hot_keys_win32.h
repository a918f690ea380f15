// The program's three global hot keys on a window: ids 1 (record), 2 (stop)
// and 3 (screenshot) through RegisterHotKey, registered at the start, changed
// through ApplyHotKeySet (shell/hot_keys.h) and released at the end. UI
// thread of the window only.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "shell/hot_keys.h"

namespace kelvora {

class WindowHotKeys : public HotKeyRegistrar {
  public:
    explicit WindowHotKeys(HWND window) : window_(window) {}
    bool Register(int index, const HotKey& key) override {
        return RegisterHotKey(window_, index + 1, key.modifiers, key.key) != FALSE;
    }
    void Unregister(int index) override { UnregisterHotKey(window_, index + 1); }

  private:
    HWND window_;
};

// Registers `keys` on `window`; a combination another program holds is
// silently absent.
inline void RegisterHotKeys(HWND window, const std::array<HotKey, kHotKeyCount>& keys) {
    WindowHotKeys system(window);
    for (int i = 0; i < kHotKeyCount; ++i) {
        static_cast<void>(system.Register(i, keys[static_cast<std::size_t>(i)]));
    }
}

// Unregisters all three, errors ignored.
inline void UnregisterHotKeys(HWND window) {
    WindowHotKeys system(window);
    for (int i = 0; i < kHotKeyCount; ++i) {
        system.Unregister(i);
    }
}

}  // namespace kelvora
