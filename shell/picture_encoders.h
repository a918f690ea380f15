// Encoders of still pictures into a byte sink: Windows bitmap files (BMP),
// baseline colour JPEG (libjpeg-turbo) and PNG (libpng). Portable: the
// screenshot command feeds them pixels read from GDI and a file as the sink.
//
// Every encoder writes its output in order through ByteSink::Write and stops
// at the first refused write. libjpeg and libpng report errors by longjmp;
// their state is owned here and released on every path, so a failed encode
// leaks nothing and the caller only has to discard what the sink received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvora {

// Where an encoder's bytes go.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Appends `size` bytes; false when they cannot be stored (the encoder stops).
    [[nodiscard]] virtual bool Write(const void* data, std::size_t size) = 0;
};

enum class EncodeStatus {
    Ok,
    SinkFailed,     // the sink refused a write
    EncoderFailed,  // the picture cannot be encoded (size, memory, library error)
};

// A picture of 32-bit pixels (blue, green, red, unused), top row first.
struct BgrxPicture {
    int width = 0;
    int height = 0;
    const std::uint8_t* top = nullptr;  // the first (top) row
    std::ptrdiff_t stride = 0;          // bytes from one row to the next
};

// A device-independent bitmap as a BMP file holds it.
struct DibPicture {
    int width = 0;
    int height = 0;    // rows, stored bottom-up
    int bitCount = 0;  // 1, 4, 8, 16, 24 or 32
    // bitCount <= 8: the palette, 0x00RRGGBB per entry (at most 2^bitCount).
    // Three entries with `bitFields`: the red, green and blue masks.
    std::vector<std::uint32_t> table;
    bool bitFields = false;              // 16 or 32 bits with masks (BI_BITFIELDS)
    const std::uint8_t* bits = nullptr;  // bottom row first, rows of DibStride bytes
};

// Bytes of one row of a DIB: whole 32-bit units.
std::size_t DibStride(int width, int bitCount);

// A BMP file: file header, 40-byte info header, masks or palette, the rows.
[[nodiscard]] EncodeStatus EncodeBmp(const DibPicture& picture, ByteSink& sink);
// A baseline colour JPEG (YCbCr 4:2:0) with libjpeg's standard tables scaled
// to `quality` (1..100).
[[nodiscard]] EncodeStatus EncodeJpeg(const BgrxPicture& picture, int quality, ByteSink& sink);
// A PNG of 8-bit RGB, not interlaced.
[[nodiscard]] EncodeStatus EncodePng(const BgrxPicture& picture, ByteSink& sink);

}  // namespace kelvora
