#include "engine/tbitmap_win32.h"

#include <vector>

TBitmap::TBitmap() : dc_(CreateCompatibleDC(nullptr)) {}

TBitmap::~TBitmap() {
    if (original_ != nullptr) {
        SelectObject(dc_.get(), original_);
    }
}

void TBitmap::SetPixelFormat(int bitCount) {
    if (bitCount != bitCount_) {
        bitCount_ = bitCount;
        if (bitmap_) {
            Recreate();
        }
    }
}

bool TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_ && bitmap_) {
        return true;
    }
    width_ = width;
    height_ = height;
    return Recreate();
}

bool TBitmap::Recreate() {
    if (!dc_) {
        return false;
    }
    if (original_ != nullptr) {
        SelectObject(dc_.get(), original_);
        original_ = nullptr;
    }
    bitmap_.reset();
    if (width_ <= 0 || height_ <= 0) {
        return false;
    }
    // Header plus 256 colours for 8 bits: the halftone palette, which spreads
    // its entries evenly over the colour cube.
    std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* bi = reinterpret_cast<BITMAPINFO*>(info.data());
    bi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi->bmiHeader.biWidth = width_;
    bi->bmiHeader.biHeight = height_;
    bi->bmiHeader.biPlanes = 1;
    bi->bmiHeader.biBitCount = static_cast<WORD>(bitCount_);
    bi->bmiHeader.biCompression = BI_RGB;
    if (bitCount_ == 8) {
        win32::Palette halftone(CreateHalftonePalette(nullptr));
        PALETTEENTRY entries[256] = {};
        const UINT n = halftone ? GetPaletteEntries(halftone.get(), 0, 256, entries) : 0;
        for (UINT i = 0; i < n; ++i) {
            bi->bmiColors[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
        }
        bi->bmiHeader.biClrUsed = n;
    }
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap_) {
        return false;
    }
    original_ = SelectObject(dc_.get(), bitmap_.get());
    return true;
}
