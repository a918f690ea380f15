// Owner of one zlib deflate stream (z_stream): initialised once, reset at key
// frames, ended when the owner goes. The stream runs across many calls, each
// ending with a sync flush, so that every piece of output stands on a byte
// boundary while the dictionary carries over.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace vfw::zmbv {

class DeflateStream {
  public:
    DeflateStream() = default;
    ~DeflateStream() { End(); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Allocates zlib's state for `level` (1..9, Z_DEFAULT_COMPRESSION). Ends a
    // stream already open first. False when zlib has no memory.
    [[nodiscard]] bool Init(int level);
    // Frees zlib's state; harmless when not open.
    void End();
    bool open() const { return open_; }

    // Starts a new zlib stream (header, empty dictionary) without allocating.
    [[nodiscard]] bool Reset();

    // Compresses `size` bytes of `in` into `out` (room for `capacity` bytes),
    // adding to *written. With `flush` the output ends on a sync point
    // (00 00 FF FF); without it zlib may hold data back for the next call.
    // False when zlib fails or the output does not fit: the stream is then
    // unusable until Reset.
    [[nodiscard]] bool Compress(const std::uint8_t* in, std::size_t size, bool flush,
                                std::uint8_t* out, std::size_t capacity, std::size_t* written);

  private:
    z_stream stream_{};
    bool open_ = false;
};

}  // namespace vfw::zmbv
