#include "shell/menu_images.h"

#include <cstring>

namespace kelvora {

void PremultiplyAlpha(std::uint8_t* bgra, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, bgra += 4) {
        const unsigned a = bgra[3];
        for (int c = 0; c < 3; ++c) {
            bgra[c] = static_cast<std::uint8_t>((bgra[c] * a + 127) / 255);
        }
    }
}

bool TMenuImages::LoadStrip(HINSTANCE module, int id, int size) {
    images_.clear();
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL data = res != nullptr ? LoadResource(module, res) : nullptr;
    const auto* bytes =
        data != nullptr ? static_cast<const std::uint8_t*>(LockResource(data)) : nullptr;
    const DWORD total = res != nullptr ? SizeofResource(module, res) : 0;
    if (bytes == nullptr || total < sizeof(BITMAPINFOHEADER) || size <= 0) {
        return false;
    }
    BITMAPINFOHEADER h{};
    std::memcpy(&h, bytes, sizeof(h));
    const long width = h.biWidth;
    if (h.biSize < sizeof(h) || h.biBitCount != 32 || h.biCompression != BI_RGB ||
        h.biHeight != size || width <= 0 || width % size != 0 ||
        total < h.biSize + static_cast<DWORD>(width) * size * 4) {
        return false;
    }
    const std::uint8_t* pixels = bytes + h.biSize;
    const int count = static_cast<int>(width / size);
    std::vector<win32::Bitmap> images;
    for (int i = 0; i < count; ++i) {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), size, size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        win32::Bitmap bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bmp || bits == nullptr) {
            return false;
        }
        // Both bottom-up: row r of the picture is row r of the strip.
        auto* out = static_cast<std::uint8_t*>(bits);
        for (int row = 0; row < size; ++row) {
            std::memcpy(out + static_cast<std::size_t>(row) * size * 4,
                        pixels + (static_cast<std::size_t>(row) * width + i * size) * 4,
                        static_cast<std::size_t>(size) * 4);
        }
        PremultiplyAlpha(out, static_cast<std::size_t>(size) * size);
        images.push_back(std::move(bmp));
    }
    images_ = std::move(images);
    size_ = size;
    return true;
}

HBITMAP TMenuImages::Get(int index) const {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return images_[static_cast<std::size_t>(index)].get();
}

}  // namespace kelvora
