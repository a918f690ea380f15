// At start-up, the recording a killed or crashed run left in the temporary
// file is recovered before anything wipes it (engine/recovery.h does the
// copy). Call once, after the single-instance check and before the main
// form creates the camera.
#pragma once

#include <string>

namespace kelvora {

// Recovers a leftover "~vstream.avi" (and "~vstream (n).avi", where a camera
// recorded beside one that was not recovered yet) into the output folder of
// Settings.ini (beside the executable), else into the temporary folder, then
// wipes it. A file that cannot be read now is left for the next start.
// Returns the message for the user (UTF-8, naming where each recording is
// now, or why it could not be recovered yet), or an empty string when there
// was nothing to recover.
std::string RecoverCutOffRecording();

}  // namespace kelvora
