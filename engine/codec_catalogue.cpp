// The catalogue of compressors that accept the camera's frames, and their
// about boxes and configuration dialogs.
#include "engine/camera_platform.h"
#include "engine/screen_camera.h"

namespace {

// UTF-16 up to the first null (at most `max` units) as UTF-8.
std::string Utf8(const vfw::WCHAR* text, size_t max) {
    std::string out;
    for (size_t i = 0; i < max && text[i] != 0; ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < max && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

const std::vector<std::string>& TScreenCamera::GetVideoCompressors() {
    vfw::BITMAPINFOHEADER* frame = GrabFrame(0, 0, FWidth, FHeight, FFilterColor);
    if (frame == nullptr) {
        // Without a test frame nothing can be asked: keep the catalogue.
        return FCodecNames;
    }
    std::lock_guard<std::mutex> lock(FCodecsLock);
    FCodecCount = 0;
    FCodecNames.clear();
    for (vfw::DWORD i = 0; i < static_cast<vfw::DWORD>(kMaxCodecs); ++i) {
        vfw::ICINFO info{};
        if (!vfw::ICInfo(vfw::ICTYPE_VIDEO, i, &info)) {
            continue;
        }
        vfw::HIC hic = vfw::ICOpen(info.fccType, info.fccHandler, vfw::ICMODE_QUERY);
        if (hic == nullptr) {
            continue;
        }
        if (vfw::ICCompressQuery(hic, frame, nullptr) == vfw::ICERR_OK) {
            vfw::ICINFO& slot = FCodecs[static_cast<size_t>(FCodecCount)];
            slot = info;
            vfw::ICGetInfo(hic, &slot, sizeof(slot));
            ++FCodecCount;
        }
        vfw::ICClose(hic);
    }
    for (std::int32_t i = 0; i < FCodecCount; ++i) {
        const vfw::ICINFO& slot = FCodecs[static_cast<size_t>(i)];
        FCodecNames.push_back(Utf8(slot.szDescription, std::size(slot.szDescription)));
    }
    FreeFrame(frame);
    return FCodecNames;
}

namespace {

// Opens catalogue slot `index` in query mode; null outside the catalogue.
vfw::HIC OpenSlot(const TScreenCamera& camera, std::uint8_t index) {
    vfw::ICINFO slot{};
    {
        std::lock_guard<std::mutex> lock(camera.FCodecsLock);
        if (index >= camera.FCodecCount) {
            return nullptr;
        }
        slot = camera.FCodecs[index];
    }
    return vfw::ICOpen(slot.fccType, slot.fccHandler, vfw::ICMODE_QUERY);
}

}  // namespace

void TScreenCamera::CompressorAbout(std::uint8_t Index, void* ParentWindow) {
    if (vfw::HIC hic = OpenSlot(*this, Index)) {
        vfw::ICAbout(hic, ParentWindow);
        vfw::ICClose(hic);
    }
}

void TScreenCamera::CompressorConfigure(std::uint8_t Index, void* ParentWindow) {
    if (vfw::HIC hic = OpenSlot(*this, Index)) {
        vfw::ICConfigure(hic, ParentWindow);
        vfw::ICClose(hic);
    }
}

void TScreenCamera::CompressorQuery(std::uint8_t Index, bool& CanAbout, bool& CanConfigure) {
    CanAbout = false;
    CanConfigure = false;
    if (vfw::HIC hic = OpenSlot(*this, Index)) {
        CanAbout = vfw::ICQueryAbout(hic);
        CanConfigure = vfw::ICQueryConfigure(hic);
        vfw::ICClose(hic);
    }
}
