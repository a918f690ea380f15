#include "engine/recovery.h"

#include <memory>
#include <new>
#include <type_traits>

#include "engine/camera_platform.h"
#include "engine/vfw/vfw.h"

namespace {

constexpr const char* kRecoveredWord = " (восстановлено)";
// For ANSI code pages without Cyrillic letters (a Western system).
constexpr const char* kRecoveredWordLatin = " (vosstanovleno)";
constexpr int kMaxNameNumber = 999;
constexpr int kTempNameTries = 100;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

struct StreamReleaser {
    void operator()(vfw::PAVISTREAM stream) const { vfw::AVIStreamRelease(stream); }
};
using StreamPtr = std::unique_ptr<std::remove_pointer_t<vfw::PAVISTREAM>, StreamReleaser>;

// AVIFileInit for the length of the recovery.
class AviLibrary {
  public:
    AviLibrary() { vfw::AVIFileInit(); }
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
    ~AviLibrary() { vfw::AVIFileExit(); }
};

// The first stream of an AVI file, or null when it cannot be read as one.
StreamPtr OpenVideo(const std::string& name) {
    vfw::PAVIFILE file = nullptr;
    if (vfw::AVIFileOpenA(&file, name.c_str(), vfw::OF_READ, nullptr) != vfw::AVIERR_OK) {
        return nullptr;
    }
    vfw::PAVISTREAM stream = nullptr;
    if (vfw::AVIFileGetStream(file, &stream, vfw::streamtypeVIDEO, 0) != vfw::AVIERR_OK) {
        stream = nullptr;
    }
    vfw::AVIFileRelease(file);  // the stream keeps the file open
    return StreamPtr(stream);
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

std::string NumberedName(const std::string& folder, const std::string& base, int n) {
    return InFolder(folder, n == 1 ? base + ".avi" : base + " (" + std::to_string(n) + ").avi");
}

// Copies `source` into `folder` under the first free name built on `base`
// and reads the copy back. The copy is made under a temporary name beside
// it and then renamed, and a rename never replaces a file: one that takes
// the name meanwhile keeps it, and the copy takes the next free name. False
// when the folder cannot take it.
bool SaveInto(vfw::PAVISTREAM source, const std::string& folder, const std::string& base,
              std::string* saved) {
    CameraPlatform& platform = ActivePlatform();
    std::string temp;
    for (int n = 0; n < kTempNameTries && temp.empty(); ++n) {
        const std::string name = NumberedName(folder, base, 1) + "." + std::to_string(n) + ".tmp";
        if (!platform.FileExists(name)) {
            temp = name;
        }
    }
    vfw::PAVISTREAM streams[1] = {source};
    vfw::AVICOMPRESSOPTIONS* options[1] = {nullptr};
    if (temp.empty() ||
        vfw::AVISaveV(temp.c_str(), nullptr, nullptr, 1, streams, options) != vfw::AVIERR_OK) {
        return false;  // AVISaveV removed what it wrote
    }
    // Only a copy that reads back whole counts; the temporary file is wiped
    // once this succeeds.
    bool whole = false;
    if (const StreamPtr copy = OpenVideo(temp)) {
        whole = vfw::AVIStreamLength(copy.get()) == vfw::AVIStreamLength(source);
    }  // closed before it is renamed or removed: an open file cannot be on Windows
    for (int n = 1; whole && n <= kMaxNameNumber; ++n) {
        const std::string name = NumberedName(folder, base, n);
        if (!platform.FileExists(name) && platform.RenameFile(temp, name)) {
            *saved = name;
            return true;
        }
    }
    platform.RemoveFile(temp);
    return false;
}

}  // namespace

RecoveryResult RecoverLeftoverRecording(const std::string& tempFile, const std::string& outputDir,
                                        const std::string& tempDir, const std::string& stamp,
                                        std::string* recoveredPath) {
    recoveredPath->clear();
    try {
        CameraPlatform& platform = ActivePlatform();
        // Only the file a recording made: a link may lead to any file of
        // the user, and that is no recording of ours.
        if (platform.KindOf(tempFile) != CameraPlatform::FileKind::Plain) {
            return RecoveryResult::NothingToRecover;
        }
        AviLibrary library;
        const StreamPtr source = OpenVideo(tempFile);
        if (!source || !HasFrame(source.get())) {
            return RecoveryResult::NothingToRecover;
        }
        std::string base;
        if (!platform.FileNameFromUtf8(stamp + kRecoveredWord, &base)) {
            base = stamp + kRecoveredWordLatin;
        }
        if (!outputDir.empty() && SaveInto(source.get(), outputDir, base, recoveredPath)) {
            return RecoveryResult::Recovered;
        }
        if (SaveInto(source.get(), tempDir, base, recoveredPath)) {
            return RecoveryResult::Recovered;
        }
        return RecoveryResult::Failed;
    } catch (const std::bad_alloc&) {
        recoveredPath->clear();
        return RecoveryResult::Failed;
    }
}
