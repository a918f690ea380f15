// Wiping and deleting files: the temporary recording files and an old file
// under a recording's target name.
#include <random>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "engine/temp_files.h"

namespace {

constexpr int kDeleteAttempts = 25;
constexpr int kWipePasses = 3;

// Raises FOnProgress on CurrentCamera when assigned; `Continue` is passed
// through as the handler left it.
void Progress(std::int32_t percent, const char* caption, bool& Continue) {
    TScreenCamera* camera = CurrentCamera;
    if (camera != nullptr && camera->FOnProgress) {
        camera->FOnProgress(camera, percent, caption, Continue);
    }
}

// Overwrites the whole file with a fresh random block per pass.
void Wipe(CameraPlatform::File& file) {
    std::uint8_t block[kWipeBlockSize];
    for (int pass = 0; pass < kWipePasses; ++pass) {
        FillRandomBlock(block);
        std::uint64_t size = 0;
        if (!file.Size(&size) || !file.SeekStart()) {
            return;
        }
        for (std::uint64_t left = size; left > 0;) {
            const auto chunk = static_cast<std::uint32_t>(left < kWipeBlockSize ? left : kWipeBlockSize);
            if (!file.Write(block, chunk)) {
                return;
            }
            left -= chunk;
        }
        file.Flush();
    }
}

}  // namespace

void FillRandomBlock(std::uint8_t (&Buffer)[kWipeBlockSize]) {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::uint8_t& b : Buffer) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
}

bool IsFileLocked(const std::string& FileName) {
    CameraPlatform& platform = ActivePlatform();
    if (!platform.FileExists(FileName)) {
        return false;
    }
    return platform.OpenExclusive(FileName) == nullptr;
}

bool DeleteTempFile(const std::string& FileName) { return WipeAndDelete(FileName, nullptr); }

bool WipeAndDelete(const std::string& FileName, bool* Cancelled) {
    CameraPlatform& platform = ActivePlatform();
    using Kind = CameraPlatform::FileKind;
    const Kind kind = platform.KindOf(FileName);
    if (kind == Kind::Directory) {
        // A folder (or a junction) under a file's name is left as it is.
        bool Continue = true;
        Progress(100, "", Continue);
        if (Cancelled != nullptr) {
            *Cancelled = false;
        }
        return false;
    }
    platform.SetBusyCursor(true);
    bool Continue = true;
    bool result = false;
    bool cancelled = false;

    // Only a file with this one name is overwritten: through a link (a
    // shared temporary folder lets anyone plant one) the passes would
    // destroy another file. A link only loses its name.
    const bool wipe = kind == Kind::Plain && !IsFileLocked(FileName);
    if (wipe) {
        if (std::unique_ptr<CameraPlatform::File> file = platform.OpenExclusive(FileName)) {
            Wipe(*file);
        }
    }
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
        if (!platform.FileExists(FileName)) {
            Progress(100, "", Continue);
            result = true;
            break;
        }
        Progress(attempt * 4, wipe ? "Delete Temp File" : "", Continue);
        if (!Continue) {
            Progress(100, "", Continue);
            result = false;
            cancelled = true;
            break;
        }
        // A file that could not be opened exclusively is in use: have the
        // system delete it at the next restart.
        result = wipe || kind == Kind::Linked ? platform.RemoveFile(FileName)
                                              : platform.DeleteAtRestart(FileName);
    }
    platform.SetBusyCursor(false);
    if (Cancelled != nullptr) {
        *Cancelled = cancelled;
    }
    return result;
}
