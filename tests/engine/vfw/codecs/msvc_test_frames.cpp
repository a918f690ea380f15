#include "tests/engine/vfw/codecs/msvc_test_frames.h"

#include <cmath>

#include "tests/engine/vfw/codecs/msvc_test_decoder.h"

namespace kelvora::test {

PackedDib MsvcInput(const Picture& picture, int depth) {
    if (depth != 8) {
        return ToDib(picture, depth);
    }
    Picture black = picture;
    black.px.assign(black.px.size(), 0);
    PackedDib dib = ToDib(black, 8);
    std::uint8_t* bits = dib.bytes.data() + dib.formatSize();
    const auto level = [](std::uint32_t v) { return (v + 25) / 51; };
    const size_t stride = (static_cast<size_t>(picture.width) + 3) / 4 * 4;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t c = picture.at(x, y);
            bits[static_cast<size_t>(picture.height - 1 - y) * stride + static_cast<size_t>(x)] =
                static_cast<std::uint8_t>(level(c >> 16 & 0xFF) * 36 + level(c >> 8 & 0xFF) * 6 +
                                          level(c & 0xFF));
        }
    }
    return dib;
}

namespace {

// PSNR of `shown` against `source`, each pixel's colour given by colourOf.
template <typename ColourOf>
double PsnrOf(const std::vector<std::uint16_t>& shown, const Picture& source, ColourOf colourOf) {
    double sum = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            int r, g, b;
            colourOf(shown[static_cast<size_t>(source.height - 1 - y) * source.width + x], &r, &g,
                     &b);
            const std::uint32_t c = source.at(x, y);
            const double dr = r - static_cast<int>(c >> 16 & 0xFF),
                         dg = g - static_cast<int>(c >> 8 & 0xFF),
                         db = b - static_cast<int>(c & 0xFF);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    if (sum == 0) {
        return 99;
    }
    return 10 * std::log10(255.0 * 255.0 * 3 * source.width * source.height / sum);
}

}  // namespace

double Psnr555(const std::vector<std::uint16_t>& shown, const Picture& source) {
    return PsnrOf(shown, source, Rgb555To8);
}

double PsnrIndexed(const std::vector<std::uint16_t>& shown, const std::uint32_t* palette,
                   const Picture& source) {
    return PsnrOf(shown, source, [palette](std::uint16_t v, int* r, int* g, int* b) {
        const std::uint32_t c = palette[v & 0xFF];
        *r = static_cast<int>(c >> 16 & 0xFF);
        *g = static_cast<int>(c >> 8 & 0xFF);
        *b = static_cast<int>(c & 0xFF);
    });
}

}  // namespace kelvora::test
