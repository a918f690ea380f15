// A file being read (AVI, or WAV as one sound stream) and its streams:
// handles around AviReader. Each stream holds a reference to the file, so it
// stays usable after AVIFileRelease.
#include <cstring>
#include <memory>
#include <new>

#include "engine/vfw/avi_file.h"
#include "engine/vfw/avi_reader.h"
#include "engine/vfw/avi_stream.h"

namespace vfw {

namespace {

class AviReadFile final : public AviFile {
  public:
    explicit AviReadFile(std::unique_ptr<AviReader> reader) : reader_(std::move(reader)) {}

    HRESULT GetStream(PAVISTREAM* stream, DWORD fccType, LONG index) override;

    AviReader& reader() { return *reader_; }

  private:
    ~AviReadFile() override = default;

    std::unique_ptr<AviReader> reader_;
};

class AviReadStream final : public AviStream {
  public:
    AviReadStream(AviReadFile* file, int index) : file_(file), index_(index) { file_->AddRef(); }

    HRESULT Info(AVISTREAMINFOA* info) override {
        *info = stream().info;
        return AVIERR_OK;
    }

    HRESULT SetFormat(LONG pos, const void* format, LONG formatSize) override {
        (void)pos, (void)format, (void)formatSize;
        return AVIERR_READONLY;
    }

    HRESULT ReadFormat(LONG pos, void* format, LONG* formatSize) override {
        (void)pos;  // one format for the whole stream
        if (formatSize == nullptr) {
            return AVIERR_BADPARAM;
        }
        const std::vector<std::uint8_t>& f = stream().format;
        const auto needed = static_cast<LONG>(f.size());
        if (format == nullptr) {
            *formatSize = needed;
            return AVIERR_OK;
        }
        const LONG room = *formatSize;
        *formatSize = needed;
        if (room < needed) {
            return AVIERR_BUFFERTOOSMALL;
        }
        if (needed > 0) {
            std::memcpy(format, f.data(), f.size());
        }
        return AVIERR_OK;
    }

    // Reads blocks of sound, or the one entry at `start` (a frame, or a
    // chunk of another stream).
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        if (stream().blockSize != 0) {
            return file_->reader().ReadBlocks(index_, Entry(start), samples, buffer, bufferSize,
                                              bytes, samplesRead);
        }
        if (samples <= 0 && samples != -1) {  // -1: as many as convenient
            return AVIERR_BADPARAM;
        }
        const HRESULT hr =
            file_->reader().ReadEntry(index_, Entry(start), buffer, bufferSize, bytes);
        if (samplesRead != nullptr) {
            *samplesRead = hr == AVIERR_OK ? 1 : 0;
        }
        return hr;
    }

    DWORD SampleFlags(LONG pos) override {
        const std::int64_t entry = Entry(pos);
        if (stream().blockSize != 0) {  // every block of sound starts anew
            return entry >= 0 && entry < stream().info.dwLength ? AVIIF_KEYFRAME : 0;
        }
        const std::vector<AviEntry>& entries = stream().entries;
        if (entry < 0 || static_cast<std::uint64_t>(entry) >= entries.size()) {
            return 0;
        }
        return entries[static_cast<std::size_t>(entry)].flags;
    }

  private:
    ~AviReadStream() override { file_->Release(); }

    const AviReaderStream& stream() { return file_->reader().stream(index_); }
    std::int64_t Entry(LONG pos) { return static_cast<std::int64_t>(pos) - stream().info.dwStart; }

    AviReadFile* file_;
    int index_;
};

HRESULT AviReadFile::GetStream(PAVISTREAM* stream, DWORD fccType, LONG index) {
    if (index < 0) {
        return AVIERR_BADPARAM;
    }
    LONG seen = 0;
    for (int i = 0; i < reader_->streamCount(); ++i) {
        if (fccType != 0 && reader_->stream(i).info.fccType != fccType) {
            continue;
        }
        if (seen++ == index) {
            auto* s = new (std::nothrow) AviReadStream(this, i);
            if (s == nullptr) {
                return AVIERR_MEMORY;
            }
            *stream = s;
            return AVIERR_OK;
        }
    }
    return AVIERR_NODATA;
}

}  // namespace

HRESULT OpenAviReadFile(const char* path, PAVIFILE* file) {
    std::unique_ptr<AviReader> reader;
    if (const HRESULT hr = AviReader::Open(path, &reader); hr != AVIERR_OK) {
        return hr;
    }
    auto* f = new (std::nothrow) AviReadFile(std::move(reader));
    if (f == nullptr) {
        return AVIERR_MEMORY;
    }
    *file = f;
    return AVIERR_OK;
}

}  // namespace vfw
