#include "tests/fuzz/avi_seed_corpus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/vfw/avi_testing.h"
#include "engine/vfw/vfw.h"

namespace kelvora::test {

namespace {

using namespace vfw;

struct Shape {
    const char* name;
    int bits;
    int frames;
    int skipEvery;  // 0: no skipped positions
    std::uint64_t riffLimit;
};

std::vector<std::uint8_t> Load(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) {
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        std::fclose(f);
    }
    return bytes;
}

bool Save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Writes the shape into `path`. With `killed`, the file as a killed
// recording leaves it (flushed, never completed) is saved there too, whole
// and cut in its last frame.
bool WriteShape(const std::string& path, const Shape& shape, const std::string& killed = {}) {
    SetSuperIndexCapacityForTesting(8);
    SetRiffLimitForTesting(shape.riffLimit);
    constexpr int kSide = 6;
    const int colors = shape.bits == 8 ? 256 : 0;
    std::vector<std::uint8_t> format(sizeof(BITMAPINFOHEADER) + colors * 4);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = kSide;
    bi.biHeight = kSide;
    bi.biPlanes = 1;
    bi.biBitCount = static_cast<WORD>(shape.bits);
    bi.biClrUsed = static_cast<DWORD>(colors);
    bi.biSizeImage = static_cast<DWORD>(((kSide * shape.bits + 31) / 32) * 4 * kSide);
    std::memcpy(format.data(), &bi, sizeof bi);
    for (int c = 0; c < colors; ++c) {
        format[sizeof bi + c * 4] = static_cast<std::uint8_t>(c);
    }
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = 25;
    std::snprintf(info.szName, sizeof info.szName, "%s", shape.name);

    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr == AVIERR_OK) {
        hr = AVIFileCreateStreamA(file, &stream, &info);
    }
    if (hr == AVIERR_OK) {
        hr = AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size()));
    }
    std::vector<std::uint8_t> bits(bi.biSizeImage);
    LONG pos = 0;
    for (int i = 0; hr == AVIERR_OK && i < shape.frames; ++i, ++pos) {
        if (shape.skipEvery != 0 && i % shape.skipEvery == shape.skipEvery - 1) {
            pos += 2;
        }
        for (size_t b = 0; b < bits.size(); ++b) {
            bits[b] = static_cast<std::uint8_t>(b * 7 + static_cast<size_t>(i) * 13);
        }
        hr = AVIStreamWrite(stream, pos, 1, bits.data(), static_cast<LONG>(bits.size()),
                            i % 3 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
    }
    if (hr == AVIERR_OK && !killed.empty()) {
        hr = AVIStreamFlush(stream);
        const std::vector<std::uint8_t> bytes = Load(path);
        const std::vector<std::uint8_t> cut(
            bytes.begin(), bytes.end() - static_cast<long>(std::min<size_t>(5, bytes.size())));
        if (bytes.size() < 8 || !Save(killed + ".avi", bytes) || !Save(killed + "_cut.avi", cut)) {
            hr = AVIERR_FILEWRITE;
        }
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    SetSuperIndexCapacityForTesting(0);
    SetRiffLimitForTesting(0);
    return hr == AVIERR_OK;
}

size_t Find(const std::vector<std::uint8_t>& bytes, const char* id) {
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], id, 4) == 0) {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace

bool WriteAviSeedCorpus(const std::string& folder) {
    const std::filesystem::path seeds = folder;
    const Shape shapes[] = {
        {"plain", 24, 3, 0, 0},    {"gaps", 24, 6, 2, 0},  {"palette", 8, 2, 0, 0},
        {"riffs", 32, 12, 4, 600}, {"empty", 16, 0, 0, 0},
    };
    for (const Shape& s : shapes) {
        const std::string path = (seeds / (std::string(s.name) + ".avi")).string();
        const bool killed = std::string(s.name) == "plain" || std::string(s.name) == "riffs";
        const std::string killedPath =
            killed ? (seeds / (std::string(s.name) + "_killed")).string() : std::string();
        if (!WriteShape(path, s, killedPath)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return false;
        }
    }
    // Other writers' shapes, derived from the plain file.
    const std::vector<std::uint8_t> plain = Load((seeds / "plain.avi").string());
    const size_t movi = Find(plain, "movi");
    const size_t idx1 = Find(plain, "idx1");
    if (movi == std::string::npos || idx1 == std::string::npos) {
        std::fprintf(stderr, "unexpected layout of plain.avi\n");
        return false;
    }
    std::vector<std::uint8_t> absolute = plain;
    for (size_t e = idx1 + 8; e + 16 <= absolute.size(); e += 16) {
        std::uint32_t offset;
        std::memcpy(&offset, &absolute[e + 8], 4);
        offset += static_cast<std::uint32_t>(movi);
        std::memcpy(&absolute[e + 8], &offset, 4);
    }
    const std::vector<std::uint8_t> noIndex(plain.begin(), plain.begin() + static_cast<long>(idx1));
    if (!Save((seeds / "idx1_absolute.avi").string(), absolute) ||
        !Save((seeds / "no_index.avi").string(), noIndex)) {
        return false;
    }
    return true;
}

}  // namespace kelvora::test
