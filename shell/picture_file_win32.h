// A picture file that appears under its final name only when it is whole.
//
// Protocol:
//   PictureFile file;
//   file.Create(finalPath)     a new temporary file, finalPath + ".N.tmp"
//   file.Write(...) ...        buffered; the first failure is sticky
//   file.Commit()              flush, close, rename onto finalPath, or
//                              where a file of that name exists onto the
//                              first free "<name> (2).ext" ...: an existing
//                              file is never replaced; path() tells which
// Destroying the object before a successful Commit (or after a failed one)
// closes and deletes the temporary file, so a failure leaves no file behind.
// After a failure, error() holds the system's error code (ERROR_DISK_FULL,
// ERROR_ACCESS_DENIED, ...). Paths are ANSI.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shell/picture_encoders.h"
#include "win32/handles.h"

namespace kelvora {

class PictureFile : public ByteSink {
  public:
    PictureFile() = default;
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;
    ~PictureFile() override;

    // Creates the temporary file beside `finalPath`. False when it cannot be.
    [[nodiscard]] bool Create(const std::string& finalPath);
    [[nodiscard]] bool Write(const void* data, std::size_t size) override;
    // Writes what is buffered, closes the file and renames it onto the final
    // name or the first free one after it. False when any step fails.
    [[nodiscard]] bool Commit();

    DWORD error() const { return error_; }
    // The final name, after Commit the one the picture took.
    const std::string& path() const { return finalPath_; }
    // Tests only: writes fail with ERROR_DISK_FULL once a file would pass
    // `bytes` (0: no limit).
    static void SetWriteLimitForTesting(std::uint64_t bytes);

  private:
    bool Flush();
    bool Fail(DWORD code);
    void Discard();

    win32::File file_;
    std::string tempPath_;  // empty when there is no temporary file
    std::string finalPath_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t written_ = 0;  // bytes handed to the system
    DWORD error_ = 0;
};

}  // namespace kelvora
