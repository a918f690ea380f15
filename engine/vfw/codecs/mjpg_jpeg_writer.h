// Baseline JPEG pictures of one size, coded by libjpeg-turbo straight into a
// caller's buffer: YCbCr 4:2:0, no restart markers, every picture complete
// with its quantisation and Huffman tables.
//
// Tables: one quantisation table for all three components whose steps grow
// gently with frequency (screen content keeps much of its energy in high
// frequencies), scaled by libjpeg's quality. Huffman tables fitted to the
// content: every kOptimiseEvery-th picture is coded twice by libjpeg to get
// optimal tables; the pictures in between reuse them, widened so that every
// symbol a baseline picture can contain has a code. That keeps most of the
// gain of optimised tables at little more than the cost of a single pass.
//
// Protocol:
//   Open(width, height, layout)            once; allocates everything
//   Start(quality, out, capacity)          per picture
//   WriteRows(rows, count) ...             rows top to bottom, height in all
//   Finish(&bytes)                         the picture is out[0, bytes)
//   Close()                                or the destructor
// libjpeg's errors come back as ICERR codes and never end the process; after
// a failed call the picture is abandoned and the next Start begins afresh.
// Pictures after the first allocate no memory (see JpegArena).
#pragma once

#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <vector>

#include <jpeglib.h>

#include "engine/vfw/codecs/mjpg_huffman.h"
#include "engine/vfw/codecs/mjpg_jpeg_arena.h"
#include "engine/vfw/ic.h"

namespace vfw {

class JpegWriter {
  public:
    // How the caller's rows hold their pixels.
    enum class Layout {
        kBgrx,  // 4 bytes a pixel: blue, green, red, unused
        kBgr,   // 3 bytes a pixel: blue, green, red
    };

    // Pictures from one set of optimal Huffman tables to the next.
    static constexpr int kOptimiseEvery = 16;

    JpegWriter() = default;
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;
    ~JpegWriter() { Close(); }

    // Largest picture of width x height this writer can produce (every
    // coefficient coded with the longest code, every byte stuffed).
    static std::uint64_t MaxPictureBytes(int width, int height);

    // Sets the writer up for pictures of width x height (1..65500) given as
    // rows of `layout`, and codes blank pictures (one optimised, one not)
    // into a scratch area so that libjpeg's working memory is in place. ICERR_OK, ICERR_BADFORMAT
    // for a size libjpeg cannot code, ICERR_MEMORY, ICERR_INTERNAL.
    [[nodiscard]] LRESULT Open(int width, int height, Layout layout);
    void Close();
    bool isOpen() const { return created_; }

    // Begins a picture at `quality` (libjpeg's 1..100, clamped) written to
    // out[0, capacity). The buffer belongs to the caller and must stay valid
    // until Finish. ICERR_OK, or ICERR_BADPARAM when not open or out is null.
    [[nodiscard]] LRESULT Start(int quality, std::uint8_t* out, std::size_t capacity);
    // Codes `count` rows (the next ones, top to bottom); the rows are read,
    // never written. ICERR_BADSIZE when the picture no longer fits the
    // buffer, ICERR_INTERNAL for other libjpeg errors.
    [[nodiscard]] LRESULT WriteRows(std::uint8_t* const* rows, int count);
    // Ends the picture; *bytes receives its size. Errors as WriteRows
    // (ICERR_INTERNAL also when fewer rows than the height were written).
    [[nodiscard]] LRESULT Finish(std::size_t* bytes);

    // Memory blocks libjpeg took from the system since Open.
    std::size_t systemAllocations() const { return arena_.systemAllocations(); }

  private:
    struct ErrorManager {
        jpeg_error_mgr pub;  // first: libjpeg hands back its address
        std::jmp_buf jump;
    };
    struct Destination {
        jpeg_destination_mgr pub;  // first, as above
        JpegWriter* writer;
    };

    static void OnError(j_common_ptr cinfo);
    static void OnMessage(j_common_ptr cinfo);
    static void OnInitDestination(j_compress_ptr cinfo);
    static boolean OnBufferFull(j_compress_ptr cinfo);
    static void OnTermDestination(j_compress_ptr cinfo);

    // Cleans up after libjpeg jumped back with an error; returns its code.
    LRESULT Failed();
    [[nodiscard]] LRESULT StartPicture();
    // Keeps the tables libjpeg just optimised, widened, for the next pictures.
    void LearnTables();
    void InstallTables();
    [[nodiscard]] LRESULT WarmUp(int width, int height, Layout layout);

    jpeg_compress_struct cinfo_{};
    ErrorManager error_{};
    Destination destination_{};
    JpegArena arena_;
    bool created_ = false;
    bool started_ = false;
    bool discard_ = false;   // output goes round the scratch area (warm-up)
    bool overflow_ = false;  // the caller's buffer was too small
    int quality_ = -1;       // quality of the current tables
    int wantedQuality_ = -1;
    std::size_t capacity_ = 0;
    bool optimising_ = false;  // the current picture gets optimal tables
    bool haveTables_ = false;  // tables_ hold learnt tables
    int picturesSinceOptimised_ = 0;
    HuffmanTable tables_[4];  // DC luma, DC chroma, AC luma, AC chroma
    std::array<std::uint8_t, 4096> scratch_{};
};

}  // namespace vfw
