// AVISaveV: copies a video stream, and perhaps a PCM sound stream, into a
// new file without recompressing: empty entries stay empty, every key-frame
// flag is kept, and the sound is interleaved with the picture, a chunk of it
// before each frame. A copy that fails or is cancelled removes what it wrote.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

#include "engine/vfw/avi_riff.h"
#include "engine/vfw/avi_stream.h"
#include "engine/vfw/avi_writer.h"
#include "engine/vfw/vfw.h"

namespace vfw {

namespace {

// Super index room for a copy whose size is known. Every RIFF but the last
// was closed because the next chunk (with its index entries) did not fit, so
// it holds more than riffLimit - (largest chunk + index and list overhead).
std::uint32_t SuperIndexCapacityFor(std::uint64_t entries, std::uint64_t chunkBytes,
                                    std::uint64_t largestChunk, std::uint64_t riffLimit) {
    constexpr std::uint64_t kOverhead = 128;
    const std::uint64_t total = chunkBytes + entries * 32 + (1u << 20);
    std::uint64_t riffs = entries + 2;
    if (riffLimit > largestChunk + kOverhead) {
        riffs = std::min(riffs, total / (riffLimit - largestChunk - kOverhead) + 2);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(riffs, 0xFFFFFFF));
}

// Removes the target unless the copy completed.
class TargetGuard {
  public:
    TargetGuard(AviWriter* writer, const char* path) : writer_(writer), path_(path) {}
    TargetGuard(const TargetGuard&) = delete;
    TargetGuard& operator=(const TargetGuard&) = delete;
    ~TargetGuard() {
        if (!kept_) {
            writer_->Abandon();
            std::remove(path_);
        }
    }
    void Keep() { kept_ = true; }

  private:
    AviWriter* writer_;
    const char* path_;
    bool kept_ = false;
};

// Calls the callback once per new percentage; false when it asks to stop.
class Progress {
  public:
    explicit Progress(AVISAVECALLBACK callback) : callback_(callback) {}
    bool Report(int percent) {
        if (percent == last_) {
            return true;
        }
        last_ = percent;
        return callback_ == nullptr || callback_(percent) == 0;
    }

  private:
    AVISAVECALLBACK callback_;
    int last_ = -1;
};

// A stream to copy: its description, format and extent.
struct Source {
    AviStream* stream = nullptr;
    AVISTREAMINFOA info{};
    std::vector<std::uint8_t> format;
    LONG start = 0;
    LONG length = 0;
};

HRESULT OpenSource(AviStream* stream, Source* source) {
    source->stream = stream;
    if (const HRESULT hr = stream->Info(&source->info); hr != AVIERR_OK) {
        return hr;
    }
    source->start = static_cast<LONG>(source->info.dwStart);
    source->length = static_cast<LONG>(source->info.dwLength);
    if (source->start < 0 || source->length < 0 || source->info.dwScale == 0 ||
        source->info.dwRate == 0) {
        return AVIERR_BADPARAM;
    }
    LONG formatSize = 0;
    if (const HRESULT hr = stream->ReadFormat(source->start, nullptr, &formatSize);
        hr != AVIERR_OK) {
        return hr;
    }
    if (formatSize <= 0) {
        return AVIERR_BADFORMAT;
    }
    source->format.resize(static_cast<std::size_t>(formatSize));
    return stream->ReadFormat(source->start, source->format.data(), &formatSize);
}

// Where the sound's chunks end: the sound of each video position goes into
// the file just before that position's frame; sound that outlasts the video
// follows in chunks of one frame's length.
class SoundPlan {
  public:
    SoundPlan(const Source& video, const Source& sound)
        : videoStart_(video.start), soundLength_(sound.length) {
        // Blocks per video position.
        perPosition_ = std::min(static_cast<double>(video.info.dwScale) * sound.info.dwRate /
                                    (static_cast<double>(video.info.dwRate) * sound.info.dwScale),
                                16777216.0);
        tailChunk_ = std::max<LONG>(1, static_cast<LONG>(std::ceil(perPosition_)));
    }
    // Blocks due once video entry `entry` is in the file.
    LONG DueAfter(LONG entry) const {
        const double due =
            std::floor((static_cast<double>(videoStart_) + entry + 1) * perPosition_ + 0.5);
        return due >= soundLength_ ? soundLength_ : static_cast<LONG>(due);
    }
    LONG tailChunk() const { return tailChunk_; }
    LONG length() const { return soundLength_; }

  private:
    LONG videoStart_;
    LONG soundLength_;
    double perPosition_ = 0;
    LONG tailChunk_ = 1;
};

class Copier {
  public:
    Copier(const char* fileName, AVISAVECALLBACK callback, const Source& video, const Source* sound)
        : fileName_(fileName), progress_(callback), video_(video), sound_(sound) {}

