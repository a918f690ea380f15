#include "tests/engine/vfw/codecs/mjpg_dib_test_avi.h"

#include <cstring>

#include <gtest/gtest.h>

#include "engine/vfw/dib.h"

namespace kelvora::test {

using namespace vfw;

bool WriteClip(const std::string& path, FOURCC handler, const std::vector<std::uint8_t>& format,
               const std::vector<CompressedFrame>& frames) {
    const auto* bi = reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
    AVIFileInit();
    PAVIFILE file = nullptr;
    bool ok = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr) == AVIERR_OK;
    EXPECT_TRUE(ok) << path;
    PAVISTREAM stream = nullptr;
    if (ok) {
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.fccHandler = handler;
        info.dwScale = 1;
        info.dwRate = 25;
        info.rcFrame = {0, 0, bi->biWidth, bi->biHeight};
        ok = AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK &&
             AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size())) ==
                 AVIERR_OK;
        EXPECT_TRUE(ok) << "stream";
    }
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        const CompressedFrame& f = frames[i];
        ok = AVIStreamWrite(stream, f.position, 1, f.data.data(), static_cast<LONG>(f.data.size()),
                            f.flags, nullptr, nullptr) == AVIERR_OK;
        EXPECT_TRUE(ok) << "frame " << i;
    }
    if (stream != nullptr) {
        AVIStreamRelease(stream);
    }
    if (file != nullptr) {
        AVIFileRelease(file);
    }
    AVIFileExit();
    return ok;
}

std::vector<LONG> PositionsWithGaps(int count) {
    std::vector<LONG> positions;
    LONG p = 0;
    for (int i = 0; i < count; ++i) {
        positions.push_back(p);
        p += (i % 7 == 3) ? 2 + i % 3 : 1;  // skips of 1 to 3 positions
    }
    return positions;
}

PackedDib ClipDibs::operator()(const Picture& picture) {
    if (bits_ != 8) {
        return ToDib(picture, bits_);
    }
    Picture blank = picture;
    blank.px.assign(blank.px.size(), 0);
    PackedDib dib = ToDib(blank, 8);  // header and palette
    const size_t rowBytes = DibRowBytes(picture.width, 8);
    std::uint8_t* bits = dib.bytes.data() + dib.formatSize();
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t c = picture.at(x, y);
            auto it = palette_.find(c);
            if (it == palette_.end()) {
                Picture one;
                one.width = one.height = 1;
                one.px = {c};
                it = palette_.emplace(c, ToDib(one, 8).bits()[0]).first;
            }
            bits[rowBytes * static_cast<size_t>(picture.height - 1 - y) + x] = it->second;
        }
    }
    return dib;
}

}  // namespace kelvora::test
