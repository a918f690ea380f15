// Sound for the end-to-end cases: the sound keys of a Kelvora Settings.ini,
// a tone written as a WAV file and played into the private PulseAudio of
// the test script (whose null sink's monitor is the default input), and
// the lines a case adds to its note for the host check.
#pragma once

#include <windows.h>

#include <string>

#include "win32/handles.h"

namespace kelvora::test {

// True when the test script started its private PulseAudio.
bool SoundServerRunning();

// Writes RecordAudio and AudioDevice into the [Options] of `ini`.
bool WriteSoundKeys(const std::string& ini, bool record, const std::string& device);

// A 16-bit 44.1 kHz stereo WAV: `seconds` of a 1 kHz tone, left at half of
// full scale, right inverted at a quarter.
bool WriteToneWav(const std::string& path, int seconds);

// Plays a WAV file with paplay (a Linux program, through Wine's start /unix;
// `path` as the host names it). Does not wait for the end.
bool PlayWithPaplay(const std::string& path);

// Plays a click (40 ms of a loud 1 kHz tone after half a second of
// silence) through this process's wave output, which Wine sends to the same
// null sink, and shows a white window over `area` the moment the output's
// position reaches the click. The window stays until the owner goes; null
// when the output could not play.
win32::Window PlayClickAndFlash(const RECT& area);

// Appends "sound <what>" to the note of `tag` (tone, silence, any).
void NoteSound(const std::string& tag, const std::string& what);

}  // namespace kelvora::test
