#include "shell/popup_menu.h"

#include <commctrl.h>

#include <type_traits>

#include "shell/menu_images.h"
#include "win32/handles.h"

namespace kelvora {

namespace {

void DestroyMenuHandle(HMENU menu) {
    DestroyMenu(menu);
}

// Draws the items' images while the menu is open. Images are drawn by the
// menu's owner (HBMMENU_CALLBACK) with AlphaBlend: Wine blits an item's
// bitmap without its alpha, which leaves black around the picture; on
// Windows the result looks the same as a 32-bit hbmpItem.
LRESULT CALLBACK ImageDrawer(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR images) {
    const auto* list = reinterpret_cast<const TMenuImages*>(images);
    if (msg == WM_MEASUREITEM) {
        auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
        if (mi->CtlType == ODT_MENU && list->Get(static_cast<int>(mi->itemData)) != nullptr) {
            mi->itemWidth = static_cast<UINT>(list->Size());
            mi->itemHeight = static_cast<UINT>(list->Size());
            return TRUE;
        }
    } else if (msg == WM_DRAWITEM) {
        const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        HBITMAP image =
            di->CtlType == ODT_MENU ? list->Get(static_cast<int>(di->itemData)) : nullptr;
        if (image != nullptr) {
            win32::MemoryDc mem(CreateCompatibleDC(di->hDC));
            if (mem) {
                win32::SelectGuard select(mem.get(), image);
                const int size = list->Size();
                const RECT& r = di->rcItem;
                const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
                AlphaBlend(di->hDC, r.left + (r.right - r.left - size) / 2,
                           r.top + (r.bottom - r.top - size) / 2, size, size, mem.get(), 0, 0, size,
                           size, blend);
            }
            return TRUE;
        }
    }
    return DefSubclassProc(wnd, msg, wp, lp);
}

}  // namespace

TMenuItem* TPopupMenu::Add(TMenuItem item) {
    items_.push_back(std::make_unique<TMenuItem>(std::move(item)));
    return items_.back().get();
}

bool TPopupMenu::Fill(HMENU menu, const std::vector<std::unique_ptr<TMenuItem>>& items,
                      std::vector<TMenuItem*>& ids) {
    UINT added = 0;
    for (const std::unique_ptr<TMenuItem>& entry : items) {
        TMenuItem& item = *entry;
        if (!item.Visible) {
            continue;
        }
        std::wstring text = item.Caption;
        if (!item.ShortCut.empty()) {
            text += L'\t' + item.ShortCut;
        }
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_STATE;
        mii.fType = MFT_STRING | (item.Checked ? MFT_RADIOCHECK : 0);
        mii.fState = item.Checked ? MFS_CHECKED : 0;
        // Command ids are the item's place in `ids` + 1 (0: nothing chosen).
        ids.push_back(&item);
        mii.wID = static_cast<UINT>(ids.size());
        mii.dwTypeData = text.data();
        if (Images != nullptr && Images->Get(item.ImageIndex) != nullptr) {
            mii.fMask |= MIIM_BITMAP | MIIM_DATA;
            mii.hbmpItem = HBMMENU_CALLBACK;
            mii.dwItemData = static_cast<ULONG_PTR>(item.ImageIndex);
        }
        HMENU sub = nullptr;
        if (!item.SubItems.empty()) {
            sub = CreatePopupMenu();
            if (sub == nullptr || !Fill(sub, item.SubItems, ids)) {
                if (sub != nullptr) {
                    DestroyMenu(sub);
                }
                return false;
            }
            mii.fMask |= MIIM_SUBMENU;
            mii.hSubMenu = sub;  // the parent menu owns it once inserted
        }
        if (!InsertMenuItemW(menu, added, TRUE, &mii)) {
            if (sub != nullptr) {
                DestroyMenu(sub);
            }
            return false;
        }
        ++added;
    }
    return added > 0;
}

TMenuItem* TPopupMenu::Popup(int x, int y, HWND owner) {
    std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenuHandle)> menu(
        CreatePopupMenu(), &DestroyMenuHandle);
    std::vector<TMenuItem*> ids;
    if (!menu || !Fill(menu.get(), items_, ids)) {
        return nullptr;
    }
    // The owner draws the images for as long as the menu is open.
    const bool drawing = Images != nullptr && owner != nullptr &&
                         SetWindowSubclass(owner, &ImageDrawer, reinterpret_cast<UINT_PTR>(this),
                                           reinterpret_cast<DWORD_PTR>(Images)) != FALSE;
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenuEx(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                         x, y, owner, nullptr));
    if (drawing) {
        RemoveWindowSubclass(owner, &ImageDrawer, reinterpret_cast<UINT_PTR>(this));
    }
    menu.reset();
    if (chosen == 0 || chosen > ids.size()) {
        return nullptr;
    }
    TMenuItem* item = ids[chosen - 1];
    if (item->OnClick) {
        // Copied: the handler may change the item it belongs to.
        const std::function<void()> handler = item->OnClick;
        handler();
    }
    return item;
}

}  // namespace kelvora
