#include "tests/support/synthetic_clip.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/vfw/dib.h"

namespace kelvora::test {

namespace {

constexpr std::uint32_t kDesktop = 0x3A6EA5;
constexpr std::uint32_t kTitle = 0x0A246A;
constexpr std::uint32_t kWindow = 0xFFFFFF;
constexpr std::uint32_t kPanel = 0xD4D0C8;
constexpr std::uint32_t kInk = 0x101010;

void FillRect(Picture& p, int x0, int y0, int w, int h, std::uint32_t c) {
    const int x1 = std::min(p.width, x0 + w), y1 = std::min(p.height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        for (int x = std::max(0, x0); x < x1; ++x) {
            p.at(x, y) = c;
        }
    }
}

// A 5x7 pseudo-glyph for each character code: stable strokes that look like
// text to a compressor.
bool GlyphBit(unsigned ch, int gx, int gy) {
    std::uint32_t h = ch * 2654435761u;
    h ^= h >> 13;
    const unsigned bit = static_cast<unsigned>(gy * 5 + gx) % 32;
    return ((h >> bit) & 1u) != 0 || (gx == 0 && gy > 1 && (ch & 1u) != 0);
}

void DrawText(Picture& p, int x0, int y0, int clipX0, int clipY0, int clipX1, int clipY1,
              unsigned seed, int chars, std::uint32_t ink) {
    for (int i = 0; i < chars; ++i) {
        const unsigned ch = (seed * 31u + static_cast<unsigned>(i) * 7u) % 91u + 33u;
        if ((seed + static_cast<unsigned>(i)) % 9u == 0) {
            continue;  // a space between words
        }
        for (int gy = 0; gy < 7; ++gy) {
            for (int gx = 0; gx < 5; ++gx) {
                const int x = x0 + i * 6 + gx, y = y0 + gy;
                if (x >= clipX0 && x < clipX1 && y >= clipY0 && y < clipY1 && x < p.width &&
                    y < p.height && GlyphBit(ch, gx, gy)) {
                    p.at(x, y) = ink;
                }
            }
        }
    }
}

void DrawWindow(Picture& p, int x, int y, int w, int h, unsigned seed, int scroll) {
    FillRect(p, x - 1, y - 1, w + 2, h + 2, 0x404040);
    FillRect(p, x, y, w, 18, kTitle);
    DrawText(p, x + 6, y + 5, x, y, x + w, y + 18, seed, (w - 12) / 6, 0xFFFFFF);
    FillRect(p, x, y + 18, w, h - 18, kWindow);
    const int top = y + 22, bottom = y + h - 2;
    for (int line = 0; line * 10 < h; ++line) {
        const int ty = top + line * 10 - 0;
        DrawText(p, x + 4, ty, x, top, x + w, bottom, seed + static_cast<unsigned>(line + scroll),
                 (w - 8) / 6 - static_cast<int>((seed + line + scroll) % 7), kInk);
    }
}

}  // namespace

Picture ScreenFrame(int width, int height, int index) {
    Picture p;
    p.width = width;
    p.height = height;
    p.px.assign(static_cast<size_t>(width) * height, kDesktop);

    // A panel along the bottom, like a task bar.
    FillRect(p, 0, height - height / 16, width, height / 16, kPanel);
    // A still window of text, and one whose text scrolls.
    DrawWindow(p, width / 20, height / 12, width * 2 / 5, height / 2, 11, 0);
    DrawWindow(p, width / 2, height / 10, width * 2 / 5, height * 2 / 5, 57, index / 4);
    // A smooth gradient, as a photo in a window.
    const int gx = width / 20, gy = height * 2 / 3, gw = width / 4, gh = height / 5;
    for (int y = 0; y < gh && gy + y < height; ++y) {
        for (int x = 0; x < gw && gx + x < width; ++x) {
            const std::uint32_t r = static_cast<std::uint32_t>(255 * x / std::max(1, gw - 1));
            const std::uint32_t g = static_cast<std::uint32_t>(255 * y / std::max(1, gh - 1));
            const std::uint32_t b = (r + g) / 2;
            p.at(gx + x, gy + y) = r << 16 | g << 8 | b;
        }
    }
    // A clock face that changes every frame.
    const int cx = width * 3 / 4, cy = height * 3 / 4, radius = std::max(4, height / 12);
    const double angle = index * 0.2;
    for (int y = -radius; y <= radius; ++y) {
        for (int x = -radius; x <= radius; ++x) {
            const int px = cx + x, py = cy + y;
            if (px < 0 || py < 0 || px >= width || py >= height ||
                x * x + y * y > radius * radius) {
                continue;
            }
            const double t = x * std::sin(angle) - y * std::cos(angle);
            const double d = std::abs(x * std::cos(angle) + y * std::sin(angle));
            p.at(px, py) = (d < 1.5 && t > 0) ? 0xC00000 : 0xF0F0F0;
        }
    }
    // A small window that moves across the screen.
    const int mw = std::max(8, width / 6), mh = std::max(8, height / 6);
    const int mx = (index * 3) % std::max(1, width - mw),
              my = (index + height / 3) % std::max(1, height - mh);
    DrawWindow(p, mx, my, mw, mh, 91, index / 2);
    return p;
}

const std::vector<vfw::RGBQUAD>& TestPalette() {
    static const std::vector<vfw::RGBQUAD> palette = [] {
        std::vector<vfw::RGBQUAD> pal;
        for (int r = 0; r < 6; ++r) {
            for (int g = 0; g < 6; ++g) {
                for (int b = 0; b < 6; ++b) {
                    pal.push_back({static_cast<std::uint8_t>(b * 51),
                                   static_cast<std::uint8_t>(g * 51),
                                   static_cast<std::uint8_t>(r * 51), 0});
                }
            }
        }
        for (int i = 0; pal.size() < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(4 + i * 6);
            pal.push_back({v, v, v, 0});
        }
        return pal;
    }();
    return palette;
}

namespace {

std::uint8_t NearestIndex(std::uint32_t c) {
    const auto& pal = TestPalette();
    const int r = static_cast<int>(c >> 16 & 0xFF), g = static_cast<int>(c >> 8 & 0xFF),
              b = static_cast<int>(c & 0xFF);
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const int dr = r - pal[i].rgbRed, dg = g - pal[i].rgbGreen, db = b - pal[i].rgbBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

std::uint32_t Widen5(std::uint32_t v) {
    return (v << 3) | (v >> 2);
}

}  // namespace

size_t PackedDib::formatSize() const {
    const auto* bi = header();
    return bi->biSize + static_cast<size_t>(bi->biClrUsed) * 4;
}

PackedDib ToDib(const Picture& picture, int bitCount) {
    const size_t rowBytes = vfw::DibRowBytes(picture.width, static_cast<unsigned>(bitCount));
    const size_t colors = bitCount == 8 ? 256 : 0;
    const size_t imageSize = rowBytes * static_cast<size_t>(picture.height);
    PackedDib dib;
    dib.bytes.assign(sizeof(vfw::BITMAPINFOHEADER) + colors * 4 + imageSize, 0);
    vfw::BITMAPINFOHEADER* bi = dib.header();
    bi->biSize = sizeof(vfw::BITMAPINFOHEADER);
    bi->biWidth = picture.width;
    bi->biHeight = picture.height;
    bi->biPlanes = 1;
    bi->biBitCount = static_cast<vfw::WORD>(bitCount);
    bi->biCompression = vfw::BI_RGB;
    bi->biSizeImage = static_cast<vfw::DWORD>(imageSize);
    bi->biClrUsed = static_cast<vfw::DWORD>(colors);
    if (colors != 0) {
        std::memcpy(dib.bytes.data() + bi->biSize, TestPalette().data(), colors * 4);
    }
    std::uint8_t* bits = dib.bytes.data() + dib.formatSize();
    // Cache the nearest palette entry of each distinct colour.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> cache;
    for (int y = 0; y < picture.height; ++y) {
        std::uint8_t* row = bits + rowBytes * static_cast<size_t>(picture.height - 1 - y);
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t c = picture.at(x, y);
            switch (bitCount) {
                case 8: {
                    auto it = std::find_if(cache.begin(), cache.end(),
                                           [c](const auto& e) { return e.first == c; });
                    if (it == cache.end()) {
                        cache.emplace_back(c, NearestIndex(c));
                        it = cache.end() - 1;
                    }
                    row[x] = it->second;
                    break;
                }
                case 16: {
                    const std::uint16_t v = static_cast<std::uint16_t>(
                        ((c >> 19) & 0x1F) << 10 | ((c >> 11) & 0x1F) << 5 | ((c >> 3) & 0x1F));
                    row[x * 2] = static_cast<std::uint8_t>(v);
                    row[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                case 24:
                    row[x * 3] = static_cast<std::uint8_t>(c);
                    row[x * 3 + 1] = static_cast<std::uint8_t>(c >> 8);
                    row[x * 3 + 2] = static_cast<std::uint8_t>(c >> 16);
                    break;
                default:
                    row[x * 4] = static_cast<std::uint8_t>(c);
                    row[x * 4 + 1] = static_cast<std::uint8_t>(c >> 8);
                    row[x * 4 + 2] = static_cast<std::uint8_t>(c >> 16);
                    row[x * 4 + 3] = 0;
                    break;
            }
        }
    }
    return dib;
}

Picture FromDib(const PackedDib& dib) {
    const vfw::BITMAPINFOHEADER* bi = dib.header();
    Picture p;
    p.width = bi->biWidth;
    p.height = bi->biHeight;
    p.px.resize(static_cast<size_t>(p.width) * p.height);
    const size_t rowBytes = vfw::DibRowBytes(p.width, bi->biBitCount);
    const vfw::RGBQUAD* pal = vfw::DibColors(bi);
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* row = dib.bits() + rowBytes * static_cast<size_t>(p.height - 1 - y);
        for (int x = 0; x < p.width; ++x) {
            std::uint32_t c = 0;
            switch (bi->biBitCount) {
                case 8: {
                    const vfw::RGBQUAD q = pal[row[x]];
                    c = static_cast<std::uint32_t>(q.rgbRed) << 16 |
                        static_cast<std::uint32_t>(q.rgbGreen) << 8 | q.rgbBlue;
                    break;
                }
                case 16: {
                    const std::uint32_t v = row[x * 2] | static_cast<std::uint32_t>(row[x * 2 + 1])
                                                             << 8;
                    c = Widen5(v >> 10 & 0x1F) << 16 | Widen5(v >> 5 & 0x1F) << 8 |
                        Widen5(v & 0x1F);
                    break;
                }
                case 24:
                    c = row[x * 3] | static_cast<std::uint32_t>(row[x * 3 + 1]) << 8 |
                        static_cast<std::uint32_t>(row[x * 3 + 2]) << 16;
                    break;
                default:
                    c = row[x * 4] | static_cast<std::uint32_t>(row[x * 4 + 1]) << 8 |
                        static_cast<std::uint32_t>(row[x * 4 + 2]) << 16;
                    break;
            }
            p.at(x, y) = c;
        }
    }
    return p;
}

std::vector<std::uint8_t> ToBgra(const Picture& picture) {
    std::vector<std::uint8_t> out(picture.px.size() * 4);
    for (size_t i = 0; i < picture.px.size(); ++i) {
        const std::uint32_t c = picture.px[i];
        out[i * 4] = static_cast<std::uint8_t>(c);
        out[i * 4 + 1] = static_cast<std::uint8_t>(c >> 8);
        out[i * 4 + 2] = static_cast<std::uint8_t>(c >> 16);
        out[i * 4 + 3] = 0xFF;
    }
    return out;
}

}  // namespace kelvora::test
