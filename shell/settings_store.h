// The settings store: "Settings.ini" beside the executable and the autorun
// value in the registry.
//
// Protocol: the controller owns one TSettings and one TScreenCamera and calls
// LoadSettings before every command that needs a setting; the options
// dialog's save calls SaveSettings and, only when that succeeded, SetAutorun,
// and shows the result's Message when it failed (the dialog then stays
// open). Everything runs on the UI thread.
//
// Paths are UTF-16 (the program's folder may be named outside the ANSI code
// page) and the file goes through the wide profile functions; the values are
// ANSI strings, as the file has always held them (no byte-order mark, so
// files written by either call family read the same).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "shell/settings.h"

class TScreenCamera;

namespace kelvora {

// The folder of the running executable, without a trailing separator.
std::wstring AppDirectory();
// The full path of the running executable.
std::wstring ExecutablePath();

// One key of section "Options" (ANSI text); nullopt when the key is missing.
std::optional<std::string> ReadSetting(const std::wstring& iniPath, const char* key);
// Writes one key of section "Options"; false when the file refuses.
[[nodiscard]] bool WriteSetting(const std::wstring& iniPath, const char* key,
                                const std::string& value);

// Refreshes `settings` and the camera's FCodecIndex and FCompressionQuality
// from the file at `iniPath` (a missing file or key keeps the current values),
// and the camera's FRecordAudio and FAudioDevice (shell/sound_settings.h).
void LoadSettings(const std::wstring& iniPath, TSettings& settings, TScreenCamera& camera);

struct SaveResult {
    bool Ok = true;
    // "Unable to write to <path>" when a key could not be written; the keys
    // before it are in the file, those after it were not attempted.
    std::wstring Message;
};

// Writes the five keys of `settings` to `iniPath` in their fixed order,
// stopping at the first failure.
[[nodiscard]] SaveResult SaveSettings(const std::wstring& iniPath, const TSettings& settings);

}  // namespace kelvora
