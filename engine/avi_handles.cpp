#include "engine/avi_handles.h"

vfw::HRESULT OpenFirstVideoStream(const std::string& name, StreamPtr* video) {
    video->reset();
    vfw::PAVIFILE opened = nullptr;
    if (const vfw::HRESULT hr = vfw::AVIFileOpenA(&opened, name.c_str(), vfw::OF_READ, nullptr);
        hr != vfw::AVIERR_OK) {
        return hr;
    }
    const FilePtr file(opened);  // the stream keeps the file open
    vfw::PAVISTREAM stream = nullptr;
    const vfw::HRESULT hr = vfw::AVIFileGetStream(file.get(), &stream, vfw::streamtypeVIDEO, 0);
    if (hr == vfw::AVIERR_OK) {
        video->reset(stream);
    }
    return hr;
}
