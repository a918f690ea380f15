// Writes an AVI file with one video stream, as AVI 2.0 (OpenDML) once it
// passes the first RIFF:
//
//   RIFF 'AVI ' { LIST 'hdrl' { avih,
//                               LIST 'strl' { strh, strf, [strn], indx (JUNK while unused) },
//                               LIST 'odml' { dmlh } (JUNK while unused) },
//                 JUNK (aligns the frames to 2 KiB),
//                 LIST 'movi' { 00dc ..., [ix00] }, idx1 }
//   RIFF 'AVIX' { LIST 'movi' { 00dc ..., ix00 } } ...
//
// Frames are appended through one large buffer; the header is written with
// the first frame and rewritten, with the RIFF sizes, by Finish(). Until
// then the file on disk is a prefix of the finished one (Flush() decides how
// long), which the reader reads up to its last whole frame. A file
// that never leaves its first RIFF keeps the reserved room as JUNK and is a
// plain AVI 1.0 file.
//
// Protocol: Create, AddStream, SetFormat, Write ..., Finish. The first
// failure to write is sticky: later calls answer it and Finish() leaves the
// file as it stands rather than completing it over a hole.
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
    // Declares the video stream (fccType 'vids', non-zero dwScale and dwRate).
    // A second stream answers AVIERR_UNSUPPORTED.
    [[nodiscard]] HRESULT AddStream(const AVISTREAMINFOA& info);
    // Sets the stream format (a BITMAPINFOHEADER and its colour table) at
    // position 0, before the first frame; later only the same format passes.
    [[nodiscard]] HRESULT SetFormat(LONG pos, const void* format, LONG size);
    // Appends the frame for position `start` (-1: the next one); positions
    // must grow and skipped ones become empty entries. `size` 0 writes an
    // empty entry. `flags`: AVIIF_KEYFRAME or 0.
    [[nodiscard]] HRESULT Write(LONG start, const void* data, LONG size, DWORD flags);
    // Hands what was written so far to the system: the file then reads as a
    // recording of those frames even if the process ends before Finish()
    // (no index, the header's sizes unpatched). Returns the sticky error.
    [[nodiscard]] HRESULT Flush();
    // Writes the indexes, patches the headers and closes the file; with
    // `toDisk`, only once the system has it on the disk (a copy whose source
    // goes next). Returns the sticky error, if any, without completing the
    // file.
    [[nodiscard]] HRESULT Finish(bool toDisk = false);
    // Closes the file without completing it (the caller removes it).
    void Abandon();

    // The stream as written so far (dwLength = entries).
    void StreamInfo(AVISTREAMINFOA* info) const;
    const std::vector<std::uint8_t>& format() const { return format_; }
    bool hasStream() const { return hasStream_; }

  private:
    HRESULT Fail(HRESULT code);
    HRESULT WriteHeader();
    HRESULT AppendChunk(const void* data, std::uint32_t size, bool keyFrame);
    std::uint64_t RiffBytesWith(std::uint64_t chunkBytes) const;
    HRESULT NextRiff();
    HRESULT CloseRiff(bool openDml);
    HRESULT WriteStdIndex();
    std::vector<std::uint8_t> BuildHeader() const;
    DWORD SuggestedBufferSize() const;

    AviWriterLimits limits_;
    FileWriter out_;
    HRESULT error_ = AVIERR_OK;
    bool indexFull_ = false;  // no room for another RIFF: the file ends here
    bool finished_ = false;

    bool hasStream_ = false;
    AVISTREAMINFOA info_{};
    std::vector<std::uint8_t> format_;
    std::uint64_t headerSize_ = 0;  // 0 until the header is written

    // Whole stream.
    std::uint32_t entries_ = 0;
    std::uint32_t maxChunk_ = 0;
    std::vector<riff::SuperIndexEntry> superIndex_;

    // First RIFF, once closed.
    bool firstClosed_ = false;
    std::uint32_t firstEntries_ = 0;
    std::uint32_t firstRiffSize_ = 0;
    std::uint32_t firstMoviSize_ = 0;

    // Current RIFF.
    int riffCount_ = 0;
    std::uint64_t riffStart_ = 0;
    std::uint64_t moviFourcc_ = 0;  // absolute position of its 'movi' FOURCC
    std::vector<riff::StdIndexEntry> stdIndex_;
    std::vector<riff::OldIndexEntry> oldIndex_;  // first RIFF only

    // Sizes of closed 'AVIX' RIFFs and their movi lists, patched at the end.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> patches_;
};

}  // namespace vfw
