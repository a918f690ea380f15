#include "engine/recovery.h"

#include <exception>

#include "engine/avi_handles.h"
#include "engine/camera_platform.h"
#include "engine/file_naming.h"
#include "engine/screen_camera.h"
#include "engine/session_sound.h"
#include "engine/vfw/vfw.h"

namespace {

constexpr const char* kRecoveredWord = " (восстановлено)";
// For ANSI code pages without Cyrillic letters (a Western system).
constexpr const char* kRecoveredWordLatin = " (vosstanovleno)";

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Why a file that is there could not be read now; empty for a file that
// is no recording at all (nothing to recover, ever).
std::string PassingProblem(vfw::HRESULT hr) {
    switch (hr) {
        case vfw::AVIERR_FILEOPEN:
            return "файл не удалось открыть: его держит другая программа или нет доступа";
        case vfw::AVIERR_FILEREAD:
            return "ошибка чтения файла";
        case vfw::AVIERR_MEMORY:
            return "недостаточно памяти";
        default:
            return {};
    }
}

// True when some entry of the stream holds a picture (entries of skipped
// positions are empty).
bool HasFrame(vfw::PAVISTREAM stream) {
    const vfw::LONG start = vfw::AVIStreamStart(stream);
    const vfw::LONG length = vfw::AVIStreamLength(stream);
    for (vfw::LONG i = 0; start >= 0 && i < length; ++i) {
        vfw::LONG bytes = 0;
        if (vfw::AVIStreamRead(stream, start + i, 1, nullptr, 0, &bytes, nullptr) ==
                vfw::AVIERR_OK &&
            bytes > 0) {
            return true;
        }
    }
    return false;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') {
        return folder + name;
    }
    return folder + kSeparator + name;
}

// Copies `source` into `folder` under the first free name built on `base`
// and reads the copy back. The copy is made under a temporary name beside
// it and then renamed, and a rename never replaces a file: one that takes
// the name meanwhile keeps it, and the copy takes the next free name. False
// when the folder cannot take it.
bool SaveInto(vfw::PAVISTREAM source, vfw::PAVISTREAM sound, const std::string& folder,
              const std::string& base, std::string* saved) {
    CameraPlatform& platform = ActivePlatform();
    const std::string target = InFolder(folder, base + ".avi");
    const std::string temp = TakeFreeTempFileName(target, [&](const std::string& name) {
        return platform.FileExists(name) ? NameTry::Exists : NameTry::Taken;
    });
    vfw::PAVISTREAM streams[2] = {source, sound};
    vfw::AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
    if (temp.empty() || vfw::AVISaveV(temp.c_str(), nullptr, nullptr, sound != nullptr ? 2 : 1,
                                      streams, options) != vfw::AVIERR_OK) {
        return false;  // AVISaveV removed what it wrote
    }
    // Only a copy that reads back whole counts; the temporary file is wiped
    // once this succeeds.
    bool whole = false;
    if (StreamPtr copy; OpenFirstVideoStream(temp, &copy) == vfw::AVIERR_OK) {
        whole = vfw::AVIStreamLength(copy.get()) == vfw::AVIStreamLength(source);
    }  // closed before it is renamed or removed: an open file cannot be on Windows
    if (whole) {
        *saved = TakeFreeFileName(target, [&](const std::string& name) {
            if (platform.RenameFile(temp, name)) {
                return NameTry::Taken;
            }
            // A file that took the name meanwhile keeps it.
            return platform.FileExists(name) ? NameTry::Exists : NameTry::Failed;
        });
    }
    if (saved->empty()) {
        platform.RemoveFile(temp);
        return false;
    }
    return true;
}

}  // namespace

RecoveryResult RecoverLeftoverRecording(const std::string& tempFile, const std::string& outputDir,
                                        const std::string& tempDir, const std::string& stamp,
                                        std::string* recoveredPath, std::string* problem) {
    recoveredPath->clear();
    std::string ignored;
    std::string& why = problem != nullptr ? *problem : ignored;
    why.clear();
    try {
        CameraPlatform& platform = ActivePlatform();
        // Only the file a recording made: a link may lead to any file of
        // the user, and that is no recording of ours.
        if (platform.KindOf(tempFile) != CameraPlatform::FileKind::Plain ||
            platform.FileExists(RecordingSettledMark(tempFile))) {
            return RecoveryResult::NothingToRecover;
        }
        AviLibrary library;
        StreamPtr source;
        const vfw::HRESULT opened = OpenFirstVideoStream(tempFile, &source);
        // Only a file that is no recording, or has no whole frame, has
        // nothing in it; one that cannot be read now is tried again later.
        why = PassingProblem(opened);
        if (!why.empty()) {
            return RecoveryResult::NotYet;
        }
        if (!source || !HasFrame(source.get())) {
            return RecoveryResult::NothingToRecover;
        }
        std::string base;
        if (!platform.FileNameFromUtf8(stamp + kRecoveredWord, &base)) {
            base = stamp + kRecoveredWordLatin;
        }
        // The sound recorded beside it, up to its last flush.
        const StreamPtr sound(OpenSoundStream(SoundTempFileFor(tempFile)));
        if (!outputDir.empty() &&
            SaveInto(source.get(), sound.get(), outputDir, base, recoveredPath)) {
            return RecoveryResult::Recovered;
        }
        if (SaveInto(source.get(), sound.get(), tempDir, base, recoveredPath)) {
            return RecoveryResult::Recovered;
        }
        return RecoveryResult::Failed;
    } catch (const std::exception&) {
        // Memory, mostly: a later start may have more.
        recoveredPath->clear();
        why = PassingProblem(vfw::AVIERR_MEMORY);
        return RecoveryResult::NotYet;
    }
}
