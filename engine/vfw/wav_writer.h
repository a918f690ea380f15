// Writes a WAV file as sound arrives (the recording's temporary sound file):
//
//   RIFF 'WAVE' { 'fmt ' (16-byte PCM format), 'data' { blocks ... } }
//
// The header goes out first and the blocks are appended after it. Flush()
// hands the blocks to the system and then patches the RIFF and 'data' sizes,
// so that a process killed at any moment leaves a file that reads at least
// up to its last flush: the reader (AVIFileOpenA) takes the 'data' chunk,
// the last one, to the end of the file when its size is stale, cut to the
// last whole block.
//
// Protocol: Create, Append ..., Flush (regularly), Close. The first failure
// (a full disk, a file that would pass the format's 4 GiB) is sticky: every
// later call answers it and writes nothing, and TakeFailure() hands it out
// once, so the caller reports it once. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vfw/file_io.h"
#include "engine/vfw/vfw.h"

namespace vfw {

class WavWriter {
  public:
    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    // Closes the file as it stands (what was flushed reads back).
    ~WavWriter() = default;

    // Creates (or truncates) `path` for PCM sound of `format` and writes the
    // header. AVIERR_BADFORMAT for a format that is no PCM, AVIERR_FILEOPEN
    // or AVIERR_FILEWRITE when the file cannot be made.
    [[nodiscard]] HRESULT Create(const char* path, const WAVEFORMATEX& format);
    // Appends whole blocks. AVIERR_BADPARAM for a part block (nothing is
    // written); AVIERR_BADSIZE once the data would pass 4 GiB.
    [[nodiscard]] HRESULT Append(const void* data, std::size_t bytes);
    // Hands the blocks to the system, then patches the sizes.
    [[nodiscard]] HRESULT Flush();
    // Ends the sound after `blocks` (when it holds more): the header states
    // that many and a 'JUNK' chunk covers the rest, which readers skip. Then
    // only Close.
    [[nodiscard]] HRESULT Trim(std::uint64_t blocks);
    // Flushes and closes the file.
    [[nodiscard]] HRESULT Close();

    // Blocks appended so far.
    std::uint64_t blocks() const { return blockBytes_ != 0 ? dataBytes_ / blockBytes_ : 0; }
    // The sticky failure, true once: the first call after it happened.
    bool TakeFailure(HRESULT* code);

  private:
    HRESULT Fail(HRESULT code);

    FileWriter out_;
    HRESULT error_ = AVIERR_OK;
    bool failureTaken_ = false;
    std::uint32_t blockBytes_ = 0;
    std::uint64_t dataBytes_ = 0;
    std::uint64_t patchedBytes_ = 0;  // data size the header states
};

}  // namespace vfw
