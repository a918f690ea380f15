// The program's three global hot keys on a window: ids 1 (record), 2 (stop)
// and 3 (screenshot) through RegisterHotKey, for ApplyHotKeySet
// (shell/hot_keys.h). UI thread of the window only.
#pragma once

#include <windows.h>

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

}  // namespace kelvora
