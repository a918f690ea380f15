// libFuzzer target of the AVI reader: any bytes, opened from memory, must
// answer an AVIERR code or streams whose every entry, and every block of
// sound, reads back within the file, without a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/vfw/avi_reader.h"
#include "engine/vfw/file_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> bytes(data, data + size);  // fmemopen wants writable memory
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    if (f == nullptr) {
        return 0;
    }
    auto file = std::make_unique<vfw::FileReader>();
    if (!file->Adopt(f)) {
        return 0;
    }
    std::unique_ptr<vfw::AviReader> reader;
    if (vfw::AviReader::Open(std::move(file), &reader) != vfw::AVIERR_OK) {
        return 0;
    }
    std::vector<std::uint8_t> buffer;
    int reads = 0;
    for (int s = 0; s < reader->streamCount(); ++s) {
        const vfw::AviReaderStream& stream = reader->stream(s);
        for (std::size_t e = 0; e < stream.entries.size() && reads < 4096; ++e, ++reads) {
            vfw::LONG bytesNeeded = 0;
            const auto entry = static_cast<std::int64_t>(e);
            if (reader->ReadEntry(s, entry, nullptr, 0, &bytesNeeded) != vfw::AVIERR_OK ||
                bytesNeeded < 0 || static_cast<std::size_t>(bytesNeeded) > size) {
                __builtin_trap();  // an entry the reader listed must lie inside the file
            }
            buffer.resize(static_cast<std::size_t>(bytesNeeded));
            (void)reader->ReadEntry(s, entry, buffer.data(), bytesNeeded, &bytesNeeded);
        }
        // Sound read by blocks: the first, across the middle, to a chunk's end.
        const auto length = static_cast<std::int64_t>(stream.info.dwLength);
        if (stream.blockSize != 0 && length > 0) {
            buffer.resize(4096);
            for (const std::int64_t first : {std::int64_t{0}, length / 2, length - 1}) {
                for (const vfw::LONG samples : {1, 1000, -1}) {
                    vfw::LONG got = 0;
                    vfw::LONG bytes = 0;
                    if (reader->ReadBlocks(s, first, samples, buffer.data(), 4096, &bytes, &got) ==
                            vfw::AVIERR_OK &&
                        (got <= 0 || bytes != got * static_cast<vfw::LONG>(stream.blockSize))) {
                        __builtin_trap();  // a read that succeeded reads whole blocks
                    }
                }
            }
        }
    }
    return 0;
}
