// The menu's image list: square 32-bit pictures cut from one bitmap strip in
// the resources (left to right, index 0 first), each kept as a bitmap with
// premultiplied alpha, ready for AlphaBlend.
//
// Protocol: load once, keep the object alive while any menu built from it is
// open; the bitmaps belong to this object (menus only borrow them).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "win32/handles.h"

namespace kelvora {

class TMenuImages {
  public:
    // Cuts the RT_BITMAP resource `id` of `module` (a 32-bit bottom-up strip
    // with straight alpha, `size` pixels high and a multiple of it wide)
    // into pictures. False, with no pictures, when the resource is missing
    // or has another form.
    [[nodiscard]] bool LoadStrip(HINSTANCE module, int id, int size);
    // The picture at `index`, or null when there is none.
    HBITMAP Get(int index) const;
    int Count() const { return static_cast<int>(images_.size()); }
    // The pictures' width and height in pixels.
    int Size() const { return size_; }

  private:
    std::vector<win32::Bitmap> images_;
    int size_ = 0;
};

// Straight-alpha B, G, R, A pixels to premultiplied ones, in place.
void PremultiplyAlpha(std::uint8_t* bgra, std::size_t pixels);

}  // namespace kelvora
