#include "shell/picture_file_win32.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/file_naming.h"

namespace kelvora {

namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;

std::atomic<std::uint64_t> g_writeLimit{0};

}  // namespace

void PictureFile::SetWriteLimitForTesting(std::uint64_t bytes) {
    g_writeLimit.store(bytes);
}

PictureFile::~PictureFile() {
    Discard();
}

bool PictureFile::Create(const std::string& finalPath) {
    Discard();
    error_ = 0;
    written_ = 0;
    finalPath_ = finalPath;
    // Beside the final name, so that the rename stays on one volume. A name
    // left by an earlier crash is skipped, never overwritten.
    DWORD error = ERROR_FILE_EXISTS;
    tempPath_ = TakeFreeTempFileName(finalPath, [&](const std::string& temp) {
        file_.reset(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_) {
            return NameTry::Taken;
        }
        error = GetLastError();
        return error == ERROR_FILE_EXISTS ? NameTry::Exists : NameTry::Failed;
    });
    if (!tempPath_.empty()) {
        buffer_.reserve(kBufferBytes);
        return true;
    }
    return Fail(error);
}

bool PictureFile::Write(const void* data, std::size_t size) {
    if (error_ != 0 || !file_) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (buffer_.size() == kBufferBytes && !Flush()) {
            return false;
        }
        const std::size_t take = std::min(size, kBufferBytes - buffer_.size());
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
    }
    return true;
}

bool PictureFile::Flush() {
    std::size_t size = buffer_.size();
    DWORD failure = 0;
    const std::uint64_t limit = g_writeLimit.load();
    if (limit != 0 && written_ + size > limit) {
        // As a full disk does: what fits is written, then the write fails.
        size = static_cast<std::size_t>(written_ < limit ? limit - written_ : 0);
        failure = ERROR_DISK_FULL;
    }
    DWORD done = 0;
    if (size > 0 &&
        (!WriteFile(file_.get(), buffer_.data(), static_cast<DWORD>(size), &done, nullptr) ||
         done != size)) {
        failure = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
    written_ += done;
    buffer_.clear();
    return failure == 0 || Fail(failure);
}

bool PictureFile::Commit() {
    if (error_ != 0 || !file_ || !Flush()) {
        return false;
    }
    // A close can report a write the system had delayed.
    if (!CloseHandle(file_.release())) {
        return Fail(GetLastError());
    }
    // Never over a file the user has (two shots in one second, a clock set
    // back): the rename itself refuses an existing name, so the next one is
    // taken.
    DWORD failure = 0;
    const std::string saved = TakeFreeFileName(finalPath_, [&](const std::string& name) {
        if (MoveFileExA(tempPath_.c_str(), name.c_str(), 0)) {
            return NameTry::Taken;
        }
        failure = GetLastError();
        return failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS ? NameTry::Exists
                                                                                : NameTry::Failed;
    });
    if (saved.empty()) {
        return Fail(failure != 0 ? failure : ERROR_FILE_EXISTS);
    }
    finalPath_ = saved;
    tempPath_.clear();
    return true;
}

bool PictureFile::Fail(DWORD code) {
    error_ = code != 0 ? code : ERROR_GEN_FAILURE;
    Discard();
    return false;
}

void PictureFile::Discard() {
    file_.reset();
    buffer_.clear();
    if (!tempPath_.empty()) {
        DeleteFileA(tempPath_.c_str());
        tempPath_.clear();
    }
}

}  // namespace kelvora
