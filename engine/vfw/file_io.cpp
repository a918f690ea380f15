#include "engine/vfw/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cstring>

#include "engine/vfw/avi_testing.h"

namespace vfw {

namespace {

// Large enough that compressed frames go out in few system calls; frames
// bigger than this bypass it.
constexpr std::size_t kWriteBuffer = 4u << 20;
// Read-ahead for headers and index entries; frames bigger than this are read
// straight into the caller's memory.
constexpr std::size_t kReadBuffer = 64u << 10;

std::atomic<std::uint64_t> g_writeLimit{0};
std::atomic<std::uint64_t> g_readLimit{0};
std::atomic<unsigned> g_diskSyncs{0};

// The file's data on the disk, not only in the system's cache.
bool SyncToDisk(std::FILE* f) {
    g_diskSyncs.fetch_add(1, std::memory_order_relaxed);
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;  // FlushFileBuffers
#else
    return fsync(fileno(f)) == 0;
#endif
}

bool Seek(std::FILE* f, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    static_assert(sizeof(off_t) >= 8, "64-bit file offsets are needed");
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SizeOf(std::FILE* f, std::uint64_t* size) {
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0) {
        return false;
    }
    const long long end = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0) {
        return false;
    }
    const long long end = ftello(f);
#endif
    if (end < 0) {
        return false;
    }
    *size = static_cast<std::uint64_t>(end);
    return true;
}

// True when `path` names a device (the null device, a full disk's stand-in
// such as /dev/full) or a pipe: written as it is, it holds no file to replace.
bool IsDevice(const char* path) {
#ifdef _WIN32
    struct _stat64 st {};
    return _stat64(path, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFCHR;
#else
    struct stat st {};
    return lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) &&
           !S_ISDIR(st.st_mode);
#endif
}

// A new, empty file under `path`, never one that was there: a file or link
// of that name loses the name first (a link's target keeps its bytes; a
// folder stays and the creation fails), and the creation fails if the name
// is taken again in between, so nothing planted under it is written through.
std::FILE* CreateFresh(const char* path) {
    if (IsDevice(path)) {
        return std::fopen(path, "wb");
    }
#ifdef _WIN32
    _unlink(path);
    const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        _close(fd);
    }
#else
    unlink(path);
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        close(fd);
    }
#endif
    return file;
}

// True when writing up to `end` would pass the test-only size limit.
bool PastWriteLimit(std::uint64_t end) {
    const std::uint64_t limit = g_writeLimit.load(std::memory_order_relaxed);
    return limit != 0 && end > limit;
}

}  // namespace

void SetWriteLimitForTesting(std::uint64_t bytes) {
    g_writeLimit = bytes;
}

void SetReadLimitForTesting(std::uint64_t bytes) {
    g_readLimit = bytes;
}

unsigned DiskSyncsForTesting() {
    return g_diskSyncs.load();
}

// ---- FileWriter ----

FileWriter::~FileWriter() {
    Discard();
}

bool FileWriter::Create(const char* path) {
    Discard();
    failed_ = false;
    used_ = 0;
    position_ = flushed_ = 0;
    file_ = CreateFresh(path);
    if (file_ == nullptr) {
        return false;
    }
    // Our buffer replaces stdio's: big writes then go straight to the system.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    if (!buffer_) {
        buffer_ = std::make_unique<std::uint8_t[]>(kWriteBuffer);
    }
    return true;
}

bool FileWriter::Fail() {
    failed_ = true;
    return false;
}

bool FileWriter::WriteThrough(const void* data, std::size_t size) {
    if (PastWriteLimit(flushed_ + size) || std::fwrite(data, 1, size, file_) != size) {
        return Fail();
    }
    flushed_ += size;
    return true;
}

bool FileWriter::Flush() {
    if (failed_ || file_ == nullptr) {
        return Fail();
    }
    if (used_ == 0) {
        return true;
    }
    const std::size_t n = used_;
    used_ = 0;
    return WriteThrough(buffer_.get(), n);
}

bool FileWriter::Write(const void* data, std::size_t size) {
    if (failed_ || file_ == nullptr) {
        return Fail();
    }
    if (size == 0) {
        return true;
    }
    position_ += size;
    if (size <= kWriteBuffer - used_) {
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return true;
    }
    if (!Flush()) {
        return false;
    }
    if (size >= kWriteBuffer) {
        return WriteThrough(data, size);
    }
    std::memcpy(buffer_.get(), data, size);
    used_ = size;
    return true;
}

bool FileWriter::WriteZeros(std::size_t size) {
    static const std::uint8_t zeros[4096] = {};
    while (size > 0) {
        const std::size_t n = size < sizeof zeros ? size : sizeof zeros;
        if (!Write(zeros, n)) {
            return false;
        }
        size -= n;
    }
    return true;
}

bool FileWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (failed_ || file_ == nullptr || offset > position_ || size > position_ - offset) {
        return Fail();
    }
    if (!Flush()) {
        return false;
    }
    if (!Seek(file_, offset) || std::fwrite(data, 1, size, file_) != size ||
        !Seek(file_, flushed_)) {
        return Fail();
    }
    return true;
}

bool FileWriter::Close(bool toDisk) {
    if (file_ == nullptr) {
        return false;
    }
    const bool flushed = !failed_ && Flush() && (!toDisk || SyncToDisk(file_));
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        return Fail();
    }
    return true;
}

void FileWriter::Discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    used_ = 0;
}

// ---- FileReader ----

FileReader::~FileReader() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool FileReader::Open(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    return f != nullptr && Adopt(f);
}

bool FileReader::Adopt(std::FILE* file) {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = file;
    bufferUsed_ = 0;
    size_ = 0;
    if (file_ == nullptr) {
        return false;
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
    if (!buffer_) {
        buffer_ = std::make_unique<std::uint8_t[]>(kReadBuffer);
    }
    return SizeOf(file_, &size_);
}

bool FileReader::Fill(std::uint64_t offset) {
    bufferUsed_ = 0;
    bufferStart_ = offset;
    const std::uint64_t left = size_ - offset;
    const std::size_t want = left < kReadBuffer ? static_cast<std::size_t>(left) : kReadBuffer;
    if (!Seek(file_, offset)) {
        return false;
    }
    bufferUsed_ = std::fread(buffer_.get(), 1, want, file_);
    return bufferUsed_ == want;
}

bool FileReader::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
    if (file_ == nullptr || offset > size_ || size > size_ - offset) {
        return false;
    }
    const std::uint64_t limit = g_readLimit.load(std::memory_order_relaxed);
    if (limit != 0 && offset + size > limit) {
        return false;  // as a bad sector would
    }
    if (size >= kReadBuffer) {
        return Seek(file_, offset) && std::fread(data, 1, size, file_) == size;
    }
    const bool inside = offset >= bufferStart_ && offset - bufferStart_ <= bufferUsed_ &&
                        size <= bufferUsed_ - (offset - bufferStart_);
    if (!inside && (!Fill(offset) || size > bufferUsed_)) {
        return false;
    }
    std::memcpy(data, buffer_.get() + (offset - bufferStart_), size);
    return true;
}

}  // namespace vfw
