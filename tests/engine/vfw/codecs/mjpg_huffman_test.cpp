// Huffman tables from counts: valid prefix codes of at most 16 bits, none of
// ones only, every occurring symbol present, frequent symbols not longer.
#include "engine/vfw/codecs/mjpg_huffman.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vfw {
namespace {

struct Case {
    std::string what;
    std::vector<std::uint32_t> counts;  // symbol i has counts[i]
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    cases.push_back({"one symbol", {0, 0, 0, 5}});
    cases.push_back({"two symbols", {1, 1000}});
    cases.push_back({"uniform 256", std::vector<std::uint32_t>(256, 7)});
    std::vector<std::uint32_t> fib(40);  // depths far past 16 before limiting
    fib[0] = fib[1] = 1;
    for (size_t i = 2; i < fib.size(); ++i) {
        fib[i] = fib[i - 1] + fib[i - 2];
    }
    cases.push_back({"fibonacci", fib});
    std::vector<std::uint32_t> skewed(256, 1);
    skewed[0] = 4000000000u;  // counts near the top of 32 bits
    skewed[0xF0] = 3000000000u;
    cases.push_back({"skewed", skewed});
    return cases;
}

TEST(HuffmanTable, BuildsValidLimitedCodes) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        std::uint32_t counts[256] = {};
        for (size_t i = 0; i < c.counts.size(); ++i) {
            counts[i] = c.counts[i];
        }
        HuffmanTable table;
        ASSERT_TRUE(BuildHuffmanTable(counts, &table));

        int codes = 0;
        int longest = 0;
        std::uint32_t kraft = 0;  // in units of 2^-16
        for (int n = 1; n <= 16; ++n) {
            codes += table.bits[n];
            kraft += table.bits[n] * (1u << (16 - n));
            longest = table.bits[n] != 0 ? n : longest;
        }
        ASSERT_EQ(codes, table.valueCount);
        // The code is complete but for one code at least as long as any
        // other, kept back so that no code is all ones.
        const std::uint32_t missing = 65536 - kraft;
        ASSERT_GT(missing, 0u);
        EXPECT_EQ(missing & (missing - 1), 0u) << "not a single code";
        EXPECT_LE(missing, 1u << (16 - longest));

        std::uint8_t lengths[256];
        HuffmanCodeLengths(table.bits, table.values, lengths);
        std::set<int> seen;
        for (int k = 0; k < table.valueCount; ++k) {
            EXPECT_TRUE(seen.insert(table.values[k]).second) << "symbol twice";
        }
        for (int s = 0; s < 256; ++s) {
            EXPECT_EQ(lengths[s] != 0, counts[s] != 0) << "symbol " << s;
            for (int t = 0; t < 256; ++t) {
                if (counts[s] > counts[t] && counts[t] != 0) {
                    EXPECT_LE(lengths[s], lengths[t]) << s << " vs " << t;
                }
            }
        }
    }
}

TEST(HuffmanTable, NeedsAtLeastOneSymbol) {
    std::uint32_t counts[256] = {};
    HuffmanTable table;
    EXPECT_FALSE(BuildHuffmanTable(counts, &table));
}

}  // namespace
}  // namespace vfw
