// JPEG Huffman tables built from symbol counts, following the procedure of
// ITU-T T.81 Annex K.2: code lengths from repeated merging of the two least
// frequent symbols, lengths limited to 16 bits, no code made of ones only.
#pragma once

#include <cstdint>

namespace vfw {

// A table as a DHT segment carries it: bits[n] codes of n bits (bits[0]
// unused), then the symbols in order of increasing code length.
struct HuffmanTable {
    std::uint8_t bits[17];
    std::uint8_t values[256];
    int valueCount;
};

// Builds the table for counts[symbol] (0 = the symbol never occurs). Returns
// false when no symbol occurs.
[[nodiscard]] bool BuildHuffmanTable(const std::uint32_t (&counts)[256], HuffmanTable* table);

// Code length of every symbol of `table` (0 for symbols it lacks).
void HuffmanCodeLengths(const std::uint8_t (&bits)[17], const std::uint8_t* values,
                        std::uint8_t (&lengths)[256]);

}  // namespace vfw
