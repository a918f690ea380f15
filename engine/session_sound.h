// The sound of one recording session, as the recording loop sees it: the
// input device opened before the loop (so that opening it, which can take a
// moment, does not hold up the first frame), the temporary sound file begun
// at the first video slot, flushed with the video and finished at the
// picture's end. Whatever fails on the way (no device, a busy or unplugged
// one, a full disk) costs the picture nothing: the sound becomes silence
// and the problem is handed out once through TakeProblem.
//
// Protocol (recording worker): Open(), Begin(startMs) at the first slot,
// Picture(position) for every written frame, Flush() with every flush of
// the video, Finish() once (the destructor finishes what was begun).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/sound_recording.h"
#include "engine/vfw/vfw.h"

class CameraPlatform;

class SessionSound {
  public:
    // `path`: the temporary sound file; `device`: the input's name (UTF-8,
    // empty for the default); the frame period in milliseconds.
    SessionSound(CameraPlatform& platform, std::string path, std::string device,
                 std::uint32_t framePeriodMs);
    ~SessionSound();
    SessionSound(const SessionSound&) = delete;
    SessionSound& operator=(const SessionSound&) = delete;

    void Open();
    void Begin(std::uint32_t startMs);
    void Picture(std::int32_t position) { lastPosition_ = position; }
    void Flush();
    void Finish();

    // True when the sound file was made: it belongs to the recording.
    bool HasFile() const { return begun_; }
    bool TakeProblem(std::string* reason);

  private:
    CameraPlatform& platform_;
    const std::string path_;
    const std::string device_;
    const std::uint32_t framePeriodMs_;
    SoundRecording recording_;
    std::unique_ptr<SoundInput> input_;
    SoundFormat format_;
    std::string problem_;  // found before the file was begun
    std::uint32_t startMs_ = 0;
    std::int32_t lastPosition_ = -1;
    bool begun_ = false;
    bool finished_ = false;
};

// The sound stream of a sound file (a WAV cut off by a crash reads to its
// last whole block); null when there is none or it holds no sound. Only a
// plain file is read: a link may lead to any file of the user. The caller
// releases the stream.
vfw::PAVISTREAM OpenSoundStream(const std::string& path);
