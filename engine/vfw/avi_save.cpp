// AVISaveV: copies a video stream into a new file entry by entry, without
// recompressing: empty entries stay empty and every key-frame flag is kept.
// A copy that fails or is cancelled removes what it wrote.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_writer.h"
#include "engine/vfw/vfw.h"

namespace vfw {

namespace {

// Super index room for a copy whose size is known. Every RIFF but the last
// was closed because the next chunk (with its index entries) did not fit, so
// it holds more than riffLimit - (largest chunk + index and list overhead).
std::uint32_t SuperIndexCapacityFor(std::uint64_t entries, std::uint64_t chunkBytes,
                                    std::uint64_t largestChunk, std::uint64_t riffLimit) {
    constexpr std::uint64_t kOverhead = 128;
    const std::uint64_t total = chunkBytes + entries * 32 + (1u << 20);
    std::uint64_t riffs = entries + 2;
    if (riffLimit > largestChunk + kOverhead) {
        riffs = std::min(riffs, total / (riffLimit - largestChunk - kOverhead) + 2);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(riffs, 0xFFFFFFF));
}

// Removes the target unless the copy completed.
class TargetGuard {
  public:
    TargetGuard(AviWriter* writer, const char* path) : writer_(writer), path_(path) {}
    TargetGuard(const TargetGuard&) = delete;
    TargetGuard& operator=(const TargetGuard&) = delete;
    ~TargetGuard() {
        if (!kept_) {
            writer_->Abandon();
            std::remove(path_);
        }
    }
    void Keep() { kept_ = true; }

  private:
    AviWriter* writer_;
    const char* path_;
    bool kept_ = false;
};

// Calls the callback once per new percentage; false when it asks to stop.
class Progress {
  public:
    explicit Progress(AVISAVECALLBACK callback) : callback_(callback) {}
    bool Report(int percent) {
        if (percent == last_) {
            return true;
        }
        last_ = percent;
        return callback_ == nullptr || callback_(percent) == 0;
    }

  private:
    AVISAVECALLBACK callback_;
    int last_ = -1;
};

HRESULT SaveVideo(const char* fileName, AVISAVECALLBACK callback, AviStream* source) {
    AVISTREAMINFOA info{};
    if (const HRESULT hr = source->Info(&info); hr != AVIERR_OK) {
        return hr;
    }
    if (info.fccType != streamtypeVIDEO) {
        return AVIERR_UNSUPPORTED;
    }
    const auto start = static_cast<LONG>(info.dwStart);
    const auto length = static_cast<LONG>(info.dwLength);
    if (start < 0 || length < 0) {
        return AVIERR_BADPARAM;
    }
    LONG formatSize = 0;
    if (const HRESULT hr = source->ReadFormat(start, nullptr, &formatSize); hr != AVIERR_OK) {
        return hr;
    }
    if (formatSize <= 0) {
        return AVIERR_BADFORMAT;
    }
    std::vector<std::uint8_t> format(static_cast<std::size_t>(formatSize));
    if (const HRESULT hr = source->ReadFormat(start, format.data(), &formatSize); hr != AVIERR_OK) {
        return hr;
    }

    // Sizes first: the largest sizes the buffer, all of them the index room.
    std::uint64_t chunkBytes = 0;
    LONG largest = 0;
    for (LONG i = 0; i < length; ++i) {
        LONG bytes = 0;
        if (const HRESULT hr = source->Read(start + i, 1, nullptr, 0, &bytes, nullptr);
            hr != AVIERR_OK) {
            return hr;
        }
        if (bytes < 0 || static_cast<std::uint64_t>(bytes) > riff::kMaxSampleBytes) {
            return AVIERR_BADFORMAT;  // damage: no frame is that large
        }
        chunkBytes += 8 + static_cast<std::uint64_t>(bytes) + (bytes & 1);
        largest = std::max(largest, bytes);
    }
    AviWriterLimits limits = DefaultAviWriterLimits();
    limits.superIndexCapacity =
        SuperIndexCapacityFor(static_cast<std::uint64_t>(length), chunkBytes,
                              8 + static_cast<std::uint64_t>(largest), limits.riffLimit);

    AviWriter writer(limits);
    if (const HRESULT hr = writer.Create(fileName); hr != AVIERR_OK) {
        return hr;
    }
    TargetGuard guard(&writer, fileName);
    if (const HRESULT hr = writer.AddStream(info); hr != AVIERR_OK) {
        return hr;
    }
    if (const HRESULT hr = writer.SetFormat(0, format.data(), formatSize); hr != AVIERR_OK) {
        return hr;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(largest) + 1);
    Progress progress(callback);
    if (!progress.Report(0)) {
        return AVIERR_USERABORT;
    }
    for (LONG i = 0; i < length; ++i) {
        LONG bytes = 0;
        if (const HRESULT hr = source->Read(start + i, 1, buffer.data(), largest, &bytes, nullptr);
            hr != AVIERR_OK) {
            return hr;
        }
        const DWORD flags = source->SampleFlags(start + i) & AVIIF_KEYFRAME;
        if (const HRESULT hr = writer.Write(start + i, buffer.data(), bytes, flags);
            hr != AVIERR_OK) {
            return hr;
        }
        if (!progress.Report(static_cast<int>((static_cast<std::int64_t>(i) + 1) * 100 / length))) {
            return AVIERR_USERABORT;
        }
    }
    if (!progress.Report(100)) {
        return AVIERR_USERABORT;
    }
    // A copy is made to replace its source, which the caller wipes next:
    // the copy is on the disk first.
    if (const HRESULT hr = writer.Finish(true); hr != AVIERR_OK) {
        return hr;
    }
    guard.Keep();
    return AVIERR_OK;
}

}  // namespace

HRESULT AVISaveV(const char* fileName, const void* handler, AVISAVECALLBACK callback,
                 int streamCount, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (fileName == nullptr || fileName[0] == '\0' || handler != nullptr || streamCount < 1 ||
        streams == nullptr) {
        return AVIERR_BADPARAM;
    }
    for (int i = 0; i < streamCount; ++i) {
        if (streams[i] == nullptr) {
            return AVIERR_BADHANDLE;
        }
    }
    // One video stream per file, copied as it is: recompressing is not offered.
    if (streamCount > 1 || (options != nullptr && options[0] != nullptr)) {
        return AVIERR_UNSUPPORTED;
    }
    try {
        return SaveVideo(fileName, callback, streams[0]);
    } catch (const std::exception&) {
        // bad_alloc, or length_error for a size no vector can hold.
        return AVIERR_MEMORY;
    }
}

}  // namespace vfw
