// Under Wine: the AVI reader's fuzz seeds, and the inputs the host's fuzzer
// found from them (when it has run), read and copied by the Windows build.
// The host fuzzer is a 64-bit process; a 32-bit one meets what it cannot,
// since std::vector answers a size beyond the address space with
// std::length_error, which no bad_alloc handler catches. So two damaged
// files ask for such sizes outright: a chunk of 2 GiB and an index of more
// entries than a reader takes, each a sparse file that costs no disk.
// Every file must open and copy (AVISaveV) or be refused with a code, and
// nothing a file only claims may reach the copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/avi_reader.h"
#include "engine/vfw/avi_riff.h"
#include "engine/vfw/vfw.h"
#include "tests/fuzz/avi_seed_corpus.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace vfw;

// Opens `path` as the fuzz target does and reads every entry it lists;
// fails the test when an entry lies outside the file. The entry count, or
// -1 when the file is refused.
std::int64_t ReadThrough(const std::string& path) {
    std::unique_ptr<AviReader> reader;
    if (AviReader::Open(path.c_str(), &reader) != AVIERR_OK) {
        return -1;
    }
    const std::uint64_t size = fs::file_size(path);
    std::int64_t entries = 0;
    std::vector<std::uint8_t> buffer;
    for (int s = 0; s < reader->streamCount(); ++s) {
        const AviReaderStream& stream = reader->stream(s);
        entries += static_cast<std::int64_t>(stream.entries.size());
        for (std::size_t e = 0; e < stream.entries.size() && e < 4096; ++e) {
            LONG bytes = 0;
            const auto entry = static_cast<std::int64_t>(e);
            EXPECT_EQ(reader->ReadEntry(s, entry, nullptr, 0, &bytes), AVIERR_OK) << path;
            if (bytes < 0 || static_cast<std::uint64_t>(bytes) > size) {
                ADD_FAILURE() << path << ": entry " << e << " of " << bytes << " bytes";
                return entries;
            }
            buffer.resize(static_cast<std::size_t>(bytes));
            (void)reader->ReadEntry(s, entry, buffer.data(), bytes, &bytes);
        }
    }
    return entries;
}

// Copies the first video stream of `path` with AVISaveV; the copy's entry
// count, or -1 when the file or the copy is refused.
LONG CopyThrough(const std::string& path, const std::string& copy) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        return -1;
    }
    PAVISTREAM stream = nullptr;
    const HRESULT got = AVIFileGetStream(file, &stream, streamtypeVIDEO, 0);
    AVIFileRelease(file);
    if (got != AVIERR_OK) {
        return -1;
    }
    AVICOMPRESSOPTIONS* options[1] = {nullptr};
    const HRESULT saved = AVISaveV(copy.c_str(), nullptr, nullptr, 1, &stream, options);
    AVIStreamRelease(stream);
    if (saved != AVIERR_OK) {
        EXPECT_FALSE(fs::exists(copy)) << path << ": a failed copy was left";
        return -1;
    }
    const LONG length = static_cast<LONG>(ReadThrough(copy));
    fs::remove(copy);
    return length;
}

