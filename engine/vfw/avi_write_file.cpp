// A file being written and its streams (a video stream, perhaps a sound
// stream): handles around AviWriter. The file's mutex serialises the
// streams' calls, which the compressing stream may make from its own thread;
// the writer completes the file when the file's last reference goes (each
// stream holds one).
#include <cstring>
#include <mutex>
#include <new>

#include "engine/vfw/avi_file.h"
#include "engine/vfw/avi_stream.h"

namespace vfw {

namespace {

class AviWriteFile final : public AviFile {
  public:
    explicit AviWriteFile(const AviWriterLimits& limits) : writer_(limits) {}

    HRESULT Create(const char* path) { return writer_.Create(path); }

    HRESULT CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) override;

    HRESULT Info(int stream, AVISTREAMINFOA* info) {
        std::lock_guard<std::mutex> lock(mutex_);
        writer_.StreamInfo(stream, info);
        return AVIERR_OK;
    }
    HRESULT SetFormat(int stream, LONG pos, const void* format, LONG size) {
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.SetFormat(stream, pos, format, size);
    }
    HRESULT ReadFormat(int stream, void* format, LONG* size) {
        if (size == nullptr) {
            return AVIERR_BADPARAM;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<std::uint8_t>& f = writer_.format(stream);
        const auto needed = static_cast<LONG>(f.size());
        if (format == nullptr) {
            *size = needed;
            return f.empty() ? AVIERR_NODATA : AVIERR_OK;
        }
        const LONG room = *size;
        *size = needed;
        if (room < needed) {
            return AVIERR_BUFFERTOOSMALL;
        }
        if (needed > 0) {
            std::memcpy(format, f.data(), f.size());
        }
        return f.empty() ? AVIERR_NODATA : AVIERR_OK;
    }
    HRESULT Write(int stream, LONG start, LONG samples, const void* data, LONG size, DWORD flags) {
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.Write(stream, start, samples, data, size, flags);
    }
    HRESULT Flush() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.Flush();
    }
    // Completes the file now; a second call answers the first one's result.
    HRESULT Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writer_.Finish();
    }

  private:
    // The last reference completes a file nobody ended explicitly; the
    // result of that cannot reach anyone (AVIStreamEndWrite reports it).
    ~AviWriteFile() override { (void)writer_.Finish(); }

    std::mutex mutex_;
    AviWriter writer_;
};

class AviWriteStream final : public AviStream {
  public:
    AviWriteStream(AviWriteFile* file, int index) : file_(file), index_(index) { file_->AddRef(); }

    HRESULT Info(AVISTREAMINFOA* info) override { return file_->Info(index_, info); }
    HRESULT SetFormat(LONG pos, const void* format, LONG formatSize) override {
        return file_->SetFormat(index_, pos, format, formatSize);
    }
    HRESULT ReadFormat(LONG pos, void* format, LONG* formatSize) override {
        (void)pos;
        return file_->ReadFormat(index_, format, formatSize);
    }
    HRESULT Flush() override { return file_->Flush(); }
    HRESULT EndWrite() override { return file_->Finish(); }
    HRESULT Write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override {
        const HRESULT hr = file_->Write(index_, start, samples, buffer, bufferSize, flags);
        if (hr == AVIERR_OK) {
            if (samplesWritten != nullptr) {
                *samplesWritten = samples;
            }
            if (bytesWritten != nullptr) {
                *bytesWritten = bufferSize;
            }
        }
        return hr;
    }

  private:
    ~AviWriteStream() override { file_->Release(); }

    AviWriteFile* file_;
    int index_;
};

HRESULT AviWriteFile::CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The handle first, so that no stream is declared without one.
    auto* s = new (std::nothrow) AviWriteStream(this, writer_.streamCount());
    if (s == nullptr) {
        return AVIERR_MEMORY;
    }
    int index = 0;
    if (const HRESULT hr = writer_.AddStream(info, &index); hr != AVIERR_OK) {
        s->Release();  // the caller's reference keeps the file
        return hr;
    }
    *stream = s;
    return AVIERR_OK;
}

}  // namespace

HRESULT CreateAviWriteFile(const char* path, const AviWriterLimits& limits, PAVIFILE* file) {
    auto* f = new (std::nothrow) AviWriteFile(limits);
    if (f == nullptr) {
        return AVIERR_MEMORY;
    }
    if (const HRESULT hr = f->Create(path); hr != AVIERR_OK) {
        f->Release();
        return hr;
    }
    *file = f;
    return AVIERR_OK;
}

}  // namespace vfw
