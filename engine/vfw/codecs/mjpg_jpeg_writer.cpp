#include "engine/vfw/codecs/mjpg_jpeg_writer.h"

#include <algorithm>
#include <cstring>

#include <jerror.h>

// libjpeg reports errors through error_exit, which must not return: ours
// jumps back to the call that entered libjpeg. Only libjpeg's C frames and
// our callbacks lie between the setjmp and the longjmp, so no destructor is
// skipped.

namespace vfw {

namespace {

// Worst case of one 8x8 block with any baseline Huffman table (codes of at
// most 16 bits): every one of the 64 coefficients with a 16-bit code and 11
// magnitude bits, then the end-of-block code; every byte may need a stuffed
// zero after it.
constexpr std::uint64_t kMaxBlockBytes = 2 * ((64 * (16 + 11) + 16 + 7) / 8);
// A 4:2:0 MCU covers 16x16 pixels with four luma and two chroma blocks.
constexpr std::uint64_t kBlocksPerMcu = 6;
// Markers and tables (SOI, JFIF, DQT, SOF, DHT, SOS, EOI) take under 700
// bytes, plus the final partial byte.
constexpr std::uint64_t kHeaderBytes = 4096;

constexpr int kWarmUpRows = 16;

// Quantisation steps at libjpeg's quality 50, natural order: 16 for the DC
// term, rising by 2 per step of horizontal or vertical frequency to 44. The
// example tables of the JPEG standard, tuned to what the eye forgives in
// photographs, quantise the high frequencies of text and thin lines so
// coarsely that, for screen content, the same bytes buy about 1.4 dB less
// PSNR (measured on the benchmark clip at ffmpeg's default size).
constexpr std::array<unsigned int, 64> MakeQuantTable() {
    std::array<unsigned int, 64> t{};
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            t[v * 8 + u] = 16 + 2 * static_cast<unsigned int>(u + v);
        }
    }
    return t;
}
constexpr std::array<unsigned int, 64> kQuantTable = MakeQuantTable();

// Counts that rebuild a table close to one with these code lengths (a code
// of n bits stands for a probability of 2^-n), while every symbol a baseline
// picture may contain gets at least a count of one and so a code.
void WidenedCounts(const JHUFF_TBL& table, bool dc, std::uint32_t (&counts)[256]) {
    std::uint8_t lengths[256];
    HuffmanCodeLengths(table.bits, table.huffval, lengths);
    for (int s = 0; s < 256; ++s) {
        counts[s] = lengths[s] != 0 ? 1u << (17 - lengths[s]) : 0;
    }
    if (dc) {
        for (int size = 0; size <= 11; ++size) {  // DC difference categories
            counts[size] = std::max(counts[size], 1u);
        }
        return;
    }
    counts[0x00] = std::max(counts[0x00], 1u);  // end of block
    counts[0xF0] = std::max(counts[0xF0], 1u);  // run of 16 zeros
    for (int run = 0; run < 16; ++run) {
        for (int size = 1; size <= 10; ++size) {
            const int s = run << 4 | size;
            counts[s] = std::max(counts[s], 1u);
        }
    }
}

}  // namespace

std::uint64_t JpegWriter::MaxPictureBytes(int width, int height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::uint64_t mcus = (static_cast<std::uint64_t>(width) + 15) / 16 *
                               ((static_cast<std::uint64_t>(height) + 15) / 16);
    return mcus * kBlocksPerMcu * kMaxBlockBytes + kHeaderBytes;
}

void JpegWriter::OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings and traces would go to stderr; a recorder has no console.
void JpegWriter::OnMessage(j_common_ptr) {}

// The output pointers are set by Start before libjpeg calls this.
void JpegWriter::OnInitDestination(j_compress_ptr) {}

