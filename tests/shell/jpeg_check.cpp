#include "tests/shell/jpeg_check.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace kelvora::test {

namespace {

struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Errors*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr) {}

// No object with a destructor lives in this frame (libjpeg may longjmp here).
bool Decode(jpeg_decompress_struct* cinfo, Errors* errors, std::FILE* file, DecodedJpeg* out) {
    if (setjmp(errors->jump) != 0) {
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    for (int i = 0; i < NUM_QUANT_TBLS && cinfo->quant_tbl_ptrs[i] != nullptr; ++i) {
        out->tables.emplace_back();
        for (int k = 0; k < 64; ++k) {
            out->tables.back()[k] = cinfo->quant_tbl_ptrs[i]->quantval[k];
        }
    }
    out->components = cinfo->num_components;
    out->progressive = cinfo->progressive_mode != 0;
    cinfo->out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(cinfo);
    out->width = static_cast<int>(cinfo->output_width);
    out->height = static_cast<int>(cinfo->output_height);
    out->bgrx.resize(static_cast<std::size_t>(out->width) * out->height * 4);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row =
            out->bgrx.data() + static_cast<std::size_t>(cinfo->output_scanline) * out->width * 4;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

DecodedJpeg DecodeJpegFile(const std::string& path) {
    DecodedJpeg out;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        return out;
    }
    jpeg_decompress_struct cinfo{};
    Errors errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.output_message = OnMessage;
    out.ok = Decode(&cinfo, &errors, file.get(), &out);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

std::vector<QuantTable> ExpectedQuantTables(int quality) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    std::vector<QuantTable> tables(2);
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < 64; ++k) {
            tables[i][k] = cinfo.quant_tbl_ptrs[i]->quantval[k];
        }
    }
    jpeg_destroy_compress(&cinfo);
    return tables;
}

double PsnrBgrx(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return 0;
    }
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) {
            continue;
        }
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
        ++n;
    }
    if (sum == 0) {
        return 99;
    }
    return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(n)));
}

}  // namespace kelvora::test
