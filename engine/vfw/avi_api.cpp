// The AVIFile calls of vfw.h: argument and handle checks, then the file and
// stream objects (avi_file.h, avi_stream.h). AVISaveV lives in avi_save.cpp.
#include <cstdlib>
#include <cstring>

#include "engine/vfw/avi_file.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/vfw.h"

namespace vfw {

// The library needs no set-up: the pair is kept for callers written
// against the system's AVIFile, which counts them.
void AVIFileInit() {}

void AVIFileExit() {}

DWORD VideoForWindowsVersion() {
    return 0x010A0000;
}

HRESULT AVIFileOpenA(PAVIFILE* file, const char* fileName, UINT mode, const void* handler) {
    if (file == nullptr) {
        return AVIERR_BADPARAM;
    }
    *file = nullptr;
    if (fileName == nullptr || fileName[0] == '\0' || handler != nullptr) {
        return AVIERR_BADPARAM;
    }
    if ((mode & OF_CREATE) != 0) {
        return CreateAviWriteFile(fileName, DefaultAviWriterLimits(), file);
    }
    if ((mode & OF_WRITE) != 0) {
        return AVIERR_UNSUPPORTED;  // existing files are not edited in place
    }
    return OpenAviReadFile(fileName, file);
}

ULONG AVIFileRelease(PAVIFILE file) {
    return file != nullptr ? file->Release() : 0;
}

HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOA* info) {
    if (file == nullptr) {
        return AVIERR_BADHANDLE;
    }
    if (stream == nullptr || info == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    return file->CreateStream(stream, *info);
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD fccType, LONG index) {
    if (file == nullptr) {
        return AVIERR_BADHANDLE;
    }
    if (stream == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    return file->GetStream(stream, fccType, index);
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, const void* format, LONG formatSize) {
    if (stream == nullptr) {
        return AVIERR_BADHANDLE;
    }
    return stream->SetFormat(pos, format, formatSize);
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* buffer,
                       LONG bufferSize, DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (stream == nullptr) {
        return AVIERR_BADHANDLE;
    }
    return stream->Write(start, samples, buffer, bufferSize, flags, samplesWritten, bytesWritten);
}

HRESULT AVIStreamWriteBorrowed(PAVISTREAM stream, LONG start, const void* buffer,
                               LONG bufferSize, DWORD flags, FrameRelease release, void* context) {
    if (release == nullptr) {
        return AVIERR_BADPARAM;
    }
    if (stream == nullptr) {
        release(context);
        return AVIERR_BADHANDLE;
    }
    return stream->WriteBorrowed(start, buffer, bufferSize, flags, release, context);
}

HRESULT AVIStreamFlush(PAVISTREAM stream) {
    return stream != nullptr ? stream->Flush() : AVIERR_BADHANDLE;
}

HRESULT AVIStreamEndWrite(PAVISTREAM stream) {
    return stream != nullptr ? stream->EndWrite() : AVIERR_BADHANDLE;
}

ULONG AVIStreamRelease(PAVISTREAM stream) {
    return stream != nullptr ? stream->Release() : 0;
}

HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG infoSize) {
    if (stream == nullptr) {
        return AVIERR_BADHANDLE;
    }
    if (info == nullptr || infoSize < 0) {
        return AVIERR_BADPARAM;
    }
    AVISTREAMINFOA full{};
    if (const HRESULT hr = stream->Info(&full); hr != AVIERR_OK) {
        return hr;
    }
    const auto n = static_cast<std::size_t>(infoSize) < sizeof full
                       ? static_cast<std::size_t>(infoSize)
                       : sizeof full;
    std::memcpy(info, &full, n);
    return AVIERR_OK;
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* formatSize) {
    if (stream == nullptr) {
        return AVIERR_BADHANDLE;
    }
    if (formatSize == nullptr) {
        return AVIERR_BADPARAM;
    }
    return stream->ReadFormat(pos, format, formatSize);
}

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytes, LONG* samplesRead) {
    if (stream == nullptr) {
        return AVIERR_BADHANDLE;
    }
    return stream->Read(start, samples, buffer, bufferSize, bytes, samplesRead);
}

LONG AVIStreamStart(PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    if (stream == nullptr || stream->Info(&info) != AVIERR_OK) {
        return -1;
    }
    return static_cast<LONG>(info.dwStart);
}

LONG AVIStreamLength(PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    if (stream == nullptr || stream->Info(&info) != AVIERR_OK) {
        return -1;
    }
    return static_cast<LONG>(info.dwLength);
}

HRESULT AVISaveOptionsFree(int count, AVICOMPRESSOPTIONS** options) {
    if (count < 0 || (count > 0 && options == nullptr)) {
        return AVIERR_BADPARAM;
    }
    for (int i = 0; i < count; ++i) {
        AVICOMPRESSOPTIONS* o = options[i];
        if (o == nullptr) {
            continue;
        }
        std::free(o->lpFormat);
        std::free(o->lpParms);
        o->lpFormat = nullptr;
        o->cbFormat = 0;
        o->lpParms = nullptr;
        o->cbParms = 0;
    }
    return AVIERR_OK;
}

}  // namespace vfw
