// Files of the AVI library: 64-bit offsets on every platform (stdio with
// _fseeki64/_ftelli64 on Windows, fseeko/ftello elsewhere, so that the 32-bit
// program passes 2 and 4 GiB) and buffers of our own in place of stdio's
// small one. File names are ANSI, as the AVIFile calls take them.
//
// FileWriter: sequential writes through one large buffer; WriteAt() patches
// earlier bytes (headers, sizes) and is meant for the end of a file. The
// first failure is sticky: every later call fails too, so a file is never
// continued past a hole.
//
// FileReader: random reads of a file whose size is fixed when it is opened;
// small reads come from a read-ahead buffer, large ones go straight into the
// caller's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace vfw {

class FileWriter {
  public:
    FileWriter() = default;
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    // Closes the file; buffered bytes are not written (call Close() first).
    ~FileWriter();

    // Creates `path` afresh for writing: a file or link of that name is
    // deleted first, never opened or truncated (a device, such as the null
    // device, is opened as it is). False when it cannot be.
    [[nodiscard]] bool Create(const char* path);
    // Appends `size` bytes at Position().
    [[nodiscard]] bool Write(const void* data, std::size_t size);
    // Appends `size` zero bytes.
    [[nodiscard]] bool WriteZeros(std::size_t size);
    // Overwrites bytes already appended, at `offset`; the position stays.
    [[nodiscard]] bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Hands the buffered bytes to the system, so that they survive the end
    // of the process (not a sync to the disk). False on a write error.
    [[nodiscard]] bool Flush();
    // Writes the buffered bytes and closes the file. With `toDisk`, the
    // system writes the file to the disk (FlushFileBuffers, fsync) before it
    // is closed: a file whose source is wiped next must survive a power cut.
    [[nodiscard]] bool Close(bool toDisk = false);
    // Closes the file without writing what is buffered.
    void Discard();

    // Bytes appended so far (buffered ones included).
    std::uint64_t Position() const { return position_; }
    bool failed() const { return failed_; }
    bool open() const { return file_ != nullptr; }

  private:
    bool WriteThrough(const void* data, std::size_t size);
    bool Fail();

    std::FILE* file_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;  // logical end of the file
    std::uint64_t flushed_ = 0;   // bytes handed to the system
    bool failed_ = false;
};

class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    // Opens `path` for reading. False when it cannot be opened or sized.
    [[nodiscard]] bool Open(const char* path);
    // Takes ownership of an open stdio stream (tests read from memory); false
    // for a null stream or one that cannot be sized.
    [[nodiscard]] bool Adopt(std::FILE* file);

    // Size of the file when it was opened.
    std::uint64_t size() const { return size_; }
    // Reads `size` bytes at `offset`. False when they lie past the end or the
    // system reports an error.
    [[nodiscard]] bool ReadAt(std::uint64_t offset, void* data, std::size_t size);

  private:
    bool Fill(std::uint64_t offset);

    std::FILE* file_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t size_ = 0;
    std::uint64_t bufferStart_ = 0;
    std::size_t bufferUsed_ = 0;
};

}  // namespace vfw
