// The temporary recording's names and marks, and the wipe that deletes it.
#include "engine/temp_files.h"

#include <cstdio>
#include <random>

#include "engine/camera_platform.h"
#include "engine/file_naming.h"
#include "engine/screen_camera.h"

namespace {

constexpr int kDeleteAttempts = 25;
constexpr int kWipePasses = 3;
constexpr const char* kSettledSuffix = ".settled";

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
            const auto chunk =
                static_cast<std::uint32_t>(left < kWipeBlockSize ? left : kWipeBlockSize);
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

bool DeleteTempFile(const std::string& FileName) {
    return WipeAndDelete(FileName, nullptr);
}

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

std::string TempRecordingFolder(CameraPlatform& platform) {
    std::string dir = platform.TempDirectory();
    if (dir.empty() || dir.back() != '\\') {
        dir += '\\';
    }
    return dir;
}

std::string RecordingSettledMark(const std::string& tempFile) {
    return tempFile + kSettledSuffix;
}

std::string FreeVideoTempFile(const std::string& tempDir) {
    CameraPlatform& platform = ActivePlatform();
    const std::string first = tempDir + kVideoTempName;
    const std::string name = TakeFreeFileName(first, [&](const std::string& n) {
        return platform.FileExists(n) ? NameTry::Exists : NameTry::Taken;
    });
    return name.empty() ? first : name;
}

std::string SoundTempFileFor(const std::string& videoTemp) {
    const std::size_t slash = videoTemp.find_last_of("\\/");
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string name = videoTemp.substr(nameAt);
    const std::string video = "~vstream", extension = ".avi";  // kVideoTempName's parts
    if (name.compare(0, video.size(), video) != 0 ||
        name.size() < video.size() + extension.size() ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
        return videoTemp + ".wav";
    }
    name = "~astream" + name.substr(video.size(), name.size() - video.size() - extension.size()) +
           ".wav";
    return videoTemp.substr(0, nameAt) + name;
}

void MarkRecordingSettled(const std::string& tempFile) {
    if (!ActivePlatform().FileExists(tempFile)) {
        return;  // nothing that could come back
    }
    if (std::FILE* mark = std::fopen(RecordingSettledMark(tempFile).c_str(), "wb")) {
        std::fclose(mark);
    }
}

bool WipeLeftoverRecording(const std::string& tempFile) {
    CameraPlatform& platform = ActivePlatform();
    DeleteTempFile(tempFile);
    const std::string sound = SoundTempFileFor(tempFile);
    if (platform.FileExists(sound)) {
        DeleteTempFile(sound);  // a link or a folder is never written through
    }
    if (platform.FileExists(tempFile)) {
        return false;  // held open: its deletion is at most scheduled
    }
    return ClearRecordingSettled(tempFile);
}

bool ClearRecordingSettled(const std::string& tempFile) {
    CameraPlatform& platform = ActivePlatform();
    const std::string mark = RecordingSettledMark(tempFile);
    return !platform.FileExists(mark) || platform.RemoveFile(mark);
}
