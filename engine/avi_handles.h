// Owners of the AVIFile handles the engine obtains (files, streams,
// compressors, the library's init/exit pairing), and the one way it opens a
// recorded file for reading. A recording session and the recovery of a
// cut-off recording both hold their handles through these, so every handle
// is released on every path, an exception included.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include "engine/vfw/ic.h"
#include "engine/vfw/vfw.h"

struct AviStreamReleaser {
    void operator()(vfw::PAVISTREAM stream) const { vfw::AVIStreamRelease(stream); }
};
using StreamPtr = std::unique_ptr<std::remove_pointer_t<vfw::PAVISTREAM>, AviStreamReleaser>;

struct AviFileReleaser {
    void operator()(vfw::PAVIFILE file) const { vfw::AVIFileRelease(file); }
};
using FilePtr = std::unique_ptr<std::remove_pointer_t<vfw::PAVIFILE>, AviFileReleaser>;

struct IcCloser {
    void operator()(vfw::HIC hic) const { vfw::ICClose(hic); }
};
using IcPtr = std::unique_ptr<std::remove_pointer_t<vfw::HIC>, IcCloser>;

// One AVIFileInit, balanced by AVIFileExit when the owner goes.
class AviLibrary {
public:
    AviLibrary() { vfw::AVIFileInit(); }
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
    ~AviLibrary() { vfw::AVIFileExit(); }
};

// The first video stream of the AVI file `name` (ANSI), for reading. On
// failure *video is null and the result says why (AVIERR_FILEOPEN for a
// file another program holds, AVIERR_NODATA for one without video, ...).
// The stream keeps its file open until it is released.
vfw::HRESULT OpenFirstVideoStream(const std::string& name, StreamPtr* video);
