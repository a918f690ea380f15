// Writes an AVI file with one video stream and, beside it, perhaps one PCM
// sound stream, as AVI 2.0 (OpenDML) once it passes the first RIFF:
//
//   RIFF 'AVI ' { LIST 'hdrl' { avih,
//                               LIST 'strl' { strh, strf, [strn], indx (JUNK while unused) },
//                               [LIST 'strl' { ... the sound's ... }],
//                               LIST 'odml' { dmlh } (JUNK while unused) },
//                 JUNK (aligns the frames to 2 KiB),
//                 LIST 'movi' { 00dc, 01wb ..., [ix00, ix01] }, idx1 }
//   RIFF 'AVIX' { LIST 'movi' { 00dc, 01wb ..., ix00, ix01 } } ...
//
// Chunks go into the file in the order they are written, so the caller
// interleaves the streams. Every stream has its own super index and its own
// standard index in each RIFF that holds chunks of it; idx1 lists the first
// RIFF's chunks of every stream. Frames are appended through one large
// buffer; the header is written with the first chunk and rewritten, with the
// RIFF sizes, by Finish(). Until then the file on disk is a prefix of the
// finished one (Flush() decides how long), which the reader reads up to its
// last whole chunk. A file that never leaves its first RIFF keeps the
// reserved room as JUNK and is a plain AVI 1.0 file.
//
// Protocol: Create, AddStream (each stream), SetFormat (each), Write ...,
// Finish. The first failure to write is sticky: later calls answer it and
// Finish() leaves the file as it stands rather than completing it over a hole.
//
// Not thread-safe: the handle that owns a writer serialises its calls.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/file_io.h"
#include "engine/vfw/vfw.h"

namespace vfw {

struct AviWriterLimits {
    // A RIFF (with its indexes) is closed before it grows past this.
    std::uint64_t riffLimit;
    // Room reserved in the header for super index entries (one per RIFF).
    std::uint32_t superIndexCapacity;
};

// The limits of a recording: RIFFs of 1 GiB and super index room for 16 TiB,
// unless a test has shrunk them (avi_testing.h).
AviWriterLimits DefaultAviWriterLimits();

// Positions one write may skip (each becomes an empty entry): more than four
// days at 40 frames per second. A larger jump is refused as a bad position.
inline constexpr LONG kMaxSkippedPositions = 1 << 24;

class AviWriter {
  public:
    explicit AviWriter(const AviWriterLimits& limits);
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;
    // Closes a file that Finish() has not completed, as it stands.
    ~AviWriter() = default;

    // Creates (or truncates) the file. AVIERR_FILEOPEN when it cannot be.
    [[nodiscard]] HRESULT Create(const char* path);
    // Declares a stream and gives its number in *stream: the video ('vids',
    // non-zero dwScale and dwRate) or sound ('auds' PCM: dwSampleSize the
    // block size, dwRate / dwScale blocks per second), at most one of each,
    // before the first Write. Anything else answers AVIERR_UNSUPPORTED.
    [[nodiscard]] HRESULT AddStream(const AVISTREAMINFOA& info, int* stream);
    // Sets a stream's format at position 0, before the first chunk: a
    // BITMAPINFOHEADER and its colour table, or a PCM WAVEFORMATEX (16 bytes
    // as in WAV files are taken too) that agrees with the stream's
    // description. Later only the same format passes.
    [[nodiscard]] HRESULT SetFormat(int stream, LONG pos, const void* format, LONG size);
    // Appends a chunk of `stream` for position `start` (-1: the next one).
    // Video: `samples` 1, one frame; positions must grow and skipped ones
    // become empty entries; `size` 0 writes an empty entry; `flags`
    // AVIIF_KEYFRAME or 0. Sound: `samples` blocks of `size` = samples x
    // block bytes at exactly the next position; every chunk is a key frame.
    [[nodiscard]] HRESULT Write(int stream, LONG start, LONG samples, const void* data, LONG size,
                                DWORD flags);
    // Hands what was written so far to the system: the file then reads as a
    // recording of those chunks even if the process ends before Finish()
    // (no index, the header's sizes unpatched). Returns the sticky error.
    [[nodiscard]] HRESULT Flush();
    // Writes the indexes, patches the headers and closes the file; with
    // `toDisk`, only once the system has it on the disk (a copy whose source
    // goes next). Returns the sticky error, if any, without completing the
    // file.
    [[nodiscard]] HRESULT Finish(bool toDisk = false);
    // Closes the file without completing it (the caller removes it).
    void Abandon();

    int streamCount() const { return static_cast<int>(streams_.size()); }
    // A stream as written so far (dwLength = frames or blocks).
    void StreamInfo(int stream, AVISTREAMINFOA* info) const;
    const std::vector<std::uint8_t>& format(int stream) const { return streams_[stream].format; }

  private:
    struct Stream {
        AVISTREAMINFOA info{};
        std::vector<std::uint8_t> format;
        bool sound = false;
        FOURCC chunkId = 0;
        FOURCC indexId = 0;
        std::uint64_t length = 0;  // positions so far: frames (empty ones too) or blocks
        std::uint32_t maxChunk = 0;
        std::vector<riff::SuperIndexEntry> superIndex;
        // Current RIFF: its chunks and the positions they cover.
        std::vector<riff::StdIndexEntry> stdIndex;
        std::uint64_t riffLength = 0;
        std::uint64_t firstLength = 0;  // in the first RIFF, once it is closed
    };

    HRESULT Fail(HRESULT code);
    HRESULT WriteHeader();
    HRESULT AppendChunk(Stream& s, const void* data, std::uint32_t size, std::uint64_t positions,
                        bool keyFrame);
    bool RiffEmpty() const;
    std::uint64_t RiffBytesWith(const Stream& s, std::uint64_t chunkBytes) const;
    HRESULT NextRiff();
    HRESULT CloseRiff(bool openDml);
    HRESULT WriteStdIndex(Stream& s);
    std::vector<std::uint8_t> BuildHeader() const;
    const Stream* Video() const;
    static DWORD SuggestedBufferSize(const Stream& s);

    AviWriterLimits limits_;
    FileWriter out_;
    HRESULT error_ = AVIERR_OK;
    bool indexFull_ = false;  // no room for another RIFF: the file ends here
    bool finished_ = false;

    std::vector<Stream> streams_;
    std::uint64_t headerSize_ = 0;  // 0 until the header is written

    // First RIFF, once closed.
    bool firstClosed_ = false;
    std::uint32_t firstRiffSize_ = 0;
    std::uint32_t firstMoviSize_ = 0;

    // Current RIFF.
    int riffCount_ = 0;
    std::uint64_t riffStart_ = 0;
    std::uint64_t moviFourcc_ = 0;               // absolute position of its 'movi' FOURCC
    std::vector<riff::OldIndexEntry> oldIndex_;  // first RIFF only

    // Sizes of closed 'AVIX' RIFFs and their movi lists, patched at the end.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> patches_;
};

}  // namespace vfw