    HRESULT Run() {
        if (const HRESULT hr = Measure(); hr != AVIERR_OK) {
            return hr;
        }
        AviWriter writer(limits_);
        if (const HRESULT hr = writer.Create(fileName_); hr != AVIERR_OK) {
            return hr;
        }
        TargetGuard guard(&writer, fileName_);
        writer_ = &writer;
        if (const HRESULT hr = Declare(); hr != AVIERR_OK) {
            return hr;
        }
        if (!progress_.Report(0)) {
            return AVIERR_USERABORT;
        }
        for (LONG i = 0; i < video_.length; ++i) {
            if (sound_ != nullptr) {
                if (const HRESULT hr = CopySound(plan_->DueAfter(i)); hr != AVIERR_OK) {
                    return hr;
                }
            }
            if (const HRESULT hr = CopyFrame(video_.start + i); hr != AVIERR_OK) {
                return hr;
            }
            if (!Step()) {
                return AVIERR_USERABORT;
            }
        }
        while (sound_ != nullptr && soundDone_ < plan_->length()) {
            const LONG end =
                soundDone_ + std::min(plan_->tailChunk(), plan_->length() - soundDone_);
            if (const HRESULT hr = CopySound(end); hr != AVIERR_OK) {
                return hr;
            }
            if (!Step()) {
                return AVIERR_USERABORT;
            }
        }
        if (!progress_.Report(100)) {
            return AVIERR_USERABORT;
        }
        // A copy is made to replace its source, which the caller wipes next:
        // the copy is on the disk first.
        if (const HRESULT hr = writer.Finish(true); hr != AVIERR_OK) {
            return hr;
        }
        guard.Keep();
        return AVIERR_OK;
    }

  private:
    // Sizes first: the largest chunk sizes the buffers, all of them the
    // index room.
    HRESULT Measure() {
        std::uint64_t chunks = static_cast<std::uint64_t>(video_.length);
        std::uint64_t chunkBytes = 0;
        std::uint64_t largest = 0;
        for (LONG i = 0; i < video_.length; ++i) {
            LONG bytes = 0;
            if (const HRESULT hr =
                    video_.stream->Read(video_.start + i, 1, nullptr, 0, &bytes, nullptr);
                hr != AVIERR_OK) {
                return hr;
            }
            if (bytes < 0 || static_cast<std::uint64_t>(bytes) > riff::kMaxSampleBytes) {
                return AVIERR_BADFORMAT;  // damage: no frame is that large
            }
            chunkBytes += 8 + static_cast<std::uint64_t>(bytes) + (bytes & 1);
            largestFrame_ = std::max(largestFrame_, bytes);
        }
        largest = static_cast<std::uint64_t>(largestFrame_);
        steps_ = video_.length;
        if (sound_ != nullptr) {
            plan_.emplace(video_, *sound_);
            LONG done = 0;
            const auto add = [&](LONG end) {
                largestSound_ = std::max(largestSound_, end - done);
                chunkBytes +=
                    8 + static_cast<std::uint64_t>(end - done) * sound_->info.dwSampleSize;
                ++chunks;
                done = end;
            };
            for (LONG i = 0; i < video_.length; ++i) {
                if (const LONG end = plan_->DueAfter(i); end > done) {
                    add(end);
                }
            }
            while (done < plan_->length()) {
                add(done + std::min(plan_->tailChunk(), plan_->length() - done));
                ++steps_;
            }
            const std::uint64_t soundBytes =
                static_cast<std::uint64_t>(largestSound_) * sound_->info.dwSampleSize;
            if (soundBytes > 0x7FFFFFFF) {
                return AVIERR_BADSIZE;
            }
            largest = std::max(largest, soundBytes);
        }
        limits_ = DefaultAviWriterLimits();
        limits_.superIndexCapacity =
            SuperIndexCapacityFor(chunks, chunkBytes, 8 + largest, limits_.riffLimit);
        return AVIERR_OK;
    }

