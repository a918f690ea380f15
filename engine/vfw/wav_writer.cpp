#include "engine/vfw/wav_writer.h"

#include "engine/vfw/avi_riff.h"

namespace vfw {

using namespace riff;

namespace {

constexpr std::uint32_t kFormatBytes = 16;  // PCM: WAVEFORMATEX without cbSize
// RIFF 'WAVE', 'fmt ' and its 16 bytes, then the 'data' header.
constexpr std::uint32_t kHeaderBytes = 12 + 8 + kFormatBytes + 8;
constexpr std::uint32_t kRiffSizeAt = 4;
constexpr std::uint32_t kDataSizeAt = kHeaderBytes - 4;
// The RIFF size field counts everything after it.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFu - (kHeaderBytes - 8);

}  // namespace

HRESULT WavWriter::Fail(HRESULT code) {
    if (error_ == AVIERR_OK) {
        error_ = code;
    }
    return error_;
}

HRESULT WavWriter::Create(const char* path, const WAVEFORMATEX& format) {
    if (out_.open() || error_ != AVIERR_OK) {
        return AVIERR_BADPARAM;
    }
    const std::uint32_t block = format.nChannels * (format.wBitsPerSample / 8u);
    if (format.wFormatTag != WAVE_FORMAT_PCM || block == 0 || format.wBitsPerSample % 8 != 0 ||
        format.nBlockAlign != block || format.nSamplesPerSec == 0 ||
        format.nAvgBytesPerSec != static_cast<std::uint64_t>(format.nSamplesPerSec) * block) {
        return AVIERR_BADFORMAT;
    }
    if (!out_.Create(path)) {
        return Fail(AVIERR_FILEOPEN);
    }
    blockBytes_ = block;
    ChunkBuilder b;
    b.U32(kRiff);
    b.U32(kHeaderBytes - 8);  // patched by Flush
    b.U32(kWave);
    b.U32(kFmt);
    b.U32(kFormatBytes);
    b.U16(format.wFormatTag);       // wFormatTag
    b.U16(format.nChannels);        // nChannels
    b.U32(format.nSamplesPerSec);   // nSamplesPerSec
    b.U32(format.nAvgBytesPerSec);  // nAvgBytesPerSec
    b.U16(format.nBlockAlign);      // nBlockAlign
    b.U16(format.wBitsPerSample);   // wBitsPerSample
    b.U32(kData);
    b.U32(0);  // patched by Flush
    if (!out_.Write(b.bytes().data(), b.size()) || !out_.Flush()) {
        return Fail(AVIERR_FILEWRITE);
    }
    return AVIERR_OK;
}

HRESULT WavWriter::Append(const void* data, std::size_t bytes) {
    if (error_ != AVIERR_OK) {
        return error_;
    }
    if (!out_.open()) {
        return AVIERR_BADHANDLE;
    }
    if (bytes % blockBytes_ != 0 || (data == nullptr && bytes != 0)) {
        return AVIERR_BADPARAM;
    }
    if (bytes > kMaxDataBytes - dataBytes_) {
        return Fail(AVIERR_BADSIZE);
    }
    if (!out_.Write(data, bytes)) {
        return Fail(AVIERR_FILEWRITE);
    }
    dataBytes_ += bytes;
    return AVIERR_OK;
}

HRESULT WavWriter::Flush() {
    if (error_ != AVIERR_OK) {
        return error_;
    }
    if (!out_.open()) {
        return AVIERR_BADHANDLE;
    }
    // The blocks first, so that the header never states more than the file
    // holds.
    if (!out_.Flush()) {
        return Fail(AVIERR_FILEWRITE);
    }
    if (patchedBytes_ == dataBytes_) {
        return AVIERR_OK;
    }
    const auto dataSize = static_cast<std::uint32_t>(dataBytes_);
    const auto riffSize = static_cast<std::uint32_t>(kHeaderBytes - 8 + dataBytes_);
    if (!out_.WriteAt(kDataSizeAt, &dataSize, 4) || !out_.WriteAt(kRiffSizeAt, &riffSize, 4)) {
        return Fail(AVIERR_FILEWRITE);
    }
    patchedBytes_ = dataBytes_;
    return AVIERR_OK;
}

HRESULT WavWriter::Trim(std::uint64_t blocks) {
    if (error_ != AVIERR_OK) {
        return error_;
    }
    const std::uint64_t bytes = blocks * blockBytes_;
    // Fewer than a chunk header's bytes over: left as they are.
    if (!out_.open() || bytes + 8 > dataBytes_) {
        return AVIERR_OK;
    }
    if (!out_.Flush()) {
        return Fail(AVIERR_FILEWRITE);
    }
    std::uint8_t junk[8] = {'J', 'U', 'N', 'K'};
    const auto rest = static_cast<std::uint32_t>(dataBytes_ - bytes - 8);
    for (int i = 0; i < 4; ++i) {
        junk[4 + i] = static_cast<std::uint8_t>(rest >> (8 * i));
    }
    if (!out_.WriteAt(kHeaderBytes + bytes, junk, sizeof junk)) {
        return Fail(AVIERR_FILEWRITE);
    }
    dataBytes_ = bytes;
    return Flush();
}

HRESULT WavWriter::Close() {
    if (!out_.open()) {
        return error_ != AVIERR_OK ? error_ : AVIERR_BADHANDLE;
    }
    const HRESULT flushed = Flush();
    if (!out_.Close()) {
        return Fail(AVIERR_FILEWRITE);
    }
    return flushed;
}

bool WavWriter::TakeFailure(HRESULT* code) {
    if (error_ == AVIERR_OK || failureTaken_) {
        return false;
    }
    failureTaken_ = true;
    *code = error_;
    return true;
}

}  // namespace vfw
