// Bad input never crashes the library or reads out of bounds (the host tree
// runs this under AddressSanitizer): cut, empty, garbage and mutated files
// answer AVIERR codes or read back only what they really hold; a full disk
// answers AVIERR_FILEWRITE at the call that meets it and at every later one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/vfw/avi_reader.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_testing.h"
#include "engine/vfw/file_io.h"
#include "engine/vfw/vfw.h"
#include "tests/engine/vfw/avi_test_util.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {
namespace {

using namespace vfw;

bool IsAviErr(HRESULT hr) {
    const auto v = static_cast<std::uint32_t>(hr);
    return v >= 0x80044000u && v <= 0x800440FFu;
}

class AviBadInput : public ::testing::Test {
  protected:
    void TearDown() override {
        SetRiffLimitForTesting(0);
        SetSuperIndexCapacityForTesting(0);
        SetWriteLimitForTesting(0);
    }

    // A small file (small header, 10 frames with a gap), optionally spread
    // over several RIFFs; its content as our reader sees it.
    std::vector<std::uint8_t> SmallFile(const std::string& name, bool severalRiffs,
                                        AviContent* content) {
        SetSuperIndexCapacityForTesting(8);
        SetRiffLimitForTesting(severalRiffs ? 1200 : 0);
        const std::string path = OutputPath(name);
        const std::vector<std::uint8_t> format = ScreenClipFormat(8, 8, 24);
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, format.data(), sizeof bi);
        std::vector<ClipFrame> frames = ScreenClip(8, 8, 24, {0, 1, 2, 4, 5, 6, 7, 8, 9, 10});
        frames[3].key = false;
        EXPECT_EQ(WriteAvi(path, VideoInfo(bi, 10), format, frames), AVIERR_OK);
        SetSuperIndexCapacityForTesting(0);
        SetRiffLimitForTesting(0);
        EXPECT_EQ(ReadAvi(path, content), AVIERR_OK);
        EXPECT_EQ(ListRiffs(path).size() > 1, severalRiffs);
        return ReadFileBytes(path);
    }

    // Reads `bytes` (from memory, so that thousands of variants stay fast):
    // an AVIERR code, or streams whose entries read back as AVIERR codes or
    // as the entries of `original` (when given).
    void Probe(const std::vector<std::uint8_t>& bytes, const AviContent* original,
               const std::string& what) {
        if (bytes.empty()) {
            return;  // fmemopen needs a byte; the empty file has its own case
        }
        std::vector<std::uint8_t> memory = bytes;
        auto file = std::make_unique<FileReader>();
        ASSERT_TRUE(file->Adopt(fmemopen(memory.data(), memory.size(), "rb")));
        std::unique_ptr<AviReader> reader;
        const HRESULT hr = AviReader::Open(std::move(file), &reader);
        if (hr != AVIERR_OK) {
            EXPECT_TRUE(IsAviErr(hr)) << what << ": " << hr;
            return;
        }
        for (int s = 0; s < reader->streamCount(); ++s) {
            const AviReaderStream& stream = reader->stream(s);
            const bool compare =
                original != nullptr && s == 0 && stream.info.fccType == streamtypeVIDEO;
            if (compare) {
                // What a damaged file yields is a prefix of what it held.
                ASSERT_LE(stream.entries.size(), original->entries.size()) << what;
            }
            std::vector<std::uint8_t> data;
            for (size_t e = 0; e < stream.entries.size(); ++e) {
                LONG size = -1;
                ASSERT_EQ(reader->ReadEntry(s, static_cast<std::int64_t>(e), nullptr, 0, &size),
                          AVIERR_OK);
                ASSERT_GE(size, 0);
                ASSERT_LE(static_cast<std::uint64_t>(size), bytes.size()) << what;
                data.resize(static_cast<size_t>(size));
                const HRESULT read =
                    reader->ReadEntry(s, static_cast<std::int64_t>(e), data.data(), size, &size);
                EXPECT_TRUE(read == AVIERR_OK || IsAviErr(read)) << what;
                if (compare && read == AVIERR_OK) {
                    EXPECT_EQ(data, original->entries[e]) << what << " entry " << e;
                }
            }
        }
    }
};

