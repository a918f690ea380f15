// Reads AVI files: ours, and those other programs write (single RIFF with
// 'idx1', AVI 2.0 with 'indx'/'ix##' and 'AVIX' RIFFs, audio and other
// streams beside the video); and WAV files, as a file of one sound stream.
//
// Open() walks the RIFF structure once and builds, for every stream, the
// list of its entries (data position, size, key-frame flag). The entries
// come from the OpenDML indexes when every stream has one, else from 'idx1'
// (offsets from 'movi' or from the file start) when the file has a single
// RIFF, else from a scan of the movi lists, which also recovers the whole
// chunks of a cut file. A file whose writer never completed it (a killed
// recording: the header's RIFF and movi sizes as they were before the first
// frame, or 0, and no index) is scanned from its movi list to the end of the
// file, through continuation RIFFs whose sizes are unwritten too. Every
// entry is checked to lie inside the file, and
// sizes from the file never drive an allocation larger than the file.
//
// Sound with a fixed block size (PCM: dwSampleSize) is read by blocks across
// its chunks, as AVIStreamRead counts it; its dwLength is in blocks. A WAV
// file's 'data' chunk whose size was never written or is stale (a recording
// killed before it patched its header) runs to the end of the file, cut to
// its last whole block.
//
// Thread-safe: reads are serialised.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/vfw/file_io.h"
#include "engine/vfw/vfw.h"

namespace vfw {

struct AviEntry {
    std::uint64_t offset;  // of the data, from the file start
    std::uint32_t size;
    std::uint32_t flags;  // AVIIF_KEYFRAME or 0; 0 for empty entries
};

struct AviReaderStream {
    AVISTREAMINFOA info{};             // strh and strn; dwLength = entries or blocks
    std::vector<std::uint8_t> format;  // strf as stored
    std::vector<AviEntry> entries;
    // Sound read by blocks: their size (0 for streams read by entries), and
    // for each entry the stream's bytes before it (one more at the end: all).
    std::uint32_t blockSize = 0;
    std::vector<std::uint64_t> byteStart;
};

class AviReader {
  public:
    // Opens `path`. AVIERR_FILEOPEN when it cannot be opened, AVIERR_BADFORMAT
    // when it is no AVI file we can index, AVIERR_FILEREAD on read errors.
    [[nodiscard]] static HRESULT Open(const char* path, std::unique_ptr<AviReader>* reader);
    // The same from a file already opened (tests read from memory).
    [[nodiscard]] static HRESULT Open(std::unique_ptr<FileReader> file,
                                      std::unique_ptr<AviReader>* reader);

    int streamCount() const { return static_cast<int>(streams_.size()); }
    // Stream `index`, 0 <= index < streamCount().
    const AviReaderStream& stream(int index) const { return streams_[index]; }

    // Copies entry `entry` of stream `index` into `buffer` (bufferSize bytes);
    // *bytes receives its size. With buffer == nullptr only the size is
    // given. AVIERR_BADPARAM for an entry outside the stream,
    // AVIERR_BUFFERTOOSMALL, AVIERR_FILEREAD.
    [[nodiscard]] HRESULT ReadEntry(int index, std::int64_t entry, void* buffer, LONG bufferSize,
                                    LONG* bytes);
    // Reads `samples` blocks (-1: to the end of the chunk holding the first)
    // from block `first` of a stream read by blocks, as many as the stream
    // and `bufferSize` hold; *bytes and *samplesRead (either may be null)
    // receive what was (or, with buffer == nullptr, would be) read.
    // AVIERR_BADPARAM for blocks outside the stream, AVIERR_BUFFERTOOSMALL
    // when not one block fits, AVIERR_FILEREAD.
    [[nodiscard]] HRESULT ReadBlocks(int index, std::int64_t first, LONG samples, void* buffer,
                                     LONG bufferSize, LONG* bytes, LONG* samplesRead);

  private:
    struct Movi {
        std::uint64_t fourcc;  // position of the 'movi' FOURCC
        std::uint64_t end;     // end of the list's data
        bool open = false;     // of an unfinished file: runs to its end
    };
    struct IndexChunk {
        std::uint64_t offset = 0;  // of the chunk header; 0 = none
        std::uint64_t size = 0;    // of its data
    };

    AviReader() = default;

    HRESULT Parse();
    HRESULT ParseWave();
    bool PlausibleChunkAt(std::uint64_t pos);
    HRESULT ParseHdrl(std::uint64_t pos, std::uint64_t end);
    HRESULT ParseStrl(std::uint64_t pos, std::uint64_t end);
    HRESULT ParseMoreRiffs(std::uint64_t pos);
    bool StreamChunkAt(std::uint64_t pos);
    HRESULT BuildIndexes();
    bool LoadOpenDml();
    bool LoadStdIndex(std::vector<AviEntry>* out, std::uint64_t chunk, std::uint64_t* budget);
    bool LoadIdx1();
    HRESULT Scan();
    bool Read(std::uint64_t offset, void* data, std::size_t size);

    std::unique_ptr<FileReader> file_;
    std::mutex mutex_;
    std::uint64_t size_ = 0;
    std::vector<AviReaderStream> streams_;
    std::vector<IndexChunk> indx_;  // per stream
    std::vector<Movi> movis_;
    IndexChunk idx1_;
    bool sawHdrl_ = false;
    bool wave_ = false;        // a WAV file: its one stream is built by ParseWave
    bool unfinished_ = false;  // its indexes, if any, cover only a part
    bool readError_ = false;
};

}  // namespace vfw
