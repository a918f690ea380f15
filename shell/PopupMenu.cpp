#include "shell/PopupMenu.h"

#include <commctrl.h>

#include <type_traits>

#include "shell/MenuImages.h"
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

TMenuItem* TPopupMenu::Popup(int x, int y, HWND owner) {
    std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenuHandle)> menu(
        CreatePopupMenu(), &DestroyMenuHandle);
    if (!menu) {
        return nullptr;
    }
    // Command ids are the item's position + 1 (0 means "nothing chosen").
    UINT added = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const TMenuItem& item = *items_[i];
        if (!item.Visible) {
            continue;
        }
        std::wstring text = item.Caption;
        if (!item.ShortCut.empty()) {
            text += L'\t' + item.ShortCut;
        }
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE;
        mii.fType = MFT_STRING;
        mii.wID = static_cast<UINT>(i + 1);
        mii.dwTypeData = text.data();
        if (Images != nullptr && Images->Get(item.ImageIndex) != nullptr) {
            mii.fMask |= MIIM_BITMAP | MIIM_DATA;
            mii.hbmpItem = HBMMENU_CALLBACK;
            mii.dwItemData = static_cast<ULONG_PTR>(item.ImageIndex);
        }
        if (!InsertMenuItemW(menu.get(), added, TRUE, &mii)) {
            return nullptr;
        }
        ++added;
    }
    if (added == 0) {
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
    if (chosen == 0 || chosen > items_.size()) {
        return nullptr;
    }
    TMenuItem* item = items_[chosen - 1].get();
    if (item->OnClick) {
        // Copied: the handler may change the item it belongs to.
        const std::function<void()> handler = item->OnClick;
        handler();
    }
    return item;
}

}  // namespace kelvora
