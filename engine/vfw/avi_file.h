// Base of every file handle (PAVIFILE) and the two kinds of file: one being
// written (AVIFileOpenA with OF_CREATE) and one being read (mode 0). The
// AVIFile* functions of vfw.h check the handle and forward to these members.
//
// A file is reference counted and deletes itself when the last reference
// goes; every stream obtained from it holds one reference, so a stream stays
// usable after AVIFileRelease and a file being written is completed (indexes
// written, headers patched) only when its last stream is gone too. Streams
// of a file being written may be used and released from any thread, one
// thread at a time or not: the file serialises them.
#pragma once

#include <atomic>

#include "engine/vfw/avi_writer.h"
#include "engine/vfw/vfw.h"

namespace vfw {

class AviFile {
  public:
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    ULONG AddRef() { return ++refs_; }
    ULONG Release() {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // Adds a stream to a file being written; *stream receives one reference.
    virtual HRESULT CreateStream(PAVISTREAM* stream, const AVISTREAMINFOA& info) {
        (void)stream, (void)info;
        return AVIERR_READONLY;
    }
    // The `index`-th stream of type fccType (0: any) of a file being read;
    // *stream receives one reference. AVIERR_NODATA when there is none.
    virtual HRESULT GetStream(PAVISTREAM* stream, DWORD fccType, LONG index) {
        (void)stream, (void)fccType, (void)index;
        return AVIERR_UNSUPPORTED;
    }

  protected:
    AviFile() = default;
    virtual ~AviFile() = default;

  private:
    std::atomic<ULONG> refs_{1};
};

// Creates `path` for writing with `limits`; *file receives one reference.
// AVIERR_FILEOPEN when the file cannot be created.
[[nodiscard]] HRESULT CreateAviWriteFile(const char* path, const AviWriterLimits& limits,
                                         PAVIFILE* file);
// Opens `path` for reading; *file receives one reference. AVIERR_FILEOPEN,
// AVIERR_BADFORMAT or AVIERR_FILEREAD when it cannot be read.
[[nodiscard]] HRESULT OpenAviReadFile(const char* path, PAVIFILE* file);

}  // namespace vfw