class Bytes {
  public:
    void U32(std::uint32_t v) { Raw(&v, 4); }
    void U16(std::uint16_t v) { Raw(&v, 2); }
    void U64(std::uint64_t v) { Raw(&v, 8); }
    void Id(const char* id) { Raw(id, 4); }
    void Raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void Zeros(std::size_t n) { bytes_.resize(bytes_.size() + n); }
    void PatchU32(std::size_t at, std::uint32_t v) { std::memcpy(&bytes_[at], &v, 4); }
    std::size_t size() const { return bytes_.size(); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A 16 x 16 video stream's header list; with `superIndexAt`, an 'indx' that
// points at one standard index there.
void StreamHeader(Bytes* b, std::uint64_t superIndexAt) {
    b->Id("LIST");
    const std::size_t hdrlSize = b->size();
    b->U32(0);
    b->Id("hdrl");
    b->Id("LIST");
    const std::size_t strlSize = b->size();
    b->U32(0);
    b->Id("strl");
    b->Id("strh");
    b->U32(56);
    b->Id("vids");
    b->Id("DIB ");
    b->Zeros(12);
    b->U32(1);   // dwScale
    b->U32(25);  // dwRate
    b->Zeros(56 - 28);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = 16;
    bi.biHeight = 16;
    bi.biPlanes = 1;
    bi.biBitCount = 8;
    b->Id("strf");
    b->U32(sizeof bi);
    b->Raw(&bi, sizeof bi);
    if (superIndexAt != 0) {
        b->Id("indx");
        b->U32(24 + 16);
        b->U16(4);  // wLongsPerEntry
        b->Raw("\0\0", 2);  // bIndexSubType, bIndexType: an index of indexes
        b->U32(1);  // nEntriesInUse
        b->Id("00dc");
        b->Zeros(12);
        b->U64(superIndexAt);  // qwOffset
        b->U32(0);             // dwSize
        b->U32(0);             // dwDuration
    }
    b->PatchU32(strlSize, static_cast<std::uint32_t>(b->size() - strlSize - 4));
    b->PatchU32(hdrlSize, static_cast<std::uint32_t>(b->size() - hdrlSize - 4));
}

// Writes `head` and makes the file `size` bytes long without writing the
// rest (a sparse file where the file system has them).
bool WriteSparse(const std::string& path, const std::vector<std::uint8_t>& head, std::uint64_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    const char last = 0;
    ok = ok && _fseeki64(f, static_cast<long long>(size - 1), SEEK_SET) == 0 &&
         std::fwrite(&last, 1, 1, f) == 1;
    return std::fclose(f) == 0 && ok;
}

TEST(AviSeedCorpus, EverySeedAndFoundInputIsReadOrRefused) {
    const std::string seeds = kelvora::test::OutputPath("seeds");
    fs::remove_all(seeds);
    fs::create_directories(seeds);
    ASSERT_TRUE(kelvora::test::WriteAviSeedCorpus(seeds));
    std::vector<fs::path> inputs;
    for (const auto& e : fs::directory_iterator(seeds)) {
        inputs.push_back(e.path());
    }
    const std::size_t seedCount = inputs.size();
    ASSERT_GE(seedCount, 9u);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(KELVORA_HOST_FUZZ_CORPUS, ec)) {
        if (inputs.size() < seedCount + 3000) {
            inputs.push_back(e.path());
        }
    }
    int readable = 0;
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.string());
        const std::int64_t entries = ReadThrough(input.string());
        const LONG copied = CopyThrough(input.string(), kelvora::test::OutputPath("copy.avi"));
        readable += entries >= 0 ? 1 : 0;
        if (copied >= 0) {
            EXPECT_LE(copied, entries) << "the copy holds more than the file";
        }
    }
    std::printf("%zu seeds and %zu found inputs, %d readable\n", seedCount,
                inputs.size() - seedCount, readable);
    EXPECT_GE(readable, static_cast<int>(seedCount) - 1) << "the seeds are recordings";
}

TEST(AviSeedCorpus, SizesNoProcessCanHoldAreRefused) {
    // A recording killed while writing: sizes unpatched, then a chunk that
    // claims 2 GiB; the file is as long as the claim.
    {
        Bytes b;
        b.Id("RIFF");
        b.U32(0);
        b.Id("AVI ");
        StreamHeader(&b, 0);
        b.Id("LIST");
        b.U32(0);
        b.Id("movi");
        b.Id("00dc");
        b.U32(256);
        b.Zeros(256);
        b.Id("00dc");
        b.U32(0x7FFFFFFF);
        const std::string path = kelvora::test::OutputPath("chunk-2gib.avi");
        ASSERT_TRUE(WriteSparse(path, b.bytes(), b.size() + 0x7FFFFFFFull + 1));
        EXPECT_EQ(ReadThrough(path), 1) << "the claimed chunk is damage";
        EXPECT_EQ(CopyThrough(path, kelvora::test::OutputPath("copy.avi")), 1);
        fs::remove(path);
    }
    // A finished file whose index claims more entries than a reader takes
    // (each an empty entry that would fit the file): the chunks are scanned
    // instead.
    {
        const std::uint32_t claimed = static_cast<std::uint32_t>(riff::kMaxIndexEntries) + 1;
        Bytes b;
        b.Id("RIFF");
        b.U32(0);
        b.Id("AVI ");
        Bytes probe;  // the header's size, for the index's place
        StreamHeader(&probe, 1);
        const std::uint64_t moviAt = 12 + probe.size();
        const std::uint64_t indexAt = moviAt + 12 + 8 + 256;
        StreamHeader(&b, indexAt);
        b.Id("LIST");
        b.U32(4 + 8 + 256);
        b.Id("movi");
        b.Id("00dc");
        b.U32(256);
        b.Zeros(256);
        b.PatchU32(4, static_cast<std::uint32_t>(b.size() - 8));
        b.Id("ix00");
        b.U32(24 + claimed * 8);
        b.U16(2);  // wLongsPerEntry
        b.Raw("\0\1", 2);  // bIndexSubType, bIndexType: an index of chunks
        b.U32(claimed);
        b.Id("00dc");
        b.U64(moviAt + 8);  // qwBaseOffset
        b.U32(0);
        const std::string path = kelvora::test::OutputPath("index-too-long.avi");
        ASSERT_TRUE(WriteSparse(path, b.bytes(), indexAt + 32 + std::uint64_t{claimed} * 8));
        EXPECT_EQ(ReadThrough(path), 1) << "the claimed index is damage";
        EXPECT_EQ(CopyThrough(path, kelvora::test::OutputPath("copy.avi")), 1);
        fs::remove(path);
    }
}

}  // namespace