boolean JpegWriter::OnBufferFull(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<Destination*>(cinfo->dest);
    JpegWriter* writer = destination->writer;
    if (writer->discard_) {
        destination->pub.next_output_byte = writer->scratch_.data();
        destination->pub.free_in_buffer = writer->scratch_.size();
        return TRUE;
    }
    // libjpeg asks as soon as the last byte is taken, so a picture that would
    // fill the buffer exactly is refused too.
    writer->overflow_ = true;
    ERREXIT(cinfo, JERR_BUFFER_SIZE);
    return FALSE;
}

void JpegWriter::OnTermDestination(j_compress_ptr) {}

LRESULT JpegWriter::Failed() {
    const bool overflow = overflow_;
    const int code = error_.pub.msg_code;
    overflow_ = false;
    started_ = false;
    discard_ = false;
    if (cinfo_.mem != nullptr) {
        jpeg_abort_compress(&cinfo_);
    }
    if (overflow) {
        return ICERR_BADSIZE;
    }
    return code == JERR_OUT_OF_MEMORY ? ICERR_MEMORY : ICERR_INTERNAL;
}

LRESULT JpegWriter::Open(int width, int height, Layout layout) {
    Close();
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        return ICERR_BADFORMAT;
    }
    cinfo_.err = jpeg_std_error(&error_.pub);
    error_.pub.error_exit = OnError;
    error_.pub.output_message = OnMessage;
    destination_.pub.init_destination = OnInitDestination;
    destination_.pub.empty_output_buffer = OnBufferFull;
    destination_.pub.term_destination = OnTermDestination;
    destination_.writer = this;
    if (setjmp(error_.jump) != 0) {
        const LRESULT r = Failed();
        Close();
        return r;
    }
    jpeg_create_compress(&cinfo_);
    arena_.Install(reinterpret_cast<j_common_ptr>(&cinfo_));
    created_ = true;
    cinfo_.image_width = static_cast<JDIMENSION>(width);
    cinfo_.image_height = static_cast<JDIMENSION>(height);
    cinfo_.input_components = layout == Layout::kBgrx ? 4 : 3;
    cinfo_.in_color_space = layout == Layout::kBgrx ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo_);  // YCbCr 4:2:0, standard Huffman tables
    // One quantisation table for all components, set by the first Start.
    for (int c = 0; c < cinfo_.num_components; ++c) {
        cinfo_.comp_info[c].quant_tbl_no = 0;
    }
    cinfo_.dest = &destination_.pub;
    quality_ = -1;
    haveTables_ = false;
    picturesSinceOptimised_ = 0;

    const LRESULT r = WarmUp(width, height, layout);
    if (r != ICERR_OK) {
        Close();
    }
    return r;
}

LRESULT JpegWriter::WarmUp(int width, int height, Layout layout) {
    std::vector<std::uint8_t> blank(static_cast<std::size_t>(width) *
                                    (layout == Layout::kBgrx ? 4 : 3));
    std::array<std::uint8_t*, kWarmUpRows> rows;
    rows.fill(blank.data());
    discard_ = true;
    LRESULT r = ICERR_OK;
    // The first picture is optimised, the second reuses its tables: both
    // ways of working take their memory now.
    for (int picture = 0; r == ICERR_OK && picture < 2; ++picture) {
        r = Start(50, scratch_.data(), scratch_.size());
        for (int y = 0; r == ICERR_OK && y < height; y += kWarmUpRows) {
            r = WriteRows(rows.data(), std::min(kWarmUpRows, height - y));
        }
        std::size_t bytes = 0;
        if (r == ICERR_OK) {
            r = Finish(&bytes);
        }
    }
    discard_ = false;
    haveTables_ = false;  // the first real picture learns from real content
    picturesSinceOptimised_ = 0;
    return r;
}

void JpegWriter::Close() {
    if (cinfo_.err != nullptr) {
        jpeg_destroy_compress(&cinfo_);  // safe on a half-created object
    }
    cinfo_ = jpeg_compress_struct{};
    created_ = false;
    haveTables_ = false;
    picturesSinceOptimised_ = 0;
    started_ = false;
    discard_ = false;
    overflow_ = false;
    quality_ = -1;
}

