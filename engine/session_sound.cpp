#include "engine/session_sound.h"

#include "engine/camera_platform.h"

SessionSound::SessionSound(CameraPlatform& platform, std::string path, std::string device,
                           std::uint32_t framePeriodMs)
    : platform_(platform),
      path_(std::move(path)),
      device_(std::move(device)),
      framePeriodMs_(framePeriodMs == 0 ? 1 : framePeriodMs) {}

SessionSound::~SessionSound() {
    Finish();
}

void SessionSound::Open() {
    std::string reason;
    // Buffers that arrive before Begin are dropped by the recording: the
    // sound starts with the picture.
    input_ = platform_.StartSoundInput(device_, &recording_, &reason);
    if (input_) {
        format_ = input_->format();
    } else {
        problem_ = reason;  // silence in the default format, in step
    }
}

void SessionSound::Begin(std::uint32_t startMs) {
    startMs_ = startMs;
    std::string reason;
    CameraPlatform& platform = platform_;
    // A folder in the file's way (left by the wipe) is named as such.
    const bool folder = platform.KindOf(path_) == CameraPlatform::FileKind::Directory;
    if (folder) {
        reason = "под именем временного звукового файла " + platform.FileNameForDisplay(path_) +
                 " находится папка";
    }
    if (folder || !recording_.Start(
            path_, format_, [&platform] { return platform.TimeMs(); }, startMs,
            framePeriodMs_, &reason)) {
        // No file, no sound stream: the input has nothing to feed.
        input_.reset();
        if (problem_.empty()) {
            problem_ = reason;
        }
        return;
    }
    begun_ = true;
    if (!problem_.empty()) {
        recording_.SoundFailed(problem_);
        problem_.clear();
    }
}

void SessionSound::Flush() {
    if (begun_ && !finished_) {
        recording_.Flush();
    }
}

void SessionSound::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    // Stopped first: the last buffers are handed over before the end is
    // padded.
    input_.reset();
    if (begun_) {
        const std::uint32_t frames = static_cast<std::uint32_t>(lastPosition_ + 1);
        recording_.Finish(startMs_ + frames * framePeriodMs_);
    }
}

bool SessionSound::TakeProblem(std::string* reason) {
    if (!problem_.empty()) {
        *reason = problem_;
        problem_.clear();
        return true;
    }
    return recording_.TakeProblem(reason);
}

vfw::PAVISTREAM OpenSoundStream(const std::string& path) {
    if (ActivePlatform().KindOf(path) != CameraPlatform::FileKind::Plain) {
        return nullptr;
    }
    vfw::PAVIFILE file = nullptr;
    if (vfw::AVIFileOpenA(&file, path.c_str(), vfw::OF_READ, nullptr) != vfw::AVIERR_OK) {
        return nullptr;
    }
    vfw::PAVISTREAM stream = nullptr;
    if (vfw::AVIFileGetStream(file, &stream, vfw::streamtypeAUDIO, 0) != vfw::AVIERR_OK) {
        stream = nullptr;
    }
    vfw::AVIFileRelease(file);  // the stream keeps the file open
    if (stream != nullptr && vfw::AVIStreamLength(stream) <= 0) {
        vfw::AVIStreamRelease(stream);
        stream = nullptr;
    }
    return stream;
}
