#include "tests/engine/vfw/codecs/mjpg_dib_test_driver.h"

#include <cmath>
#include <cstring>

#include "engine/vfw/dib.h"

namespace kelvora::test {

using namespace vfw;

LRESULT CodecDriver::Begin(const BITMAPINFOHEADER* format) {
    const size_t inSize = format->biSize + DibColorCount(*format) * sizeof(RGBQUAD);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(format);
    inputFormat_.assign(bytes, bytes + inSize);
    const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(inputFormat_.data());
    if (const LRESULT r = SendPointers(ICM_COMPRESS_QUERY, in, nullptr); r != ICERR_OK) {
        return r;
    }
    const LRESULT formatSize = SendPointers(ICM_COMPRESS_GET_FORMAT, in, nullptr);
    if (formatSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER))) {
        return formatSize < 0 ? formatSize : ICERR_ERROR;
    }
    outputFormat_.assign(static_cast<size_t>(formatSize), 0xCD);
    if (const LRESULT r = SendPointers(ICM_COMPRESS_GET_FORMAT, in, outputFormat_.data());
        r != ICERR_OK) {
        return r;
    }
    outputFrame_ = outputFormat_;
    const LRESULT maxSize = SendPointers(ICM_COMPRESS_GET_SIZE, in, outputFormat_.data());
    if (maxSize <= 0) {
        return ICERR_ERROR;
    }
    buffer_.assign(static_cast<size_t>(maxSize), 0);
    frameNumber_ = 0;
    return SendPointers(ICM_COMPRESS_BEGIN, in, outputFormat_.data());
}

LRESULT CodecDriver::Compress(const void* bits, DWORD quality, DWORD icFlags,
                              const BITMAPINFOHEADER* claimed) {
    ICCOMPRESS c{};
    c.dwFlags = icFlags;
    c.lpbiOutput = reinterpret_cast<BITMAPINFOHEADER*>(outputFrame_.data());
    c.lpOutput = buffer_.data();
    c.lpbiInput = const_cast<BITMAPINFOHEADER*>(
        claimed != nullptr ? claimed : reinterpret_cast<BITMAPINFOHEADER*>(inputFormat_.data()));
    c.lpInput = const_cast<void*>(bits);
    c.lpdwFlags = &frameFlags_;
    c.lFrameNum = frameNumber_++;
    c.dwQuality = quality;
    frameFlags_ = 0xDEADBEEF;
    return Send(ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&c), sizeof(c));
}

BITMAPINFOHEADER Header(int width, int height, int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibRowBytes(width, static_cast<unsigned>(bitCount)) *
                                       static_cast<unsigned>(height > 0 ? height : -height));
    return h;
}

double PsnrAgainst(const Picture& picture, const std::vector<std::uint8_t>& bgrx) {
    double squares = 0;
    const size_t n = picture.px.size();
    for (size_t i = 0; i < n; ++i) {
        const std::uint32_t p = picture.px[i];
        const int d[3] = {static_cast<int>(p & 0xFF) - bgrx[i * 4],
                          static_cast<int>(p >> 8 & 0xFF) - bgrx[i * 4 + 1],
                          static_cast<int>(p >> 16 & 0xFF) - bgrx[i * 4 + 2]};
        squares += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    }
    if (squares == 0) {
        return 99;
    }
    return 10 * std::log10(255.0 * 255.0 * 3.0 * static_cast<double>(n) / squares);
}

}  // namespace kelvora::test
