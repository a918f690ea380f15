#include "tests/engine/vfw/codecs/msvc_test_decoder.h"

namespace kelvora::test {

bool MsvcDecoder::Decode(const std::uint8_t* data, std::size_t size) {
    const int blocksX = width / 4;
    const int total = blocksX * (height / 4);
    kinds.clear();
    skipRuns.clear();
    endWord = false;
    error.clear();
    std::size_t pos = 0;
    const auto word = [&](std::uint16_t* w) {
        if (pos + 2 > size) {
            return false;
        }
        *w = static_cast<std::uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return true;
    };
    // A colour of the stream: a 16-bit word, or an 8-bit palette index.
    const auto colour = [&](std::uint16_t* c) {
        if (!palettised) {
            return word(c);
        }
        if (pos + 1 > size) {
            return false;
        }
        *c = data[pos++];
        return true;
    };
    const auto put = [&](int block, int i, std::uint16_t c) {
        const int x = (block % blocksX) * 4 + (i & 3);
        const int y = (block / blocksX) * 4 + (i >> 2);
        picture[static_cast<std::size_t>(y) * width + x] = palettised ? c : c & 0x7FFF;
    };
    int block = 0;
    while (block < total) {
        std::uint16_t w = 0;
        if (!word(&w)) {
            error = "truncated at block " + std::to_string(block);
            return false;
        }
        const int hi = w >> 8;
        if (hi >= 0x84 && hi <= 0x87) {
            const int n = w - 0x8400;
            if (n == 0 || block + n > total) {
                error = "bad skip " + std::to_string(n) + " at block " + std::to_string(block);
                return false;
            }
            skipRuns.push_back(static_cast<unsigned>(n));
            kinds.insert(kinds.end(), static_cast<std::size_t>(n), MsvcBlockKind::kSkip);
            block += n;
            continue;
        }
        // Fills: 16-bit any other word with bit 15; 8-bit high bytes 0x80-0x8F.
        if (palettised ? (hi >= 0x80 && hi < 0x90) : hi >= 0x80) {
            for (int i = 0; i < 16; ++i) {
                put(block, i, palettised ? (w & 0xFF) : w);
            }
            kinds.push_back(MsvcBlockKind::kFill);
            ++block;
            continue;
        }
        // Eight colours: 16-bit when colour A has bit 15; 8-bit when the
        // mask's high byte is 0x90 or more.
        std::uint16_t colours[8];
        if (!colour(&colours[0]) || !colour(&colours[1])) {
            error = "truncated colours at block " + std::to_string(block);
            return false;
        }
        const bool eight = palettised ? hi >= 0x90 : (colours[0] & 0x8000) != 0;
        for (int k = 2; eight && k < 8; ++k) {
            if (!colour(&colours[k])) {
                error = "truncated 8 colours at block " + std::to_string(block);
                return false;
            }
        }
        for (int i = 0; i < 16; ++i) {
            const int pair = eight ? ((i >> 3) * 2 + ((i & 3) >> 1)) : 0;
            put(block, i, (w >> i & 1) ? colours[pair * 2] : colours[pair * 2 + 1]);
        }
        kinds.push_back(eight ? MsvcBlockKind::kEight : MsvcBlockKind::kTwo);
        ++block;
    }
    if (pos + 2 <= size) {
        endWord = data[pos] == 0 && data[pos + 1] == 0;
        pos += 2;
    }
    if (pos != size) {
        error = "bytes after the last block";
        return false;
    }
    return true;
}

}  // namespace kelvora::test
