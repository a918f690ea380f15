#include "tests/engine/vfw/codecs/mjpg_test_jpeg.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace kelvora::test {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

// Walks the marker segments up to the start of the scan.
void ReadMarkers(const std::uint8_t* d, size_t size, JpegFacts* facts) {
    size_t i = 2;
    while (i + 4 <= size && d[i] == 0xFF) {
        const int marker = d[i + 1];
        const size_t length = static_cast<size_t>(d[i + 2]) << 8 | d[i + 3];
        if (marker == 0xC0) {
            facts->baseline = true;
        } else if (marker == 0xC4) {
            ++facts->huffmanSegments;
        } else if (marker == 0xDB) {
            ++facts->quantSegments;
        } else if (marker == 0xDA) {
            break;
        }
        i += 2 + length;
    }
    facts->endsWithEoi = size >= 2 && d[size - 2] == 0xFF && d[size - 1] == 0xD9;
}

// Apart from ReadJpeg so that no C++ object lives across the setjmp.
bool Decode(const std::uint8_t* data, size_t size, jpeg_decompress_struct* cinfo,
            ErrorManager* error, JpegFacts* facts) {
    if (setjmp(error->jump) != 0) {
        facts->error = error->message;
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    facts->width = static_cast<int>(cinfo->image_width);
    facts->height = static_cast<int>(cinfo->image_height);
    facts->components = cinfo->num_components;
    for (int c = 0; c < cinfo->num_components && c < 3; ++c) {
        facts->hSampling[c] = cinfo->comp_info[c].h_samp_factor;
        facts->vSampling[c] = cinfo->comp_info[c].v_samp_factor;
    }
    cinfo->out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(cinfo);
    facts->bgrx.resize(static_cast<size_t>(facts->width) * facts->height * 4);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row =
            facts->bgrx.data() + static_cast<size_t>(cinfo->output_scanline) * facts->width * 4;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    facts->warnings = error->pub.num_warnings;
    return true;
}

}  // namespace

JpegFacts ReadJpeg(const std::uint8_t* data, size_t size) {
    JpegFacts facts;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) {
        facts.error = "no SOI marker";
        return facts;
    }
    ReadMarkers(data, size, &facts);
    jpeg_decompress_struct cinfo{};
    ErrorManager error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = OnError;
    error.pub.output_message = [](j_common_ptr) {};
    facts.ok = Decode(data, size, &cinfo, &error, &facts);
    jpeg_destroy_decompress(&cinfo);
    return facts;
}

}  // namespace kelvora::test