LRESULT JpegWriter::Start(int quality, std::uint8_t* out, std::size_t capacity) {
    if (!created_ || out == nullptr || capacity == 0) {
        return ICERR_BADPARAM;
    }
    if (started_) {
        jpeg_abort_compress(&cinfo_);  // a picture left unfinished
        started_ = false;
    }
    wantedQuality_ = std::clamp(quality, 1, 100);
    overflow_ = false;
    destination_.pub.next_output_byte = out;
    destination_.pub.free_in_buffer = capacity;
    capacity_ = capacity;
    return StartPicture();
}

// Apart from Start so that nothing but members lives across the setjmp.
LRESULT JpegWriter::StartPicture() {
    if (setjmp(error_.jump) != 0) {
        return Failed();
    }
    if (wantedQuality_ != quality_) {
        quality_ = -1;
        // TRUE: steps limited to 255, as baseline pictures need.
        jpeg_add_quant_table(&cinfo_, 0, kQuantTable.data(), jpeg_quality_scaling(wantedQuality_),
                             TRUE);
        quality_ = wantedQuality_;
    }
    optimising_ = !haveTables_ || picturesSinceOptimised_ + 1 >= kOptimiseEvery;
    cinfo_.optimize_coding = optimising_ ? TRUE : FALSE;
    if (!optimising_) {
        InstallTables();
    }
    jpeg_start_compress(&cinfo_, TRUE);  // TRUE: all tables into this picture
    started_ = true;
    return ICERR_OK;
}

LRESULT JpegWriter::WriteRows(std::uint8_t* const* rows, int count) {
    if (!started_ || rows == nullptr || count < 0) {
        return ICERR_BADPARAM;
    }
    if (setjmp(error_.jump) != 0) {
        return Failed();
    }
    const JDIMENSION done =
        jpeg_write_scanlines(&cinfo_, const_cast<JSAMPARRAY>(rows), static_cast<JDIMENSION>(count));
    if (done != static_cast<JDIMENSION>(count)) {  // more rows than the height
        jpeg_abort_compress(&cinfo_);
        started_ = false;
        return ICERR_INTERNAL;
    }
    return ICERR_OK;
}

LRESULT JpegWriter::Finish(std::size_t* bytes) {
    if (!started_ || bytes == nullptr) {
        return ICERR_BADPARAM;
    }
    if (setjmp(error_.jump) != 0) {
        return Failed();
    }
    jpeg_finish_compress(&cinfo_);
    started_ = false;
    *bytes = capacity_ - destination_.pub.free_in_buffer;
    if (optimising_) {
        LearnTables();
        picturesSinceOptimised_ = 0;
    } else {
        ++picturesSinceOptimised_;
    }
    return ICERR_OK;
}

void JpegWriter::LearnTables() {
    JHUFF_TBL* const sources[4] = {cinfo_.dc_huff_tbl_ptrs[0], cinfo_.dc_huff_tbl_ptrs[1],
                                   cinfo_.ac_huff_tbl_ptrs[0], cinfo_.ac_huff_tbl_ptrs[1]};
    haveTables_ = true;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t counts[256];
        if (sources[i] == nullptr) {
            haveTables_ = false;
            return;
        }
        WidenedCounts(*sources[i], i < 2, counts);
        haveTables_ = haveTables_ && BuildHuffmanTable(counts, &tables_[i]);
    }
}

void JpegWriter::InstallTables() {
    JHUFF_TBL* const targets[4] = {cinfo_.dc_huff_tbl_ptrs[0], cinfo_.dc_huff_tbl_ptrs[1],
                                   cinfo_.ac_huff_tbl_ptrs[0], cinfo_.ac_huff_tbl_ptrs[1]};
    for (int i = 0; i < 4; ++i) {
        std::memcpy(targets[i]->bits, tables_[i].bits, sizeof(tables_[i].bits));
        std::memcpy(targets[i]->huffval, tables_[i].values,
                    static_cast<std::size_t>(tables_[i].valueCount));
        targets[i]->sent_table = FALSE;
    }
}

}  // namespace vfw
