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
#include "engine/vfw/wav_writer.h"

namespace kelvora::test {

namespace {

using namespace vfw;

struct Shape {
    const char* name;
    int bits;
    int frames;
    int skipEvery;  // 0: no skipped positions
    std::uint64_t riffLimit;
    bool sound = false;  // 8 kHz mono PCM beside the video, before each frame
};

WAVEFORMATEX Mono8k() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 16000;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    return f;
}

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
    PAVISTREAM sound = nullptr;
    const WAVEFORMATEX pcm = Mono8k();
    HRESULT hr = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    if (hr == AVIERR_OK) {
        hr = AVIFileCreateStreamA(file, &stream, &info);
    }
    if (hr == AVIERR_OK) {
        hr = AVIStreamSetFormat(stream, 0, format.data(), static_cast<LONG>(format.size()));
    }
    if (hr == AVIERR_OK && shape.sound) {
        AVISTREAMINFOA soundInfo{};
        soundInfo.fccType = streamtypeAUDIO;
        soundInfo.dwScale = pcm.nBlockAlign;
        soundInfo.dwRate = pcm.nAvgBytesPerSec;
        soundInfo.dwSampleSize = pcm.nBlockAlign;
        hr = AVIFileCreateStreamA(file, &sound, &soundInfo);
        if (hr == AVIERR_OK) {
            hr = AVIStreamSetFormat(sound, 0, &pcm, sizeof pcm);
        }
    }
    const std::vector<std::int16_t> samples(320, 1234);  // one frame's worth
    std::vector<std::uint8_t> bits(bi.biSizeImage);
    LONG pos = 0;
    for (int i = 0; hr == AVIERR_OK && i < shape.frames; ++i, ++pos) {
        if (shape.skipEvery != 0 && i % shape.skipEvery == shape.skipEvery - 1) {
            pos += 2;
        }
        for (size_t b = 0; b < bits.size(); ++b) {
            bits[b] = static_cast<std::uint8_t>(b * 7 + static_cast<size_t>(i) * 13);
        }
        if (sound != nullptr) {
            hr = AVIStreamWrite(sound, -1, 320, samples.data(), 640, 0, nullptr, nullptr);
        }
        if (hr == AVIERR_OK) {
            hr = AVIStreamWrite(stream, pos, 1, bits.data(), static_cast<LONG>(bits.size()),
                                i % 3 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
        }
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
    AVIStreamRelease(sound);
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
        {"plain", 24, 3, 0, 0},
        {"gaps", 24, 6, 2, 0},
        {"palette", 8, 2, 0, 0},
        {"riffs", 32, 12, 4, 600},
        {"empty", 16, 0, 0, 0},
        {"sound", 24, 4, 0, 0, true},
        {"sound_riffs", 24, 9, 0, 3000, true},
    };
    for (const Shape& s : shapes) {
        const std::string path = (seeds / (std::string(s.name) + ".avi")).string();
        const bool killed = std::string(s.name) == "plain" || std::string(s.name) == "riffs" ||
                            std::string(s.name) == "sound";
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
    // The temporary sound file, and as a crash leaves it: sizes unpatched,
    // cut in a block.
    const std::string wav = (seeds / "sound.wav").string();
    const std::vector<std::int16_t> samples(500, -321);
    WavWriter writer;
    if (writer.Create(wav.c_str(), Mono8k()) != AVIERR_OK ||
        writer.Append(samples.data(), 1000) != AVIERR_OK || writer.Close() != AVIERR_OK) {
        return false;
    }
    std::vector<std::uint8_t> cutWav = Load(wav);
    std::memset(&cutWav[40], 0, 4);
    cutWav.resize(cutWav.size() - 101);
    return Save((seeds / "sound_cut.wav").string(), cutWav);
}

}  // namespace kelvora::test
