// TAboutBox: the small fixed window that "О программе" shows, non-modal:
// Kelvora's icon, name and version, a line on the built-in compressors and
// an OK button. Created hidden once at start-up; the close box and OK hide
// it again. UI thread only.
#pragma once

#include <windows.h>

#include <memory>

#include "win32/form_window.h"
#include "win32/handles.h"

namespace kelvora {

class TAboutBox : public FormWindow {
  public:
    // Hidden, owned by `owner`; null when the platform refuses the window.
    [[nodiscard]] static std::unique_ptr<TAboutBox> Create(HWND owner);
    ~TAboutBox() override;

    // Shows the box, or brings it to the front when it shows already.
    void ShowNonModal();

  protected:
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    TAboutBox() = default;
    win32::Icon icon_;
};

}  // namespace kelvora
