#include "shell/picture_encoders.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <limits>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

// libjpeg and libpng report errors by longjmp back to the function that
// called setjmp. Those functions (WriteJpeg, WritePng) keep no object with a
// destructor in their own frames, and the callbacks that may raise an error
// (the sink's writes) hold none either when they do, so the jump skips no
// destructor. The libraries' state is owned by the callers of those functions.

namespace kelvora {

namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool ValidPicture(const BgrxPicture& p) {
    return p.width > 0 && p.height > 0 && p.top != nullptr;
}

// ---- JPEG

struct JpegErrors {
    jpeg_error_mgr pub;  // first: libjpeg hands back its address
    std::jmp_buf jump;
};

struct JpegDestination {
    jpeg_destination_mgr pub;  // first, as above
    ByteSink* sink;
    JOCTET* buffer;
    bool sinkFailed;
};

void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Warnings and traces would go to stderr; the program has no console.
void OnJpegMessage(j_common_ptr) {}

void OnJpegInit(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kOutputChunk;
}

boolean OnJpegBufferFull(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    if (!d->sink->Write(d->buffer, kOutputChunk)) {
        d->sinkFailed = true;
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    OnJpegInit(cinfo);
    return TRUE;
}

void OnJpegTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<JpegDestination*>(cinfo->dest);
    const std::size_t used = kOutputChunk - d->pub.free_in_buffer;
    if (used > 0 && !d->sink->Write(d->buffer, used)) {
        d->sinkFailed = true;
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

// Owns a compression object from creation to destruction.
struct JpegCompressor {
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    JpegCompressor() {
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = OnJpegError;
        errors.pub.output_message = OnJpegMessage;
    }
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;
    // Safe on an object that was never created or was left half-created.
    ~JpegCompressor() { jpeg_destroy_compress(&cinfo); }
};

bool WriteJpeg(JpegCompressor& c, JpegDestination& destination, const BgrxPicture& p, int quality) {
    if (setjmp(c.errors.jump) != 0) {
        return false;
    }
    jpeg_create_compress(&c.cinfo);
    c.cinfo.dest = &destination.pub;
    c.cinfo.image_width = static_cast<JDIMENSION>(p.width);
    c.cinfo.image_height = static_cast<JDIMENSION>(p.height);
    c.cinfo.input_components = 4;
    c.cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_quality(&c.cinfo, quality, TRUE);  // TRUE: steps of at most 255 (baseline)
    jpeg_start_compress(&c.cinfo, TRUE);
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            p.top + p.stride * static_cast<std::ptrdiff_t>(c.cinfo.next_scanline));
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    return true;
}

// ---- PNG

void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

struct PngOutput {
    ByteSink* sink;
    bool sinkFailed;
};

void OnPngWrite(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<PngOutput*>(png_get_io_ptr(png));
    if (!out->sink->Write(data, size)) {
        out->sinkFailed = true;
        png_error(png, "write failed");
    }
}

void OnPngFlush(png_structp) {}

// Owns a write structure and its info structure.
struct PngCompressor {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngCompressor() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
        if (png != nullptr) {
            info = png_create_info_struct(png);
        }
    }
    PngCompressor(const PngCompressor&) = delete;
    PngCompressor& operator=(const PngCompressor&) = delete;
    ~PngCompressor() {
        if (png != nullptr) {
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        }
    }
};

bool WritePng(PngCompressor& c, PngOutput& output, const BgrxPicture& p) {
    if (setjmp(png_jmpbuf(c.png)) != 0) {
        return false;
    }
    png_set_write_fn(c.png, &output, OnPngWrite, OnPngFlush);
    png_set_IHDR(c.png, c.info, static_cast<png_uint_32>(p.width),
                 static_cast<png_uint_32>(p.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(c.png, c.info);
    // Rows arrive as B, G, R, unused: swap to R, G, B and drop the fourth byte.
    png_set_bgr(c.png);
    png_set_filler(c.png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < p.height; ++y) {
        png_write_row(c.png, const_cast<png_bytep>(p.top + p.stride * y));
    }
    png_write_end(c.png, nullptr);
    return true;
}

}  // namespace

std::size_t DibStride(int width, int bitCount) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32 * 4;
}

EncodeStatus EncodeBmp(const DibPicture& p, ByteSink& sink) {
    const bool palette = p.bitCount == 1 || p.bitCount == 4 || p.bitCount == 8;
    const bool known = palette || p.bitCount == 16 || p.bitCount == 24 || p.bitCount == 32;
    if (p.width <= 0 || p.height <= 0 || p.bits == nullptr || !known ||
        (palette && (p.bitFields || p.table.size() > (1u << p.bitCount))) ||
        (p.bitFields && (p.bitCount == 24 || p.table.size() != 3))) {
        return EncodeStatus::EncoderFailed;
    }
    const std::uint64_t imageBytes =
        static_cast<std::uint64_t>(DibStride(p.width, p.bitCount)) * p.height;
    const std::uint32_t tableBytes =
        palette || p.bitFields ? static_cast<std::uint32_t>(p.table.size()) * 4 : 0;
    const std::uint32_t offBits = 14 + 40 + tableBytes;
    if (imageBytes + offBits > std::numeric_limits<std::uint32_t>::max()) {
        return EncodeStatus::EncoderFailed;
    }
    std::vector<std::uint8_t> head;
    head.reserve(offBits);
    // BITMAPFILEHEADER
    Put16(head, 0x4D42);                                            // bfType "BM"
    Put32(head, offBits + static_cast<std::uint32_t>(imageBytes));  // bfSize
    Put32(head, 0);                                                 // bfReserved1, 2
    Put32(head, offBits);                                           // bfOffBits
    // BITMAPINFOHEADER
    Put32(head, 40);                                      // biSize
    Put32(head, static_cast<std::uint32_t>(p.width));     // biWidth
    Put32(head, static_cast<std::uint32_t>(p.height));    // biHeight: bottom-up
    Put16(head, 1);                                       // biPlanes
    Put16(head, static_cast<std::uint32_t>(p.bitCount));  // biBitCount
    Put32(head, p.bitFields ? 3 : 0);                     // biCompression: BI_BITFIELDS, BI_RGB
    Put32(head, static_cast<std::uint32_t>(imageBytes));  // biSizeImage
    Put32(head, 0);                                       // biXPelsPerMeter
    Put32(head, 0);                                       // biYPelsPerMeter
    Put32(head, palette ? static_cast<std::uint32_t>(p.table.size()) : 0);  // biClrUsed
    Put32(head, 0);                                                         // biClrImportant
    // Masks, or the palette as RGBQUADs (blue, green, red, 0): both are the
    // little-endian 32-bit values.
    if (palette || p.bitFields) {
        for (std::uint32_t v : p.table) {
            Put32(head, palette ? v & 0xFFFFFF : v);
        }
    }
    if (!sink.Write(head.data(), head.size()) ||
        !sink.Write(p.bits, static_cast<std::size_t>(imageBytes))) {
        return EncodeStatus::SinkFailed;
    }
    return EncodeStatus::Ok;
}

EncodeStatus EncodeJpeg(const BgrxPicture& p, int quality, ByteSink& sink) {
    if (!ValidPicture(p) || p.width > JPEG_MAX_DIMENSION || p.height > JPEG_MAX_DIMENSION ||
        quality < 1 || quality > 100) {
        return EncodeStatus::EncoderFailed;
    }
    std::vector<JOCTET> buffer(kOutputChunk);
    JpegDestination destination{};
    destination.pub.init_destination = OnJpegInit;
    destination.pub.empty_output_buffer = OnJpegBufferFull;
    destination.pub.term_destination = OnJpegTerm;
    destination.sink = &sink;
    destination.buffer = buffer.data();
    JpegCompressor compressor;
    if (WriteJpeg(compressor, destination, p, quality)) {
        return EncodeStatus::Ok;
    }
    return destination.sinkFailed ? EncodeStatus::SinkFailed : EncodeStatus::EncoderFailed;
}

EncodeStatus EncodePng(const BgrxPicture& p, ByteSink& sink) {
    if (!ValidPicture(p)) {
        return EncodeStatus::EncoderFailed;
    }
    PngCompressor compressor;
    if (compressor.info == nullptr) {
        return EncodeStatus::EncoderFailed;
    }
    PngOutput output{&sink, false};
    if (WritePng(compressor, output, p)) {
        return EncodeStatus::Ok;
    }
    return output.sinkFailed ? EncodeStatus::SinkFailed : EncodeStatus::EncoderFailed;
}

}  // namespace kelvora
