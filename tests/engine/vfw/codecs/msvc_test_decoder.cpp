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
    const auto put = [&](int block, int i, std::uint16_t colour) {
        const int x = (block % blocksX) * 4 + (i & 3);
        const int y = (block / blocksX) * 4 + (i >> 2);
        picture[static_cast<std::size_t>(y) * width + x] = colour & 0x7FFF;
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
        if (hi >= 0x80) {
            for (int i = 0; i < 16; ++i) {
                put(block, i, w);
            }
            kinds.push_back(MsvcBlockKind::kFill);
            ++block;
            continue;
        }
        std::uint16_t colours[8];
        if (!word(&colours[0]) || !word(&colours[1])) {
            error = "truncated colours at block " + std::to_string(block);
            return false;
        }
        const bool eight = (colours[0] & 0x8000) != 0;
        if (eight) {
            for (int k = 2; k < 8; ++k) {
                if (!word(&colours[k])) {
                    error = "truncated 8 colours at block " + std::to_string(block);
                    return false;
                }
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
