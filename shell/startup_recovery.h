// At start-up, the recording a killed or crashed run left in the temporary
// file is recovered before anything wipes it (engine/recovery.h does the
// copy). Call once, after the single-instance check and before the main
// form creates the camera.
#pragma once

#include <string>

namespace kelvora {

// Recovers a leftover "~vstream.avi" into the output folder of Settings.ini
// (beside the executable), else into the temporary folder, then wipes it.
// Returns the message for the user (UTF-8, naming where the recording is
// now), or an empty string when there was nothing to recover.
std::string RecoverCutOffRecording();

}  // namespace kelvora