    HRESULT Declare() {
        int index = 0;
        if (const HRESULT hr = writer_->AddStream(video_.info, &index); hr != AVIERR_OK) {
            return hr;
        }
        if (const HRESULT hr = writer_->SetFormat(index, 0, video_.format.data(),
                                                  static_cast<LONG>(video_.format.size()));
            hr != AVIERR_OK) {
            return hr;
        }
        frame_.resize(static_cast<std::size_t>(largestFrame_) + 1);
        if (sound_ == nullptr) {
            return AVIERR_OK;
        }
        AVISTREAMINFOA info = sound_->info;
        info.dwStart = 0;  // the sound starts with the picture
        if (const HRESULT hr = writer_->AddStream(info, &soundIndex_); hr != AVIERR_OK) {
            return hr;
        }
        if (const HRESULT hr = writer_->SetFormat(soundIndex_, 0, sound_->format.data(),
                                                  static_cast<LONG>(sound_->format.size()));
            hr != AVIERR_OK) {
            return hr;
        }
        samples_.resize(static_cast<std::size_t>(largestSound_) * sound_->info.dwSampleSize + 1);
        return AVIERR_OK;
    }

    HRESULT CopyFrame(LONG pos) {
        LONG bytes = 0;
        if (const HRESULT hr =
                video_.stream->Read(pos, 1, frame_.data(), largestFrame_, &bytes, nullptr);
            hr != AVIERR_OK) {
            return hr;
        }
        const DWORD flags = video_.stream->SampleFlags(pos) & AVIIF_KEYFRAME;
        return writer_->Write(0, pos, 1, frame_.data(), bytes, flags);
    }

    // Copies the sound's blocks up to `end` in one chunk.
    HRESULT CopySound(LONG end) {
        if (end <= soundDone_) {
            return AVIERR_OK;
        }
        const LONG count = end - soundDone_;
        const auto block = static_cast<LONG>(sound_->info.dwSampleSize);
        for (LONG got = 0; got < count;) {
            LONG bytes = 0;
            LONG samples = 0;
            if (const HRESULT hr = sound_->stream->Read(sound_->start + soundDone_ + got,
                                                        count - got, samples_.data() + got * block,
                                                        (count - got) * block, &bytes, &samples);
                hr != AVIERR_OK) {
                return hr;
            }
            if (samples <= 0 || bytes != samples * block) {
                return AVIERR_FILEREAD;
            }
            got += samples;
        }
        if (const HRESULT hr = writer_->Write(soundIndex_, -1, count, samples_.data(),
                                              count * block, AVIIF_KEYFRAME);
            hr != AVIERR_OK) {
            return hr;
        }
        soundDone_ = end;
        return AVIERR_OK;
    }

    bool Step() {
        ++done_;
        return progress_.Report(static_cast<int>(done_ * 100 / std::max<std::int64_t>(steps_, 1)));
    }

    const char* fileName_;
    Progress progress_;
    const Source& video_;
    const Source* sound_;
    std::optional<SoundPlan> plan_;
    AviWriterLimits limits_{};
    AviWriter* writer_ = nullptr;
    int soundIndex_ = 1;
    LONG largestFrame_ = 0;
    LONG largestSound_ = 0;  // blocks
    LONG soundDone_ = 0;
    std::int64_t steps_ = 0;
    std::int64_t done_ = 0;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> samples_;
};

}  // namespace

HRESULT AVISaveV(const char* fileName, const void* handler, AVISAVECALLBACK callback,
                 int streamCount, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    if (fileName == nullptr || fileName[0] == '\0' || handler != nullptr || streamCount < 1 ||
        streams == nullptr) {
        return AVIERR_BADPARAM;
    }
    for (int i = 0; i < streamCount; ++i) {
        if (streams[i] == nullptr) {
            return AVIERR_BADHANDLE;
        }
    }
    // A video stream and perhaps a sound stream, copied as they are:
    // recompressing is not offered.
    if (streamCount > 2) {
        return AVIERR_UNSUPPORTED;
    }
    for (int i = 0; options != nullptr && i < streamCount; ++i) {
        if (options[i] != nullptr) {
            return AVIERR_UNSUPPORTED;
        }
    }
    try {
        Source video;
        Source sound;
        bool haveSound = false;
        for (int i = 0; i < streamCount; ++i) {
            Source s;
            if (const HRESULT hr = OpenSource(streams[i], &s); hr != AVIERR_OK) {
                return hr;
            }
            if (s.info.fccType == streamtypeVIDEO && video.stream == nullptr) {
                video = std::move(s);
            } else if (s.info.fccType == streamtypeAUDIO && s.info.dwSampleSize > 0 && !haveSound) {
                sound = std::move(s);
                haveSound = true;
            } else {
                return AVIERR_UNSUPPORTED;
            }
        }
        if (video.stream == nullptr) {
            return AVIERR_UNSUPPORTED;
        }
        Copier copier(fileName, callback, video, haveSound ? &sound : nullptr);
        return copier.Run();
    } catch (const std::exception&) {
        // bad_alloc, or length_error for a size no vector can hold.
        return AVIERR_MEMORY;
    }
}

}  // namespace vfw
