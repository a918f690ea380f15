// RIFF and AVI layout facts shared by the writer and the reader: chunk ids,
// header sizes and flags, little-endian field access, and a builder for
// chunks assembled in memory (headers and index headers).
//
// All targets are little-endian; index entries are kept in memory in their
// on-disk layout and written as they are.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/vfw/vfw.h"

namespace vfw::riff {

static_assert(std::endian::native == std::endian::little,
              "index entries are written in memory order");

inline constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
inline constexpr FOURCC kJunk = mmioFOURCC('J', 'U', 'N', 'K');
inline constexpr FOURCC kAvi = mmioFOURCC('A', 'V', 'I', ' ');
inline constexpr FOURCC kAvix = mmioFOURCC('A', 'V', 'I', 'X');
inline constexpr FOURCC kHdrl = mmioFOURCC('h', 'd', 'r', 'l');
inline constexpr FOURCC kAvih = mmioFOURCC('a', 'v', 'i', 'h');
inline constexpr FOURCC kStrl = mmioFOURCC('s', 't', 'r', 'l');
inline constexpr FOURCC kStrh = mmioFOURCC('s', 't', 'r', 'h');
inline constexpr FOURCC kStrf = mmioFOURCC('s', 't', 'r', 'f');
inline constexpr FOURCC kStrn = mmioFOURCC('s', 't', 'r', 'n');
inline constexpr FOURCC kIndx = mmioFOURCC('i', 'n', 'd', 'x');
inline constexpr FOURCC kOdml = mmioFOURCC('o', 'd', 'm', 'l');
inline constexpr FOURCC kDmlh = mmioFOURCC('d', 'm', 'l', 'h');
inline constexpr FOURCC kMovi = mmioFOURCC('m', 'o', 'v', 'i');
inline constexpr FOURCC kRec = mmioFOURCC('r', 'e', 'c', ' ');
inline constexpr FOURCC kIdx1 = mmioFOURCC('i', 'd', 'x', '1');
inline constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
inline constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
inline constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// Data chunk id of stream `stream` (0..99): '00dc' for a video frame, '01wb'
// for sound; its standard index is 'ix00', 'ix01', ...
constexpr FOURCC StreamChunkId(int stream, bool sound) {
    return mmioFOURCC(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10),
                      sound ? 'w' : 'd', sound ? 'b' : 'c');
}
constexpr FOURCC StreamIndexId(int stream) {
    return mmioFOURCC('i', 'x', static_cast<char>('0' + stream / 10),
                      static_cast<char>('0' + stream % 10));
}
static_assert(StreamChunkId(1, true) == mmioFOURCC('0', '1', 'w', 'b'));

inline constexpr DWORD AVIF_HASINDEX = 0x10;
inline constexpr DWORD AVIF_ISINTERLEAVED = 0x100;

inline constexpr std::uint32_t kAvihSize = 56;
inline constexpr std::uint32_t kStrhSize = 56;
inline constexpr std::uint32_t kDmlhSize = 248;
// Header of 'indx' and 'ix##' chunks, after the chunk header.
inline constexpr std::uint32_t kIndexHeaderSize = 24;
inline constexpr std::uint8_t AVI_INDEX_OF_INDEXES = 0;
inline constexpr std::uint8_t AVI_INDEX_OF_CHUNKS = 1;
// dwSize bit of a standard index entry that marks a frame that is no key frame.
inline constexpr std::uint32_t kNonKeyBit = 0x80000000u;

// What a file may ask of a reader or a copy. A larger chunk or index is
// damage, not a recording: a 32-bit process could not even hold it, and
// std::vector answers such a size with std::length_error rather than
// std::bad_alloc.
// The largest frame: a 16384 x 16384 picture of 32 bits.
inline constexpr std::uint32_t kMaxSampleBytes = 1u << 30;
// Entries one stream's index may declare: more than nine days at 40 frames
// per second (a longer recording is still read, by scanning its chunks).
inline constexpr std::uint64_t kMaxIndexEntries = 1u << 25;

// One entry of 'idx1' (16 bytes).
struct OldIndexEntry {
    std::uint32_t chunkId;
    std::uint32_t flags;
    std::uint32_t offset;  // of the chunk header, from the 'movi' FOURCC
    std::uint32_t size;
};
static_assert(sizeof(OldIndexEntry) == 16);

// One entry of a standard index 'ix##' (8 bytes).
struct StdIndexEntry {
    std::uint32_t offset;  // of the chunk data, from qwBaseOffset
    std::uint32_t size;    // kNonKeyBit set for a frame that is no key frame
};
static_assert(sizeof(StdIndexEntry) == 8);

// One entry of a super index 'indx' (16 bytes).
struct SuperIndexEntry {
    std::uint64_t offset;    // of the 'ix##' chunk header, from the file start
    std::uint32_t size;      // of that chunk, header included
    std::uint32_t duration;  // entries it covers
};
static_assert(sizeof(SuperIndexEntry) == 16);

inline std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Get64(const std::uint8_t* p) {
    return Get32(p) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
}

// Stream number of a data chunk id such as '01wb', or -1.
inline int StreamOfChunk(FOURCC id) {
    const int a = static_cast<int>(id & 0xFF) - '0';
    const int b = static_cast<int>(id >> 8 & 0xFF) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9) {
        return -1;
    }
    return a * 10 + b;
}

// The two letters after the stream number, e.g. 'dc' of '00dc'.
inline std::uint16_t ChunkKind(FOURCC id) {
    return static_cast<std::uint16_t>(id >> 16);
}
inline constexpr std::uint16_t kPaletteChange = 'p' | 'c' << 8;

// Chunk payloads put together in memory: Begin/End write the id and patch
// the size, with the pad byte of odd sizes.
class ChunkBuilder {
  public:
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void U16(std::uint16_t v) { Put(&v, 2); }
    void U32(std::uint32_t v) { Put(&v, 4); }
    void U64(std::uint64_t v) { Put(&v, 8); }
    void Bytes(const void* data, std::size_t n) { Put(data, n); }
    void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }

    // Starts a chunk; returns the mark that End() takes.
    std::size_t Begin(FOURCC id) {
        U32(id);
        const std::size_t mark = bytes_.size();
        U32(0);
        return mark;
    }
    std::size_t BeginList(FOURCC listType) {
        const std::size_t mark = Begin(kList);
        U32(listType);
        return mark;
    }
    void End(std::size_t mark) {
        const auto size = static_cast<std::uint32_t>(bytes_.size() - mark - 4);
        std::memcpy(bytes_.data() + mark, &size, 4);
        if (size & 1) {
            U8(0);
        }
    }

  private:
    void Put(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + n);
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace vfw::riff
