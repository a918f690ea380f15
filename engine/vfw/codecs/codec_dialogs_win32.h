// The Win32 about boxes and configuration dialogs of the built-in compressors.
#pragma once

namespace vfw {

// Installs the dialogs for ICM_ABOUT and ICM_CONFIGURE of the built-in
// compressors (engine/vfw/codecs/codec.h). Call once at start-up.
void InstallCodecDialogs();

}  // namespace vfw
