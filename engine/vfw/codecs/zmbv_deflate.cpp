#include "engine/vfw/codecs/zmbv_deflate.h"

#include <limits>

namespace vfw::zmbv {

bool DeflateStream::Init(int level) {
    End();
    stream_ = z_stream{};
    // The zlib wrapper (window bits 15), as the format's decoders expect.
    if (deflateInit2(&stream_, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    open_ = true;
    return true;
}

void DeflateStream::End() {
    if (open_) {
        deflateEnd(&stream_);
        open_ = false;
    }
}

bool DeflateStream::Reset() {
    return open_ && deflateReset(&stream_) == Z_OK;
}

bool DeflateStream::Compress(const std::uint8_t* in, std::size_t size, bool flush,
                             std::uint8_t* out, std::size_t capacity, std::size_t* written) {
    if (!open_ || *written > capacity) {
        return false;
    }
    // zlib counts in uInt; feed and drain in pieces it can hold.
    constexpr std::size_t kPiece = std::numeric_limits<uInt>::max() / 2;
    stream_.next_in = const_cast<Bytef*>(in);
    std::size_t inLeft = size;
    for (;;) {
        const std::size_t feed = inLeft < kPiece ? inLeft : kPiece;
        const std::size_t room = capacity - *written;
        const std::size_t give = room < kPiece ? room : kPiece;
        stream_.avail_in = static_cast<uInt>(feed);
        stream_.next_out = out + *written;
        stream_.avail_out = static_cast<uInt>(give);
        const bool last = feed == inLeft;
        const int r = deflate(&stream_, last && flush ? Z_SYNC_FLUSH : Z_NO_FLUSH);
        const std::size_t used = feed - stream_.avail_in;
        const std::size_t made = give - stream_.avail_out;
        inLeft -= used;
        *written += made;
        if (r != Z_OK && r != Z_BUF_ERROR) {
            return false;
        }
        if (inLeft == 0 && stream_.avail_out != 0) {
            // All input taken; with a flush, room left over means the flush
            // is complete.
            return true;
        }
        if (made == 0 && used == 0) {
            return false;  // no room left for the output
        }
    }
}

}  // namespace vfw::zmbv
