// Facts about packed device-independent bitmaps shared by the AVI library,
// the compressors and the grabber.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vfw/vfw.h"

namespace vfw {

// Bytes per row: rows are padded to 4 bytes. Computed in 64 bits so that no
// width overflows.
constexpr std::uint64_t DibRowBytes(std::int64_t width, unsigned bitCount) {
    return ((static_cast<std::uint64_t>(width) * bitCount + 31) / 32) * 4;
}

// Colour-table entries a BI_RGB bitmap of this depth carries.
constexpr DWORD DibColorCount(const BITMAPINFOHEADER& bi) {
    if (bi.biBitCount > 8) {
        return bi.biClrUsed;
    }
    return bi.biClrUsed != 0 ? bi.biClrUsed : (1u << bi.biBitCount);
}

// Largest picture the compressors and the writer accept: a chunk must stay
// far below 2 GiB and 32-bit size fields.
inline constexpr LONG kMaxDibDimension = 16384;

// True for the frames the built-in compressors take: BI_RGB, bottom-up,
// 8 (with a colour table), 16 (5-5-5), 24 or 32 bits, planes 1, and a
// non-empty size within kMaxDibDimension. Everything else is refused with
// ICERR_BADFORMAT.
constexpr bool IsSupportedInput(const BITMAPINFOHEADER* bi) {
    if (bi == nullptr || bi->biSize < sizeof(BITMAPINFOHEADER) || bi->biPlanes != 1 ||
        bi->biCompression != BI_RGB) {
        return false;
    }
    if (bi->biWidth <= 0 || bi->biHeight <= 0 || bi->biWidth > kMaxDibDimension ||
        bi->biHeight > kMaxDibDimension) {
        return false;
    }
    switch (bi->biBitCount) {
        case 8:
            return bi->biClrUsed <= 256;
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

// The colour table that follows a header (biSize bytes after its start).
inline const RGBQUAD* DibColors(const BITMAPINFOHEADER* bi) {
    return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(bi) +
                                            bi->biSize);
}

}  // namespace vfw
