// Cheap motion hints for the ZMBV encoder: which displacements explain the
// blocks that changed since the previous frame (scrolled text, a dragged
// window), found without a full search.
//
// Row pieces of 16 pixels of the previous frame are hashed into a table
// (every kRowStep-th row, only near changed blocks, never flat pieces). For
// each changed block, rolling hashes of its rows at every pixel offset are
// looked up; every hit is a vote for the displacement that carries that piece
// from the previous frame into the block. The displacements with most votes
// over the frame, and each block's own best, are the candidates the encoder
// then checks pixel by pixel.
//
// All memory is allocated in Begin; Analyse allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vfw::zmbv {

// A block displacement in pixels: the block at (x, y) of the new frame is
// compared with the previous frame's pixels at (x + dx, y + dy).
struct Vector {
    std::int8_t dx = 0;
    std::int8_t dy = 0;

    friend bool operator==(Vector a, Vector b) { return a.dx == b.dx && a.dy == b.dy; }
};

// Largest displacement the format carries in each direction (7-bit signed,
// kept symmetric).
inline constexpr int kMaxShift = 63;
inline constexpr int kBlockSize = 16;

class MotionSearch {
  public:
    static constexpr int kMaxGlobal = 8;  // frame-wide candidates kept

    // Prepares for frames of width x height pixels of `bytesPerPixel` (1, 2
    // or 4). False when memory is short.
    [[nodiscard]] bool Begin(int width, int height, int bytesPerPixel);

    // Compares `cur` with `prev` (top-down pixel arrays, no row padding) for
    // the blocks whose `changed` flag is set (one per block, raster order).
    // Afterwards global() lists the frame's candidates, most votes first, and
    // local(block) each changed block's own best hint (or none).
    void Analyse(const void* prev, const void* cur, const std::uint8_t* changed);

    const Vector* global() const { return global_; }
    int globalCount() const { return globalCount_; }
    // The hint for `block`, valid after Analyse for a changed block.
    bool local(int block, Vector* v) const;

  private:
    struct Slot {
        std::uint32_t tag;  // 0 = empty
        std::uint32_t pos;  // y << 16 | x / kBlockSize
    };

    template <typename T>
    void AnalyseTyped(const T* prev, const T* cur, const std::uint8_t* changed);
    template <typename T>
    void FillTable(const T* prev);
    template <typename T>
    void VoteBlock(const T* cur, int bx, int by);
    void Vote(int dx, int dy);
    void PickGlobal();
    void MarkNearChanged(const std::uint8_t* changed);

    int width_ = 0;
    int height_ = 0;
    int bpp_ = 0;
    int blocksX_ = 0;
    int blocksY_ = 0;
    unsigned tableBits_ = 0;
    std::size_t tableLimit_ = 0;  // entries before the table counts as full
    std::size_t tableUsed_ = 0;
    std::unique_ptr<Slot[]> table_;
    std::unique_ptr<std::uint8_t[]> near_;    // per block: a changed block within reach
    std::unique_ptr<std::uint16_t[]> votes_;  // (2 kMaxShift + 1)^2 counters
    std::vector<std::uint16_t> touched_;      // vote cells in use (reserved in Begin)
    std::unique_ptr<Vector[]> local_;         // per block
    std::unique_ptr<std::uint8_t[]> hasLocal_;
    std::vector<Vector> hits_;  // one block's hits (reserved in Begin)
    Vector global_[kMaxGlobal];
    int globalCount_ = 0;
};

}  // namespace vfw::zmbv
