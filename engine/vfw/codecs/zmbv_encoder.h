// Encoder of ZMBV frames (zlib motion blocks, lossless), independent of the
// compressor-manager messages.
//
// Protocol: Begin(format) once per session, then Encode for each frame, then
// End (or destruction). Begin allocates every buffer and the zlib stream;
// Encode allocates nothing. The first frame, every frame asked for, and the
// frame after any failure are key frames: a delta frame is only ever made on
// top of the frame encoded just before it, which the caller must write.
//
// Frame layout: a flags byte (bit 0 key frame); a key frame adds version 0.1,
// compression 1 (zlib), the pixel format and the block size 16 x 16. Then
// the frame's part of one zlib stream that runs across frames, reset at key
// frames and ended by a sync flush in every frame. Key frames carry the
// palette (8 bits) and all pixels top row first; delta frames carry two bytes
// per block (displacement and an XOR flag) and, for flagged blocks, their
// pixels XORed with the displaced block of the previous frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/vfw/codecs/zmbv_deflate.h"
#include "engine/vfw/codecs/zmbv_motion.h"
#include "engine/vfw/vfw.h"

namespace vfw::zmbv {

enum class Status {
    kOk,
    kBadFormat,       // the input format is not one the encoder takes
    kNoMemory,        // buffers or the zlib stream could not be allocated
    kNotStarted,      // Encode without a successful Begin
    kOutputTooSmall,  // the frame did not fit into the caller's buffer
    kZlibError,
};

struct Settings {
    int level = 1;             // zlib level 1 (fastest) .. 9 (smallest)
    bool motionSearch = true;  // false: every block is compared in place only
};

// What the last frame was made of, for tests and tuning.
struct FrameStats {
    bool key = false;
    int blocks = 0;           // blocks per frame
    int unchanged = 0;        // delta: copied in place
    int moved = 0;            // delta: taken from a displaced block (with or without XOR)
    int xored = 0;            // delta: carrying XOR data
    std::size_t payload = 0;  // bytes fed to zlib
};

class Encoder {
  public:
    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Depth of the frames written for input of `inputBits` (8, 16, 24, 32):
    // 8, 16 (RGB555) or 32; 24-bit input is widened to 32.
    static int OutputBitCount(int inputBits);
    // Largest encoded frame for `in` (a supported input format), in bytes.
    static std::uint64_t MaxFrameBytes(const BITMAPINFOHEADER& in);

    // Starts a session for frames of format `in` (header followed by its
    // colour table for 8 bits; the table is copied). Allocates all buffers.
    [[nodiscard]] Status Begin(const BITMAPINFOHEADER& in, const Settings& settings);
    // Encodes one frame: `bits` holds the DIB's pixels (bottom-up rows padded
    // to 4 bytes, as the format given to Begin). Writes at most `capacity`
    // bytes to `out`; *size receives the frame's length and *key whether it
    // is a key frame. `wantKey` asks for a key frame.
    [[nodiscard]] Status Encode(const std::uint8_t* bits, bool wantKey, std::uint8_t* out,
                                std::size_t capacity, std::size_t* size, bool* key);
    // Frees the session's buffers.
    void End();

    const FrameStats& stats() const { return stats_; }

  private:
    // Converts the DIB into cur_ and, for a delta frame, flags the blocks
    // that differ in place.
    template <typename T, typename From>
    void Load(const std::uint8_t* bits, bool compare);
    template <typename T>
    std::size_t BuildDelta();
    template <typename T>
    Vector ChooseVector(const T* cur, const T* prev, int bx, int by, int* cost) const;

    int width_ = 0;
    int height_ = 0;
    int inBits_ = 0;
    int bpp_ = 0;  // output bytes per pixel
    std::uint8_t format_ = 0;
    std::size_t rowBytes_ = 0;  // input DIB row
    int blocksX_ = 0;
    int blocksY_ = 0;
    std::size_t frameBytes_ = 0;
    std::size_t tableBytes_ = 0;
    Settings settings_;
    bool started_ = false;
    bool needKey_ = true;

    std::unique_ptr<std::uint8_t[]> palette_;  // 768 bytes R, G, B for 8 bits
    std::unique_ptr<unsigned char[]> cur_;     // this frame, top-down, no padding
    std::unique_ptr<unsigned char[]> prev_;    // what the decoder shows now
    std::unique_ptr<std::uint8_t[]> work_;     // delta payload
    std::unique_ptr<std::uint8_t[]> changed_;  // per block: differs in place
    std::unique_ptr<Vector[]> vectors_;        // per block: chosen this frame
    std::unique_ptr<Vector[]> lastVectors_;    // per block: chosen last frame
    MotionSearch motion_;
    DeflateStream deflate_;
    FrameStats stats_;
};

}  // namespace vfw::zmbv
