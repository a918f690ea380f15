#include "engine/vfw/codecs/mjpg_huffman.h"

#include <algorithm>

namespace vfw {

namespace {

// 256 symbols and one reserved symbol whose code is dropped at the end, so
// that no real code consists of ones only.
constexpr int kSymbols = 257;
constexpr int kMaxLength = 16;

}  // namespace

bool BuildHuffmanTable(const std::uint32_t (&counts)[256], HuffmanTable* table) {
    std::uint64_t freq[kSymbols];
    int codeSize[kSymbols];
    int others[kSymbols];  // next symbol in the same subtree, -1 at its end
    bool any = false;
    for (int v = 0; v < 256; ++v) {
        freq[v] = counts[v];
        any = any || counts[v] != 0;
    }
    if (!any) {
        return false;
    }
    freq[256] = 1;
    for (int v = 0; v < kSymbols; ++v) {
        codeSize[v] = 0;
        others[v] = -1;
    }

    // Merge the two least frequent subtrees until one is left; every merge
    // makes the codes of both subtrees one bit longer. Ties go to the higher
    // symbol, so that the reserved symbol sinks deepest.
    for (;;) {
        int v1 = -1;
        int v2 = -1;
        for (int v = 0; v < kSymbols; ++v) {
            if (freq[v] != 0 && (v1 < 0 || freq[v] <= freq[v1])) {
                v1 = v;
            }
        }
        for (int v = 0; v < kSymbols; ++v) {
            if (freq[v] != 0 && v != v1 && (v2 < 0 || freq[v] <= freq[v2])) {
                v2 = v;
            }
        }
        if (v2 < 0) {
            break;
        }
        freq[v1] += freq[v2];
        freq[v2] = 0;
        ++codeSize[v1];
        while (others[v1] >= 0) {
            v1 = others[v1];
            ++codeSize[v1];
        }
        others[v1] = v2;
        ++codeSize[v2];
        while (others[v2] >= 0) {
            v2 = others[v2];
            ++codeSize[v2];
        }
    }

    // Codes per length; a tree of 257 leaves is at most 256 deep. With the
    // reserved symbol there are at least two leaves, so every length is >= 1.
    int bits[kSymbols + 1] = {};
    int longest = 0;
    for (int v = 0; v < kSymbols; ++v) {
        if (codeSize[v] > 0) {
            ++bits[codeSize[v]];
            longest = codeSize[v] > longest ? codeSize[v] : longest;
        }
    }
    // Limit lengths to 16: take a pair of the longest codes, move one up a
    // level and hang both beneath a shorter code that becomes a prefix.
    for (int i = longest; i > kMaxLength; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) {
                --j;
            }
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    // Drop the reserved symbol's code, one of the longest.
    int i = kMaxLength;
    while (bits[i] == 0) {
        --i;
    }
    --bits[i];

    table->bits[0] = 0;
    for (int n = 1; n <= kMaxLength; ++n) {
        table->bits[n] = static_cast<std::uint8_t>(bits[n]);
    }
    // Symbols by increasing original code length, and among equal lengths
    // by decreasing count, so that limiting never gives a rarer symbol the
    // shorter code.
    int k = 0;
    for (int size = 1; size <= kSymbols; ++size) {
        const int first = k;
        for (int v = 0; v < 256; ++v) {
            if (codeSize[v] == size) {
                table->values[k++] = static_cast<std::uint8_t>(v);
            }
        }
        // std::sort: stable_sort may allocate, and this runs per picture.
        std::sort(table->values + first, table->values + k,
                  [&counts](std::uint8_t a, std::uint8_t b) {
                      return counts[a] != counts[b] ? counts[a] > counts[b] : a < b;
                  });
    }
    table->valueCount = k;
    return true;
}

void HuffmanCodeLengths(const std::uint8_t (&bits)[17], const std::uint8_t* values,
                        std::uint8_t (&lengths)[256]) {
    for (std::uint8_t& l : lengths) {
        l = 0;
    }
    int k = 0;
    for (int n = 1; n <= kMaxLength; ++n) {
        for (int c = 0; c < bits[n] && k < 256; ++c) {
            lengths[values[k++]] = static_cast<std::uint8_t>(n);
        }
    }
}

}  // namespace vfw
