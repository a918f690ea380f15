#include "engine/sound_recording.h"

namespace {

std::string FileProblem(vfw::HRESULT code) {
    if (code == vfw::AVIERR_BADSIZE) {
        return "звуковой файл достиг предела в 4 ГБ";
    }
    return "не удалось записать звук во временный файл (диск заполнен?)";
}

}  // namespace

bool SoundRecording::Start(const std::string& path, const SoundFormat& format,
                           SoundSync::Clock clock, std::uint32_t startMs,
                           std::uint32_t framePeriodMs, std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const vfw::HRESULT hr = file_.Create(path.c_str(), format.WaveFormat());
        hr != vfw::AVIERR_OK) {
        *reason = "не удалось создать временный звуковой файл";
        return false;
    }
    sync_.emplace(format, std::move(clock), startMs, framePeriodMs);
    format_ = format;
    startMs_ = startMs;
    return true;
}

void SoundRecording::WriteOut() {
    if (!out_.empty()) {
        // A failure sticks in the file and surfaces in TakeProblem.
        (void)file_.Append(out_.data(), out_.size());
        out_.clear();
    }
}

void SoundRecording::SoundArrived(const void* data, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sync_) {
        sync_->Accept(data, bytes, &out_);
        WriteOut();
    }
}

void SoundRecording::SoundFailed(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (problem_.empty()) {
        problem_ = reason;
    }
}

void SoundRecording::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sync_) {
        sync_->KeepUp(&out_);
        WriteOut();
        (void)file_.Flush();
    }
}

void SoundRecording::Finish(std::uint32_t endMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sync_) {
        sync_->Finish(endMs, &out_);
        WriteOut();
        // The last grab of a loaded machine can take a second: the sound
        // that arrived meanwhile lies past the picture's last slot.
        const std::uint64_t due =
            static_cast<std::uint64_t>(endMs - startMs_) * format_.samplesPerSec / 1000;
        (void)file_.Trim(due);
        (void)file_.Close();
        sync_.reset();
    }
}

bool SoundRecording::TakeProblem(std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    vfw::HRESULT code = vfw::AVIERR_OK;
    if (problem_.empty() && file_.TakeFailure(&code)) {
        problem_ = FileProblem(code);
    }
    if (problem_.empty() || problemTaken_) {
        return false;
    }
    problemTaken_ = true;
    *reason = problem_;
    return true;
}
