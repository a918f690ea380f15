// The settings store: "Settings.ini" beside the executable and the autorun
// value in the registry.
//
// Protocol: the controller owns one TSettings and one TScreenCamera and calls
// LoadSettings before every command that needs a setting; the options
// dialog's save calls SaveSettings and, only when that succeeded, SetAutorun,
// and shows the result's Message when it failed (the dialog then stays
// open). Everything runs on the UI thread. Paths are in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

#include "shell/Settings.h"

class TScreenCamera;

namespace kelvora {

// The folder of the running executable, without a trailing separator.
std::string AppDirectory();
// The full path of the running executable.
std::string ExecutablePath();

// Refreshes `settings` and the camera's FCodecIndex and FCompressionQuality
// from the file at `iniPath` (a missing file or key keeps the current values).
void LoadSettings(const std::string& iniPath, TSettings& settings, TScreenCamera& camera);

struct SaveResult {
    bool Ok = true;
    // "Unable to write to <path>" when a key could not be written; the keys
    // before it are in the file, those after it were not attempted.
    std::string Message;
};

// Writes the five keys of `settings` to `iniPath` in their fixed order
// through WritePrivateProfileStringA, stopping at the first failure.
[[nodiscard]] SaveResult SaveSettings(const std::string& iniPath, const TSettings& settings);

}  // namespace kelvora
