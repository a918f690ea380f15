#include "tests/support/png_file.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace kelvora::test {

namespace {

// libpng reports errors by longjmp; nothing here lives across the jump but
// the arguments.
bool WriteRows(png_structp png, png_infop info, FILE* file, int width, int height,
               const std::uint8_t* rows, std::ptrdiff_t stride, png_byte* line) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = rows + stride * y;
        for (int x = 0; x < width; ++x) {
            line[x * 3 + 0] = src[x * 4 + 2];
            line[x * 3 + 1] = src[x * 4 + 1];
            line[x * 3 + 2] = src[x * 4 + 0];
        }
        png_write_row(png, line);
    }
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool SavePngBgrx(const std::string& path, int width, int height, const std::uint8_t* rows,
                 std::ptrdiff_t stride) {
    if (width <= 0 || height <= 0 || rows == nullptr) {
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> line(static_cast<size_t>(width) * 3);
    const bool ok = info != nullptr &&
                    WriteRows(png, info, file.get(), width, height, rows, stride, line.data());
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return ok && std::fflush(file.get()) == 0;
}

}  // namespace kelvora::test