TEST_F(AviBadInput, MissingEmptyAndGarbageFiles) {
    PAVIFILE file = nullptr;
    EXPECT_EQ(AVIFileOpenA(&file, OutputPath("does_not_exist.avi").c_str(), OF_READ, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(AVIFileOpenA(&file, OutputPath("no folder/x.avi").c_str(), OF_READ, nullptr),
              AVIERR_FILEOPEN);
    // A folder where a file is expected.
    EXPECT_EQ(AVIFileOpenA(&file, OutputDir().c_str(), OF_CREATE | OF_WRITE, nullptr),
              AVIERR_FILEOPEN);
    const HRESULT folder = AVIFileOpenA(&file, OutputDir().c_str(), OF_READ, nullptr);
    EXPECT_TRUE(IsAviErr(folder)) << folder;
    // Another file linked under the name keeps its bytes: a new file takes
    // the name.
    const std::string users = OutputPath("user's file.bin"), linked = OutputPath("linked.avi");
    std::remove(linked.c_str());
    ASSERT_TRUE(WriteFileBytes(users, {'m', 'i', 'n', 'e'}));
    std::filesystem::create_hard_link(users, linked);
    ASSERT_EQ(AVIFileOpenA(&file, linked.c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
    AVIFileRelease(file);
    file = nullptr;
    EXPECT_EQ(ReadFileBytes(users), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(AVIFileOpenA(&file, "x.avi", OF_WRITE, nullptr), AVIERR_UNSUPPORTED);

    const std::string empty = OutputPath("empty.avi");
    ASSERT_TRUE(WriteFileBytes(empty, {}));
    EXPECT_EQ(AVIFileOpenA(&file, empty.c_str(), OF_READ, nullptr), AVIERR_BADFORMAT);
    EXPECT_EQ(file, nullptr);

    std::mt19937 rng(1234);
    for (size_t size : {1u, 11u, 12u, 13u, 100u, 4096u, 70000u}) {
        std::vector<std::uint8_t> junk(size);
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(rng());
        }
        Probe(junk, nullptr, "garbage of " + std::to_string(size));
        if (size >= 12) {
            // Garbage behind a valid RIFF 'AVI ' header.
            std::memcpy(junk.data(),
                        "RIFF\xff\xff\xff\x7f"
                        "AVI ",
                        12);
            Probe(junk, nullptr, "RIFF garbage of " + std::to_string(size));
        }
        if (size >= 24) {
            std::memcpy(junk.data() + 12, "LIST\x40\x00\x00\x00hdrl", 12);
            Probe(junk, nullptr, "hdrl garbage of " + std::to_string(size));
        }
    }
}

TEST_F(AviBadInput, EveryCutOfAFileReadsAsAPrefixOrFails) {
    for (bool severalRiffs : {false, true}) {
        SCOPED_TRACE(severalRiffs);
        AviContent original;
        const std::vector<std::uint8_t> bytes =
            SmallFile(severalRiffs ? "cut_riffs.avi" : "cut.avi", severalRiffs, &original);
        ASSERT_EQ(original.entries.size(), 11u);
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            Probe(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)),
                  &original, "cut at " + std::to_string(cut));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST_F(AviBadInput, OversizedAndOddFieldsAnywhere) {
    for (bool severalRiffs : {false, true}) {
        SCOPED_TRACE(severalRiffs);
        AviContent original;
        const std::vector<std::uint8_t> bytes =
            SmallFile(severalRiffs ? "fields_riffs.avi" : "fields.avi", severalRiffs, &original);
        // Every 32-bit field (sizes, counts, offsets, ids) replaced by values
        // that overflow, point past the end or are empty.
        for (size_t at = 0; at + 4 <= bytes.size(); at += 2) {
            for (std::uint32_t value : {0xFFFFFFFFu, 0x7FFFFFF8u, 0x80000000u, 0u, 9u}) {
                std::vector<std::uint8_t> mutated = bytes;
                std::memcpy(&mutated[at], &value, 4);
                Probe(mutated, nullptr, "field at " + std::to_string(at));
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }
}

TEST_F(AviBadInput, SuperIndexListingOneIndexManyTimesIsNotTrusted) {
    SetSuperIndexCapacityForTesting(2000);
    SetRiffLimitForTesting(1200);
    const std::string path = OutputPath("repeated_index.avi");
    const std::vector<std::uint8_t> format = ScreenClipFormat(8, 8, 24);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format.data(), sizeof bi);
    const std::vector<ClipFrame> frames =
        ScreenClip(8, 8, 24, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    ASSERT_EQ(WriteAvi(path, VideoInfo(bi, 10), format, frames), AVIERR_OK);
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    const size_t indx = FindFourcc(bytes, "indx");
    ASSERT_NE(indx, std::string::npos);
    // nEntriesInUse = 2000, every entry a copy of the one that covers most
    // frames: far more entries than the file has room for chunks.
    std::uint32_t inUse = 0;
    std::memcpy(&inUse, &bytes[indx + 8 + 4], 4);
    ASSERT_GE(inUse, 2u);
    size_t widest = indx + 8 + 24;
    for (size_t e = 0; e < inUse; ++e) {
        const size_t at = indx + 8 + 24 + e * 16;
        if (bytes[at + 12] > bytes[widest + 12]) {
            widest = at;
        }
    }
    ASSERT_GE(bytes[widest + 12], 3);  // dwDuration
    const std::uint32_t used = 2000;
    std::memcpy(&bytes[indx + 8 + 4], &used, 4);
    for (size_t e = 0; e < used; ++e) {
        std::memmove(&bytes[indx + 8 + 24 + e * 16], &bytes[widest], 16);
    }
    const std::string repeated = OutputPath("repeated_index_edited.avi");
    ASSERT_TRUE(WriteFileBytes(repeated, bytes));
    AviContent got;
    ASSERT_EQ(ReadAvi(repeated, &got), AVIERR_OK);
    ASSERT_EQ(got.entries.size(), frames.size());  // found by scanning instead
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(got.entries[i], frames[i].bits) << i;
    }
}

// Writes frames of `frameBytes` until a write fails (at most `maxFrames`);
// returns how many were written before.
size_t WriteUntilFailure(const std::string& path, size_t frameBytes, size_t maxFrames,
                         HRESULT* failure) {
    *failure = AVIERR_OK;
    PAVIFILE file = nullptr;
    const HRESULT open = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr);
    EXPECT_EQ(open, AVIERR_OK);
    if (open != AVIERR_OK) {
        return 0;
    }
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = static_cast<LONG>(frameBytes / 4);
    bi.biHeight = 1;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = static_cast<DWORD>(frameBytes);
    const AVISTREAMINFOA info = VideoInfo(bi, 25);
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, &bi, sizeof bi), AVIERR_OK);
    std::vector<std::uint8_t> bits(frameBytes);
    size_t written = 0;
    for (size_t i = 0; i < maxFrames; ++i) {
        std::memset(bits.data(), static_cast<int>(i), bits.size());
        const HRESULT hr =
            AVIStreamWrite(stream, static_cast<LONG>(i), 1, bits.data(),
                           static_cast<LONG>(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr);
        if (hr != AVIERR_OK) {
            *failure = hr;
            // Every later call fails too.
            EXPECT_EQ(
                AVIStreamWrite(stream, static_cast<LONG>(i + 1), 1, bits.data(),
                               static_cast<LONG>(bits.size()), AVIIF_KEYFRAME, nullptr, nullptr),
                hr);
            break;
        }
        ++written;
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return written;
}

TEST_F(AviBadInput, FullDiskIsReportedAtTheWriteThatMeetsIt) {
    SetSuperIndexCapacityForTesting(8);
    SetWriteLimitForTesting(1 << 20);
    HRESULT failure = AVIERR_OK;
    // Frames larger than the write buffer meet the limit at once; small ones
    // when the buffer is handed to the system.
    for (size_t frameBytes : {size_t{6} << 20, size_t{3000}}) {
        SCOPED_TRACE(frameBytes);
        const std::string path = OutputPath("limited.avi");
        const size_t written = WriteUntilFailure(path, frameBytes, 10000, &failure);
        EXPECT_EQ(failure, AVIERR_FILEWRITE);
        EXPECT_LT(written * frameBytes, size_t{6} << 20);
        // What is left is no complete file; reading it is safe.
        AviContent got;
        const HRESULT read = ReadAvi(path, &got);
        EXPECT_TRUE(read == AVIERR_OK || IsAviErr(read)) << read;
    }
#ifdef __linux__
    SetWriteLimitForTesting(0);
    for (size_t frameBytes : {size_t{6} << 20, size_t{3000}}) {
        SCOPED_TRACE(frameBytes);
        const size_t written = WriteUntilFailure("/dev/full", frameBytes, 10000, &failure);
        EXPECT_EQ(failure, AVIERR_FILEWRITE);
        EXPECT_LT(written * frameBytes, size_t{6} << 20);
    }
#endif
}

}  // namespace
}  // namespace kelvora::test
