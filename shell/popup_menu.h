// A popup menu whose items carry a caption, a shortcut text shown at the
// right ("Shift+R"), an image from a TMenuImages list, a visible flag and a
// click handler.
//
// Win32 menus have no hidden items, so the menu is built afresh from the
// visible items each time it opens and destroyed when it closes. Popup runs
// the chosen item's handler after the menu has closed, so a handler may
// change the items (hide one, show another) or open a window.
//
// Protocol: items are added once and addressed through the pointers Add
// returns (valid as long as the menu); the image list, when set, must
// outlive the menu's Popup calls. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvora {

class TMenuImages;
class TMyTrayIcon;

struct TMenuItem {
    std::wstring Caption;
    std::wstring ShortCut;  // empty for none
    int ImageIndex = -1;    // -1 for none
    bool Visible = true;
    std::function<void()> OnClick;
    // Shown with a radio mark (one choice of a group).
    bool Checked = false;
    // An item with sub-items opens a submenu of them; its own OnClick is
    // not run.
    std::vector<std::unique_ptr<TMenuItem>> SubItems;

    // Appends a sub-item; this item owns it.
    TMenuItem* AddSub(TMenuItem item) {
        SubItems.push_back(std::make_unique<TMenuItem>(std::move(item)));
        return SubItems.back().get();
    }
};

class TPopupMenu {
  public:
    // Appends an item; the menu owns it.
    TMenuItem* Add(TMenuItem item);
    // The items in display order, hidden ones included.
    std::size_t Count() const { return items_.size(); }
    TMenuItem& Item(std::size_t index) { return *items_[index]; }

    // The images of the items; null for none.
    TMenuImages* Images = nullptr;
    // False: the tray icon does not open the menu on a right press.
    bool AutoPopup = true;
    // The tray icon that opened the menu last, null before.
    TMyTrayIcon* PopupComponent = nullptr;

    // Opens the menu of the visible items at screen point (x, y) for `owner`
    // (which receives the menu's messages) and waits until it closes; then
    // runs the chosen item's OnClick. Returns the chosen item, or null when
    // the menu was dismissed, had no visible item or could not be built.
    TMenuItem* Popup(int x, int y, HWND owner);

  private:
    // Adds the visible `items` to `menu`; `ids` maps command id - 1 to items.
    bool Fill(HMENU menu, const std::vector<std::unique_ptr<TMenuItem>>& items,
              std::vector<TMenuItem*>& ids);

    std::vector<std::unique_ptr<TMenuItem>> items_;
};

}  // namespace kelvora
