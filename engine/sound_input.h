// The system's sound input (wave input of winmm on Windows, in
// sound_input_win32.cpp): a device chosen by name, 16-bit PCM in the first
// format it takes of 44,100 Hz stereo, 48,000 Hz stereo, 44,100 Hz mono and
// 48,000 Hz mono, recorded on a thread of its own into enough queued buffers
// that a slow consumer never loses sound.
//
// Protocol: StartSoundInput() starts recording at once and hands every
// filled buffer to the sink on the input's thread, in order; a failure on
// the way (the device unplugged, or silent for seconds) goes to the sink
// once, with a reason for the user. Stop() (or destroying the input) stops
// recording, hands over what the queued buffers hold, and returns once the
// sink will not be called again. Failures are reported, never thrown.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engine/sound_format.h"

class SoundInputSink {
  public:
    // A buffer of sound in the input's format, whole blocks.
    virtual void SoundArrived(const void* data, std::size_t bytes) = 0;
    // The device failed or fell silent; `reason` is a short Russian text
    // that completes "Звук не записывается: ".
    virtual void SoundFailed(const std::string& reason) = 0;

  protected:
    ~SoundInputSink() = default;
};

class SoundInput {
  public:
    virtual ~SoundInput() = default;
    // The format the device took.
    virtual SoundFormat format() const = 0;
    // See the protocol above; a second call does nothing.
    virtual void Stop() = 0;
};

// The names of the system's input devices (UTF-8), as a user picks one.
std::vector<std::string> SoundInputDevices();

// Starts recording from the input device named `device` (UTF-8; empty: the
// system's default) into `sink`, which must outlive the input. Null, with
// *reason set (as for SoundFailed), when there is no such device, it is
// busy, takes none of the formats, or the system's wave input is missing.
std::unique_ptr<SoundInput> StartSoundInput(const std::string& device, SoundInputSink* sink,
                                            std::string* reason);
