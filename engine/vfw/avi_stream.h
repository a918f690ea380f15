// Base of every stream handle (PAVISTREAM). The AVIStream* functions of vfw.h
// check the handle and forward to these members. A stream is reference
// counted and deletes itself when the last reference goes.
//
// Kinds of stream: a stream of a file being written or read (avi_file.h), and
// a compressing stream that wraps another stream (compressed_stream.h).
// Operations a kind does not support answer AVIERR_UNSUPPORTED.
#pragma once

#include <atomic>

#include "engine/vfw/vfw.h"

namespace vfw {

class AviStream {
public:
    AviStream(const AviStream&) = delete;
    AviStream& operator=(const AviStream&) = delete;

    ULONG AddRef() { return ++refs_; }
    ULONG Release() {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    virtual HRESULT Info(AVISTREAMINFOA* info) = 0;
    virtual HRESULT SetFormat(LONG pos, const void* format, LONG formatSize) {
        (void)pos, (void)format, (void)formatSize;
        return AVIERR_UNSUPPORTED;
    }
    virtual HRESULT ReadFormat(LONG pos, void* format, LONG* formatSize) {
        (void)pos, (void)format, (void)formatSize;
        return AVIERR_UNSUPPORTED;
    }
    virtual HRESULT Write(LONG start, LONG samples, const void* buffer, LONG bufferSize,
                          DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
        (void)start, (void)samples, (void)buffer, (void)bufferSize, (void)flags;
        (void)samplesWritten, (void)bytesWritten;
        return AVIERR_READONLY;
    }
    // See AVIStreamWriteBorrowed: a stream that cannot hold a frame writes it
    // and gives it back at once.
    virtual HRESULT WriteBorrowed(LONG start, const void* buffer, LONG bufferSize, DWORD flags,
                                  FrameRelease release, void* context) {
        const HRESULT r = Write(start, 1, buffer, bufferSize, flags, nullptr, nullptr);
        release(context);
        return r;
    }
    // See AVIStreamFlush. A stream that writes nothing has nothing to flush.
    virtual HRESULT Flush() { return AVIERR_OK; }
    // See AVIStreamEndWrite. A stream that writes nothing has nothing to end.
    virtual HRESULT EndWrite() { return AVIERR_OK; }
    virtual HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                         LONG* samplesRead) {
        (void)start, (void)samples, (void)buffer, (void)bufferSize, (void)bytes;
        (void)samplesRead;
        return AVIERR_UNSUPPORTED;
    }
    // Flags (AVIIF_KEYFRAME) of the entry at `pos`; 0 for an empty entry.
    virtual DWORD SampleFlags(LONG pos) {
        (void)pos;
        return 0;
    }

protected:
    AviStream() = default;
    virtual ~AviStream() = default;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace vfw
