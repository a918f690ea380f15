// The sound of one recording: what the sound input delivers goes through the
// sync rule (sound_sync.h) into the temporary sound file (vfw::WavWriter),
// which a killed process leaves holding the sound up to the last flush.
//
// Protocol (on the recording worker unless said otherwise):
//   1. Start(): creates the file; false, with the reason, when it cannot be.
//   2. The input calls SoundArrived / SoundFailed on its own thread: this
//      object is its sink (sound_input.h). When the input could not start,
//      the worker passes its reason to SoundFailed.
//   3. Flush() with every flush of the video: silence while the input
//      delivers nothing, then the file handed to the system.
//   4. Finish(endMs) once the input has stopped: silence up to the
//      picture's end, sound past it cut off, the file completed.
// TakeProblem() answers true once, with the first problem (the device, or
// the file: a full disk); the recording goes on, and the sound is silence
// from there on as far as the file can still take it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/sound_input.h"
#include "engine/sound_sync.h"
#include "engine/vfw/wav_writer.h"

class SoundRecording final : public SoundInputSink {
  public:
    // `path`: the temporary sound file (ANSI). The clock and its reading at
    // video position 0, and the frame period, are the picture's.
    [[nodiscard]] bool Start(const std::string& path, const SoundFormat& format,
                             SoundSync::Clock clock, std::uint32_t startMs,
                             std::uint32_t framePeriodMs, std::string* reason);

    void SoundArrived(const void* data, std::size_t bytes) override;
    void SoundFailed(const std::string& reason) override;

    void Flush();
    void Finish(std::uint32_t endMs);

    bool TakeProblem(std::string* reason);

  private:
    void WriteOut();  // under the lock

    std::mutex mutex_;
    std::optional<SoundSync> sync_;
    vfw::WavWriter file_;
    std::vector<std::uint8_t> out_;
    std::string problem_;
    bool problemTaken_ = false;
    SoundFormat format_;
    std::uint32_t startMs_ = 0;
};
